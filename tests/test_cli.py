import errno
import io
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from PIL import Image

from tessel import cli, nodeweave
from tessel.testing import Doc, Group, Pixel, Text, gradient, write_psd

PYTHON_DIR = Path(cli.__file__).resolve().parents[1]
SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
SHARED_FILES = sorted(SHARED_PSD.glob("*.psd")) if SHARED_PSD.is_dir() else []


def design(*extra):
    return Doc(320, 480, [
        Pixel("bg", image=gradient((320, 480), (10, 20, 30), (200, 100, 50))),
        Group("Button_ok", [
            Pixel("frame_4,6,4,6", size=(60, 30), color=(200, 0, 0, 255), left=20, top=40),
            Text("Label_caption", "开始", left=30, top=45, box=(40, 20), size=18.0, justification=2),
            Group("inner", [Pixel("icon", size=(8, 8), left=25, top=42)]),
        ]),
        Pixel("hidden", size=(5, 5), visible=False),
        *extra,
    ])


@pytest.fixture
def psd_file(tmp_path):
    path = tmp_path / "screen.psd"
    write_psd(design(), path)
    return path


def run(capsys, *argv):
    status = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return status, out, err


def files(folder):
    return sorted(p.relative_to(folder).as_posix() for p in Path(folder).rglob("*") if p.is_file())


def snapshot(folder):
    """Every file's content and every folder (as None) below ``folder``."""
    return {p: p.read_bytes() if p.is_file() else None for p in Path(folder).rglob("*")}


def load(path):
    return json.loads(Path(path).read_text(encoding="utf-8"))


EXPECTED = [
    "screen.prefab", "screen.prefab.meta", "screen/.tessel-export.json", "screen/.tessel-images.json",
    "screen/screen_bg.png", "screen/screen_bg.png.meta",
    "screen/screen_ok_frame.png", "screen/screen_ok_frame.png.meta",
    "screen/screen_ok_inner_icon.png", "screen/screen_ok_inner_icon.png.meta",
]


@pytest.mark.parametrize("jobs", [1, 4], ids=["serial", "threads"])
def test_export_writes_prefab_images_and_metas(capsys, tmp_path, psd_file, jobs):
    out = tmp_path / "out"
    status, stdout, err = run(capsys, "export", psd_file, "-o", out, "-j", jobs)
    assert (status, err) == (0, "")
    assert files(out) == EXPECTED
    assert stdout == f"wrote {out / 'screen.prefab'} (7 nodes, 3 images)\n"

    prefab = load(out / "screen.prefab")
    assert [o["__type__"] for o in prefab[:2]] == ["cc.Prefab", "cc.Node"]
    assert prefab[1]["_name"] == "screen"
    asset = load(out / "screen.prefab.meta")["uuid"]
    infos = [o for o in prefab if o["__type__"] == "cc.PrefabInfo"]
    assert len(infos) == 7 and all(i["asset"] == {"__uuid__": asset} for i in infos)
    frames = {o["_spriteFrame"]["__uuid__"] for o in prefab if o["__type__"] == "cc.Sprite"}
    metas = [load(out / "screen" / f"{n}.png.meta") for n in ("screen_bg", "screen_ok_frame", "screen_ok_inner_icon")]
    assert frames == {next(iter(m["subMetas"].values()))["uuid"] for m in metas}
    with Image.open(out / "screen" / "screen_bg.png") as png:
        assert (png.format, png.size) == ("PNG", (320, 480))
    with Image.open(out / "screen" / "screen_ok_frame.png") as png:
        assert png.size == (6 + 1 + 6, 4 + 1 + 4)  # the nine slices, not the 60x30 layer


def test_reexport_keeps_every_uuid_and_file_id(capsys, tmp_path, psd_file):
    out = tmp_path / "out"

    def identities():
        prefab = load(out / "screen.prefab")
        metas = {name: load(out / name) for name in EXPECTED if name.endswith(".meta")}
        uuids = {name: (m["uuid"], [s["uuid"] for s in m["subMetas"].values()]) for name, m in metas.items()}
        frames = [o["_spriteFrame"] for o in prefab if o["__type__"] == "cc.Sprite"]
        file_ids = {o["fileId"] for o in prefab if o["__type__"] == "cc.PrefabInfo"}
        return uuids, frames, file_ids

    assert run(capsys, "export", psd_file, "-o", out)[0] == 0
    first = identities()
    nodeweave.uuidDict.clear()  # only the meta files on disk may carry the identities over
    # Without the cache the unchanged document is exported again rather than skipped.
    assert run(capsys, "export", psd_file, "-o", out, "--no-image-cache")[0] == 0
    assert identities() == first


