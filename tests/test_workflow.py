import json
import os
import queue
import threading

import pytest

from tessel import cli
from tessel.export import ExportOptions, export_many, export_psd
from tessel.run import watch
from tessel.run.wholefile import is_whole
from tessel.testing import Doc, Group, Pixel, Text, write_psd


def design(path, colour=(200, 40, 40, 255), extra=()):
    path.parent.mkdir(parents=True, exist_ok=True)
    write_psd(Doc(64, 48, [Pixel("bg", size=(64, 48), color=colour), Group("g", [Pixel("icon", size=(8, 8))]),
                           Text("title", "Hi", left=4, top=4), *extra]), path)
    return path


def stamps(folder):
    """Every file below ``folder`` with its modification time and inode."""
    return {os.path.relpath(os.path.join(root, name), folder): (os.stat(os.path.join(root, name)).st_mtime_ns,
                                                               os.stat(os.path.join(root, name)).st_ino)
            for root, _, names in os.walk(folder) for name in names}


@pytest.fixture
def tree(tmp_path):
    ui = tmp_path / "ui"
    design(ui / "shop" / "main.psd")
    design(ui / "bag" / "main.psd", colour=(10, 90, 200, 255))
    design(ui / "top.psd")
    # Fails while the layer is read: the note naming the layer must survive a worker process.
    no_editor = Text("Label_title", "x", edit=lambda engine: engine["EngineDict"].pop("Editor"))
    write_psd(Doc(64, 48, [Group("g", [no_editor])]), ui / "bag" / "broken.psd")
    (ui / "notes.txt").write_text("not a document")
    return ui


def export(tmp_path, *args):
    report = tmp_path / "report.json"
    status = cli.main(["export", *map(str, args), "-o", str(tmp_path / "out"), "--report", str(report), "-q"])
    return status, json.loads(report.read_text())


def statuses(report):
    return {os.path.basename(os.path.dirname(d["psd"])) + "/" + os.path.basename(d["psd"]): d["status"]
            for d in report["documents"]}


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_folder_exports_at_relative_paths_and_reports_the_failure(tmp_path, tree, jobs, capsys):
    status, report = export(tmp_path, tree, "-j", jobs)
    out = tmp_path / "out"
    assert status == 1 and report["exit_status"] == 1 and report["schema"] == 1
    assert statuses(report) == {"bag/broken.psd": "failed", "bag/main.psd": "exported", "shop/main.psd": "exported",
                                "ui/top.psd": "exported"}
    for prefab in ("shop/main.prefab", "bag/main.prefab", "top.prefab"):
        assert (out / prefab).is_file() and (out / prefab.replace(".prefab", "")).is_dir()
    failed = report["documents"][0]
    assert "layer 'Label_title'" in failed["errors"][0]["message"] and failed["written"] == []
    assert set(report["documents"][1]["written"]) == {str(p) for p in (out / "bag").rglob("*") if p.is_file()}
    assert "broken.psd" in capsys.readouterr().err


def test_second_run_writes_nothing_and_a_changed_document_goes_alone(tmp_path, tree):
    export(tmp_path, tree)
    before = stamps(tmp_path / "out")
    status, report = export(tmp_path, tree)
    assert status == 1 and stamps(tmp_path / "out") == before
    assert report["counts"] == {"exported": 0, "unchanged": 3, "failed": 1}
    assert all(not d["written"] for d in report["documents"])

    design(tree / "shop" / "main.psd", colour=(0, 200, 0, 255))
    _, report = export(tmp_path, tree)
    assert statuses(report)["shop/main.psd"] == "exported" and report["counts"]["unchanged"] == 2
    changed = {name for name, stamp in stamps(tmp_path / "out").items() if before.get(name) != stamp}
    assert changed and all(name.startswith("shop/") for name in changed)
    assert os.path.join("shop", "main", "main_bg.png") in changed


def edit_png(out, psd):
    with open(out / "screen" / "screen_bg.png", "ab") as f:
        f.write(b"x")


