import json
import logging
import os
import subprocess
import sys
import textwrap

import pytest

from tessel import filemanager, log


@pytest.mark.parametrize(
    "name, expected",
    [
        ("开始游戏", "kaishiyouxi"),
        ("图层 1 拷贝", "tuceng 1 kaobei"),
        ("btn_ok", "btn_ok"),
        ("", ""),
        ("abc 😀", "abc 😀"),
        ("../../etc/passwd", ".._.._etc_passwd"),
        ("/abs", "_abs"),
        ("a\\b", "a_b"),
        ('c:*?"<>|', "c_______"),
        ("a\x00b\tc\x7f", "a_b_c_"),
        ("\ud83d lone", "_ lone"),
        (".", "_"),
        ("..", "__"),
    ],
    ids=["chinese", "mixed", "ascii", "empty", "emoji", "traversal", "absolute", "backslash",
         "windows", "control", "surrogate", "dot", "dotdot"],
)
def test_pinyin_spells_chinese_and_makes_names_safe(name, expected):
    assert filemanager.pinyin(name) == expected


def test_relative_paths_resolve_under_the_output_folder(outdir, monkeypatch, tmp_path):
    monkeypatch.chdir(tmp_path)
    filemanager.mkdir("doc/sub")
    assert (outdir / "doc" / "sub").is_dir()
    filemanager.mkdir("doc/sub")  # an existing folder is no error
    filemanager.writeJson("doc/a.json", {"k": 1}, 4, None)
    assert filemanager.exists("doc/a.json") and not (tmp_path / "doc").exists()
    assert filemanager.loadJson("doc/a.json") == {"k": 1}


@pytest.mark.parametrize("path", ["../x.json", "doc/../../x.json"])
def test_relative_path_may_not_leave_the_output_folder(outdir, path):
    with pytest.raises(ValueError, match="leaves the output folder"):
        filemanager.writeJson(path, {}, 4, None)
    assert not (outdir.parent / "x.json").exists()


@pytest.mark.parametrize("path", ["../out2/x.json", "../outside/x.json", "../out.json"],
                         ids=["sibling-with-suffix", "sibling-longer-name", "file-beside"])
def test_a_sibling_sharing_the_folders_name_is_outside_it(outdir, path):
    # The containment check compares text: "out2" starts with "out" but is not inside it.
    with pytest.raises(ValueError, match="leaves the output folder"):
        filemanager.resolve(path)
    assert filemanager.resolve("./sub/../x.json") == str(outdir / "x.json")


class Exportable:
    def __init__(self, value):
        self.value = value

    def export(self):
        return {"v": self.value}


def test_write_json_converts_nested_values_and_keeps_order(outdir):
    data = [{"b": Exportable([Exportable(1)]), "a": "图\ud800"}]
    filemanager.writeJson("x.json", data, 4, lambda o: o.export())
    text = (outdir / "x.json").read_text(encoding="utf-8")
    assert json.loads(text) == [{"b": {"v": [{"v": 1}]}, "a": "图\ud800"}]
    assert text.startswith('[\n    {\n        "b"')


def test_failed_write_keeps_the_old_file_whole(outdir):
    target = outdir / "doc.prefab.meta"
    target.write_text('{"uuid": "keep-me"}', encoding="utf-8")

    def converter(obj):
        raise TypeError("cannot convert")

    with pytest.raises(TypeError, match="cannot convert"):
        filemanager.writeJson("doc.prefab.meta", [1, 2, object()], 4, converter)
    assert target.read_text(encoding="utf-8") == '{"uuid": "keep-me"}'
    assert os.listdir(outdir) == ["doc.prefab.meta"]


@pytest.mark.parametrize(
    "before, data, syncs, same_file",
    [
        (None, {"k": 1}, 0, None),
        ('{\n    "k": 1\n}', {"k": 2}, 1, False),
        ('{\n    "k": 1\n}', {"k": 1}, 0, True),
        ('{\n    "k": 1\n} ', {"k": 1}, 1, False),
    ],
    ids=["new-file-not-synced", "replaced-file-synced-first", "same-text-left-alone", "longer-file-replaced"],
)
def test_write_json_syncs_only_what_it_replaces(outdir, monkeypatch, before, data, syncs, same_file):
    target = outdir / "a.meta"
    if before is not None:
        target.write_text(before, encoding="utf-8")
        inode = target.stat().st_ino
    synced = []
    monkeypatch.setattr(os, "fsync", synced.append)
    filemanager.writeJson("a.meta", data, 4, None)
    assert json.loads(target.read_text(encoding="utf-8")) == data
    assert len(synced) == syncs
    if same_file is not None:
        assert (target.stat().st_ino == inode) == same_file
    assert os.listdir(outdir) == ["a.meta"]


def test_load_json_names_the_broken_file(outdir):
    (outdir / "bad.meta").write_text("{not json", encoding="utf-8")
    with pytest.raises(ValueError, match="bad.meta"):
        filemanager.loadJson("bad.meta")


@pytest.mark.parametrize("digest, length", [(filemanager.md5, 32), (filemanager.sha1, 40)])
def test_digests_are_fresh_hex(digest, length):
    values = {digest() for _ in range(50)}
    assert len(values) == 50
    assert all(len(v) == length and int(v, 16) >= 0 for v in values)


def test_basename():
    assert filemanager.basename(os.path.join("a", "b", "doc.psd")) == "doc.psd"


def test_log_lines_go_through_logging(caplog):
    with caplog.at_level(logging.DEBUG, logger="tessel"):
        log.i("保存meta文件x")
        log.d("debug line")
    assert [(r.levelname, r.getMessage()) for r in caplog.records] == [
        ("INFO", "保存meta文件x"),
        ("DEBUG", "debug line"),
    ]


def test_modules_take_host_services_from_the_package_first():
    import tessel.infos
    import tessel.nodeweave

    assert tessel.infos.filemanager is filemanager
    assert tessel.nodeweave.log is log
    assert tessel.nodeweave.utils is tessel.infos.utils
    assert tessel.infos.utils.__name__ == "tessel.layerkit"


def test_modules_fall_back_to_top_level_host_modules(tmp_path):
    # With the package's own filemanager hidden, the module found on sys.path serves.
    (tmp_path / "filemanager.py").write_text("ORIGIN = 'top-level'\n")
    script = textwrap.dedent(
        """
        import sys
        class Hide:
            def find_spec(self, name, path=None, target=None):
                if name == "tessel.filemanager":
                    raise ImportError("hidden")
        sys.meta_path.insert(0, Hide())
        import tessel.infos
        print(tessel.infos.filemanager.ORIGIN)
        """
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(tmp_path)] + sys.path))
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "top-level"


@pytest.mark.skipif(os.name != "posix", reason="POSIX file modes")
def test_written_json_gets_the_mode_of_a_plain_file(outdir):
    filemanager.writeJson("a.json", {}, 4, None)
    (outdir / "plain").write_text("")
    assert (outdir / "a.json").stat().st_mode == (outdir / "plain").stat().st_mode