def error_line(err, path):
    lines = err.splitlines()
    assert len(lines) == 1, err
    assert lines[0].startswith(f"tessel: error: {path}: "), err
    assert "Traceback" not in err
    return lines[0]


def spoiled(data):
    def prepare(tmp_path, psd_file, monkeypatch):
        psd_file.write_bytes(data(psd_file.read_bytes()))
        return psd_file, [], ""
    return prepare


def missing(tmp_path, psd_file, monkeypatch):
    psd_file.unlink()
    return psd_file, [], "No such file"


def broken_text(tmp_path, psd_file, monkeypatch):
    def drop_editor(engine):
        del engine["EngineDict"]["Editor"]

    write_psd(design(Group("g", [Text("Label_title", "x", edit=drop_editor)])), psd_file)
    return psd_file, [], "'Label_title'"


def failing_image(jobs, again=False):
    # One image fails to save (a full disk) while other images are under way.
    def prepare(tmp_path, psd_file, monkeypatch):
        from tessel import infos

        write_psd(design(Group("x", [Pixel("doomed", size=(4, 4))])), psd_file)
        flags = ["-j", str(jobs)]
        if again:
            # Into the image folder of an earlier export, with every image saved anew: the new images are staged.
            assert cli.main(["export", str(psd_file), "-o", str(tmp_path / "out"), "-q"]) == 0
            flags.append("--no-image-cache")
        save = infos.YLayer.save

        def full_disk(layer, path=None):
            if layer.name == "doomed":
                raise OSError(errno.ENOSPC, "No space left on device")
            return save(layer, path)

        monkeypatch.setattr(infos.YLayer, "save", full_disk)
        return psd_file, flags, "[layer doomed]"
    return prepare


def damaged_meta(meta, content):
    def prepare(tmp_path, psd_file, monkeypatch):
        assert cli.main(["export", str(psd_file), "-o", str(tmp_path / "out"), "-q"]) == 0
        (tmp_path / "out" / meta).write_text(content, encoding="utf-8")
        return psd_file, [], meta
    return prepare


def escaping_name(tmp_path, psd_file, monkeypatch):
    # Should the name sanitiser ever let separators through, the path check still holds.
    from tessel import filemanager

    monkeypatch.setattr(filemanager, "pinyin", lambda name: name)
    write_psd(design(Pixel("../../../../evil", size=(4, 4))), psd_file)
    return psd_file, [], "outside the output folder"


