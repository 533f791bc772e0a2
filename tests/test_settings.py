"""The project's settings file: where it is found, what overrides it, and the files it refuses."""

import json

import pytest

from tessel import cli
from tessel.testing import Doc, Pixel, write_psd


@pytest.fixture
def project(tmp_path, monkeypatch):
    """A game project folder with a document and an empty current folder elsewhere."""
    root = tmp_path / "game"
    (root / "assets" / "ui").mkdir(parents=True)
    write_psd(Doc(40, 30, [Pixel("bg", size=(40, 30))]), root / "screen.psd")
    monkeypatch.chdir(tmp_path)
    return root


def export(capsys, *argv):
    status = cli.main(["export", *map(str, argv)])
    return status, capsys.readouterr()


def writes_trs(outdir):
    nodes = [o for o in json.loads((outdir / "screen.prefab").read_text()) if o["__type__"] == "cc.Node"]
    return all("_trs" in node for node in nodes)


@pytest.mark.parametrize("where, argv, expected", [
    ("outdir", [], True),                      # tessel.toml above the output folder
    ("cwd", [], True),                         # tessel.toml above the current folder
    ("outdir", ["--engine", "2.1"], False),    # the command line wins
    ("outdir", ["--no-config"], False),
    ("pyproject", [], True),                   # [tool.tessel] in pyproject.toml
])
def test_settings_are_found_and_overridden(capsys, project, monkeypatch, where, argv, expected):
    if where == "pyproject":
        (project / "pyproject.toml").write_text('[project]\nname = "game"\n[tool.tessel]\nengine = "2.4"\n')
    else:
        (project / "tessel.toml").write_text('engine = "2.4"\n')
    if where == "cwd":
        monkeypatch.chdir(project / "assets")
        outdir = project.parent / "elsewhere"
    else:
        outdir = project / "assets" / "ui"
    status, _ = export(capsys, project / "screen.psd", "-o", outdir, *argv)
    assert status == 0
    assert writes_trs(outdir) is expected


@pytest.mark.parametrize("content, message", [
    ('engine = "3.0"\n', "engine: unknown engine '3.0'"),
    ("bogus = 1\n", "unknown key 'bogus'; the keys are: jobs"),
    ('jobs = "2"\n', "jobs must be a whole number, not '2'"),
    ("png_compression = 12\n", "png_compression: png_compression must be 0 to 9"),
    ("components = 1\n", "components must be true or false"),
    ("engine = \n", "not TOML"),
])
def test_a_bad_settings_file_is_one_line_and_nothing_is_written(capsys, project, content, message):
    settings = project / "tessel.toml"
    settings.write_text(content)
    outdir = project / "assets" / "ui"
    status, out = export(capsys, project / "screen.psd", "-o", outdir)
    assert status == 1
    assert out.err == f"tessel: error: {settings}: {message}" + out.err.split(message, 1)[1]
    assert out.err.count("\n") == 1
    assert list(outdir.iterdir()) == []


def test_config_prints_each_option_and_its_source(capsys, project):
    (project / "tessel.toml").write_text('components = true\nmax_objects = 0\nlibrary = ["assets/common"]\n')
    assert cli.main(["config", "-o", str(project / "assets" / "ui"), "--png-compression", "1"]) == 2  # not a config option
    capsys.readouterr()
    assert cli.main(["config", "-o", str(project / "assets" / "ui")]) == 0
    rows = {line.split()[0]: line.split()[1:] for line in capsys.readouterr().out.splitlines()}
    assert rows["components"] == ["True", str(project / "tessel.toml")]
    assert rows["max_objects"] == ["None", str(project / "tessel.toml")]
    assert rows["engine"] == ["'2.1'", "default"]
    assert rows["library"][0] == repr([str(project / "assets" / "common")])  # relative to the file


def test_version_names_tessel_and_the_libraries(capsys):
    with pytest.raises(SystemExit) as stop:
        cli.build_parser().parse_args(["--version"])
    assert stop.value.code == 0
    out = capsys.readouterr().out
    assert out.startswith("tessel ") and "psd-tools " in out and "Pillow " in out
