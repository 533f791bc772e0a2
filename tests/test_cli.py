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


def load(path):
    return json.loads(Path(path).read_text(encoding="utf-8"))


EXPECTED = [
    "screen.prefab", "screen.prefab.meta",
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


def test_reexport_keeps_every_uuid_and_renews_file_ids(capsys, tmp_path, psd_file):
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
    assert run(capsys, "export", psd_file, "-o", out)[0] == 0
    second = identities()
    assert second[:2] == first[:2]
    assert not second[2] & first[2]


def error_line(err, path):
    lines = err.splitlines()
    assert len(lines) == 1, err
    assert lines[0].startswith(f"tessel: error: {path}: "), err
    assert "Traceback" not in err
    return lines[0]


def truncated(path):
    data = path.read_bytes()
    path.write_bytes(data[: len(data) // 3])


@pytest.mark.parametrize("spoil", [
    lambda p: p.unlink(),
    lambda p: p.write_bytes(b""),
    lambda p: p.write_bytes(os.urandom(4096)),
    lambda p: p.write_bytes(b"8BPS" + os.urandom(4096)),
    truncated,
], ids=["missing", "empty", "garbage", "garbage-after-signature", "truncated"])
def test_unreadable_document_is_refused_and_writes_nothing(capsys, tmp_path, psd_file, spoil):
    spoil(psd_file)
    out = tmp_path / "out"
    status, stdout, err = run(capsys, "export", psd_file, "-o", out)
    assert status == 1 and stdout == ""
    error_line(err, psd_file)
    assert files(out) == []


def test_batch_goes_on_after_a_bad_document(capsys, tmp_path, psd_file):
    bad = tmp_path / "bad.psd"
    bad.write_bytes(b"not a psd")
    out = tmp_path / "out"
    status, stdout, err = run(capsys, "export", bad, psd_file, "-o", out, "-q")
    assert (status, stdout) == (1, "")
    error_line(err, bad)
    assert files(out) == EXPECTED


def test_broken_text_layer_names_the_layer(capsys, tmp_path):
    def drop_editor(engine):
        del engine["EngineDict"]["Editor"]

    path = tmp_path / "text.psd"
    write_psd(Doc(100, 100, [Pixel("bg", size=(10, 10)), Group("g", [Text("Label_title", "x", edit=drop_editor)])]), path)
    out = tmp_path / "out"
    status, _, err = run(capsys, "export", path, "-o", out)
    assert status == 1
    assert "'Label_title'" in error_line(err, path)
    assert files(out) == []


@pytest.mark.parametrize("jobs", [1, 3], ids=["serial", "threads"])
def test_failing_image_leaves_no_file_behind(capsys, tmp_path, jobs):
    # An image name longer than any file system allows fails once the other images are under way.
    path = tmp_path / "long.psd"
    write_psd(design(Group("x" * 100, [Group("y" * 100, [Pixel("z" * 100, size=(4, 4))])])), path)
    out = tmp_path / "out"
    status, _, err = run(capsys, "export", path, "-o", out, "-j", jobs)
    assert status == 1
    assert error_line(err, path).endswith(f"[layer {'z' * 100}]")
    assert files(out) == [] and list(out.iterdir()) == []


@pytest.mark.parametrize("meta, content", [
    ("screen.prefab.meta", "{not json"),
    ("screen.prefab.meta", '{"ver": "1.0.1"}'),
    ("screen/screen_bg.png.meta", "[]"),
    ("screen/screen_bg.png.meta", '{"uuid": "u", "subMetas": {}}'),
], ids=["prefab-not-json", "prefab-no-uuid", "sprite-not-object", "sprite-no-frame"])
def test_unreadable_meta_file_is_refused_before_anything_changes(capsys, tmp_path, psd_file, meta, content):
    out = tmp_path / "out"
    assert run(capsys, "export", psd_file, "-o", out)[0] == 0
    (out / meta).write_text(content, encoding="utf-8")
    before = {name: (out / name).read_bytes() for name in files(out)}
    status, _, err = run(capsys, "export", psd_file, "-o", out)
    assert status == 1
    assert meta in error_line(err, psd_file)
    assert {name: (out / name).read_bytes() for name in files(out)} == before


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


def test_target_outside_the_output_folder_is_refused(monkeypatch, capsys, tmp_path):
    # Should the name sanitiser ever let a separator through, the path check still holds.
    from tessel import filemanager

    monkeypatch.setattr(filemanager, "pinyin", lambda name: name)
    path = tmp_path / "doc.psd"
    write_psd(Doc(64, 64, [Pixel("bg", size=(4, 4)), Pixel("../../../../evil", size=(4, 4))]), path)
    out = tmp_path / "a" / "out"
    status, _, err = run(capsys, "export", path, "-o", out)
    assert status == 1
    assert "outside the output folder" in error_line(err, path)
    assert files(tmp_path) == ["doc.psd"]


def test_two_documents_of_one_name_are_not_merged(capsys, tmp_path, psd_file):
    other = tmp_path / "again" / "screen.psd"
    other.parent.mkdir()
    write_psd(Doc(10, 10, [Pixel("other", size=(2, 2))]), other)
    out = tmp_path / "out"
    status, _, err = run(capsys, "export", psd_file, other, "-o", out, "-q")
    assert status == 1
    error_line(err, other)
    assert files(out) == EXPECTED


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