@pytest.mark.parametrize("prepare", [
    missing,
    spoiled(lambda data: b""),
    spoiled(lambda data: os.urandom(4096)),
    spoiled(lambda data: b"8BPS" + os.urandom(4096)),
    spoiled(lambda data: data[: len(data) // 3]),
    broken_text,
    failing_image(1),
    failing_image(3),
    failing_image(1, again=True),
    damaged_meta("screen.prefab.meta", "{not json"),
    damaged_meta("screen.prefab.meta", '{"ver": "1.0.1"}'),
    damaged_meta("screen/screen_bg.png.meta", "[]"),
    damaged_meta("screen/screen_bg.png.meta", '{"uuid": "u", "subMetas": {}}'),
    escaping_name,
], ids=["missing", "empty", "garbage", "garbage-after-signature", "truncated", "broken-text-layer",
        "image-fails-serial", "image-fails-threads", "image-fails-on-reexport",
        "prefab-meta-not-json", "prefab-meta-no-uuid",
        "sprite-meta-not-object", "sprite-meta-no-frame", "escaping-name"])
def test_refused_document_leaves_every_file_as_it_was(monkeypatch, capsys, tmp_path, psd_file, prepare):
    path, flags, expected = prepare(tmp_path, psd_file, monkeypatch)
    (tmp_path / "out").mkdir(exist_ok=True)
    before = snapshot(tmp_path)
    capsys.readouterr()
    status, stdout, err = run(capsys, "export", path, "-o", tmp_path / "out", *flags)
    assert (status, stdout) == (1, "")
    assert expected in error_line(err, path)
    assert snapshot(tmp_path) == before


def test_batch_goes_on_after_a_bad_document(capsys, tmp_path, psd_file):
    bad = tmp_path / "bad.psd"
    bad.write_bytes(b"not a psd")
    same_name = tmp_path / "again" / "screen.psd"  # would overwrite the first screen.psd's files
    same_name.parent.mkdir()
    write_psd(Doc(10, 10, [Pixel("other", size=(2, 2))]), same_name)
    out = tmp_path / "out"
    status, stdout, err = run(capsys, "export", bad, psd_file, same_name, "-o", out, "-q")
    assert (status, stdout) == (1, "")
    assert [line.split(": ")[2] for line in err.splitlines()] == [str(bad), str(same_name)]
    assert files(out) == EXPECTED


@pytest.mark.parametrize("name", ["../../evil", "/abs", "a\\b", "..", ".", "C:\\x", "a/../../b"])
def test_layer_names_cannot_leave_the_output_folder(capsys, tmp_path, name):
    path = tmp_path / "in" / "doc.psd"
    path.parent.mkdir()
    write_psd(Doc(64, 64, [Pixel(name, size=(4, 4)), Group(name, [Pixel(name, size=(2, 2))])]), path)
    out = tmp_path / "deep" / "out"
    status, _, err = run(capsys, "export", path, "-o", out)
    assert (status, err) == (0, "")
    assert files(tmp_path) == sorted(["in/doc.psd"] + [f"deep/out/{f}" for f in files(out)])
    pngs = [f for f in files(out) if f.endswith(".png")]
    assert len(pngs) == 2 and all(f.startswith("doc/") and f.count("/") == 1 for f in pngs)


class Terminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize("flags, tty, bar, logs", [
    ([], False, False, False),
    ([], True, True, False),
    (["-q"], True, False, False),
    (["-v"], False, False, True),
], ids=["pipe", "terminal", "quiet-terminal", "verbose"])
def test_progress_and_log_lines_on_stderr(monkeypatch, capsys, tmp_path, psd_file, flags, tty, bar, logs):
    if tty:
        monkeypatch.setattr(sys, "stderr", Terminal())
    status = cli.main(["export", str(psd_file), "-o", str(tmp_path / "out"), *flags])
    err = sys.stderr.getvalue() if tty else capsys.readouterr().err
    assert status == 0
    assert ("3/3" in err) == bar
    assert ("保存图片到" in err and "保存meta文件" in err) == logs


def test_tree_prints_the_dump_and_the_json(capsys, psd_file):
    status, out, err = run(capsys, "tree", psd_file)
    assert (status, err) == (0, "")
    assert out.splitlines() == [
        "name:screen, size:320*480, x=0,y=0",
        "    name:bg, size:320*480, x=0,y=0",
        "    name:Button_ok, size:60*30, x=20,y=40",
        "        name:frame_4,6,4,6, size:60*30, x=20,y=40",
        "        name:Label_caption, size:40*20, x=50,y=45",  # x: the centred text's origin
        "        name:inner, size:8*8, x=25,y=42",
        "            name:icon, size:8*8, x=25,y=42",
    ]
    status, out, err = run(capsys, "tree", "--json", psd_file)
    tree = json.loads(out)
    assert (status, err, tree["name"], tree["file"]) == (0, "", "screen", "screen.psd")
    assert [c["name"] for c in tree["children"]] == ["bg", "Button_ok"]
    assert out.isascii()


def test_python_dash_m_runs_the_command(tmp_path, psd_file):
    out = tmp_path / "out"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [str(PYTHON_DIR), os.environ.get("PYTHONPATH")])))
    done = subprocess.run([sys.executable, "-m", "tessel", "export", str(psd_file), "-o", str(out)],
                          capture_output=True, text=True, env=env, timeout=120)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.startswith("wrote ")
    assert files(out) == EXPECTED


@pytest.mark.parametrize("path", SHARED_FILES, ids=lambda p: p.name)
def test_real_documents_export_or_are_refused_cleanly(capsys, tmp_path, path):
    out = tmp_path / "out"
    status, stdout, err = run(capsys, "export", path, "-o", out, "-q")
    if status == 0:
        assert (stdout, err) == ("", "")
        prefab = load(out / f"{path.stem}.prefab")
        assert prefab[0]["__type__"] == "cc.Prefab"
        assert all(load(out / f)["uuid"] for f in files(out) if f.endswith(".meta"))
    else:
        assert status == 1
        error_line(err, path)
        assert files(out) == []