@pytest.mark.parametrize("change, options, expected", [
    (None, {}, "unchanged"),
    (lambda out, psd: os.utime(psd), {}, "unchanged"),  # a touched file with the same bytes
    (lambda out, psd: design(psd, colour=(1, 2, 3, 255)), {}, "exported"),
    (lambda out, psd: (out / "screen" / "screen_bg.png.meta").unlink(), {}, "exported"),
    (edit_png, {}, "exported"),
    (None, {"engine": "2.4"}, "exported"),
    (None, {"png_compression": 1}, "exported"),
    (None, {"jobs": 3}, "unchanged"),  # threads do not change the files
    (None, {"image_cache": False}, "exported"),
], ids=["nothing", "touched", "psd", "meta-deleted", "png-edited", "engine", "compression", "threads", "no-cache"])
def test_what_makes_a_document_export_again(tmp_path, change, options, expected):
    psd, out = design(tmp_path / "screen.psd"), tmp_path / "out"
    first = export_psd(psd, out, ExportOptions(jobs=1))
    if change:
        change(out, psd)
    again = export_psd(psd, out, ExportOptions(**dict({"jobs": 1}, **options)))
    assert again.status == expected
    if expected == "unchanged":
        assert (again.nodes, again.images, sorted(again.files)) == (first.nodes, first.images, sorted(first.files))


def test_documents_that_would_write_one_prefab_are_refused_before_any_writing(tmp_path):
    design(tmp_path / "a" / "x.psd")
    design(tmp_path / "b" / "x.psd")
    (tmp_path / "nothing").mkdir()
    batch = export_many([tmp_path / "a", tmp_path / "b", tmp_path / "nothing"], tmp_path / "out", glob="*.psd")
    results = list(batch)
    assert [type(r).__name__ for _, r in results] == ["ExportResult", "DocumentError", "DocumentError"]
    assert "into the same folder as" in str(results[1][1]) and "no .psd document" in str(results[2][1])
    assert batch.report()["counts"] == {"exported": 1, "unchanged": 0, "failed": 2}


@pytest.mark.parametrize("cut", [0, 10, 26, 0.5, -1])
def test_a_document_cut_short_is_not_whole(tmp_path, cut):
    data = design(tmp_path / "a.psd").read_bytes()
    assert is_whole(tmp_path / "a.psd")
    (tmp_path / "cut.psd").write_bytes(data[:int(len(data) * cut) if isinstance(cut, float) else cut])
    assert not is_whole(tmp_path / "cut.psd")


@pytest.mark.parametrize("library", [False, True], ids=["polling", "watchfiles"])
def test_watch_waits_for_the_whole_file_and_exports_each_save(tmp_path, library):
    if library:
        pytest.importorskip("watchfiles")
    ui, out = tmp_path / "ui", tmp_path / "out"
    psd = design(ui / "screen.psd")
    changed = design(tmp_path / "changed.psd", extra=[Pixel("new", size=(4, 4))]).read_bytes()
    stop, events = threading.Event(), queue.Queue()

    def run():
        try:
            for event in watch.watch([ui], out, ExportOptions(jobs=1), stop=stop, settle=0.1, poll=0.05,
                                     whole_within=2.0, library=library):
                events.put(event)
        except BaseException as e:  # pragma: no cover - shown by the assertion below
            events.put(("crash", e))

    def next_event():
        path, outcome = events.get(timeout=30)
        assert path != "crash", outcome
        return os.path.basename(path), getattr(outcome, "status", outcome)

    thread = threading.Thread(target=run)
    thread.start()
    try:
        assert next_event() == ("screen.psd", "exported")
        stop.wait(0.3)  # the watcher starts watching after the first export
        with open(psd, "wb") as f:  # saved in two steps, the second well after the first
            f.write(changed[: len(changed) // 2])
            f.flush()
            stop.wait(0.4)
            f.write(changed[len(changed) // 2:])
        assert next_event() == ("screen.psd", "exported")
        assert (out / "screen" / "screen_new.png").is_file()
        psd.write_bytes(b"not a document")  # never whole: exported once it stays so, and fails
        _, outcome = events.get(timeout=30)
        assert isinstance(outcome, Exception) and (out / "screen" / "screen_new.png").is_file()
        psd.unlink()
        assert next_event() == ("screen.psd", "removed") and (out / "screen.prefab").is_file()
    finally:
        stop.set()
        thread.join(timeout=30)
    assert events.empty() and not thread.is_alive()
