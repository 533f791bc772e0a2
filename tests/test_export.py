import os
from pathlib import Path

import pytest

from tessel import filemanager
from tessel.errors import DocumentError
from tessel.export import ExportOptions, ExportResult, export_many, export_psd
from tessel.testing import Doc, Group, Pixel, Text, write_psd


@pytest.fixture
def psd_file(tmp_path):
    path = tmp_path / "screen.psd"
    write_psd(Doc(100, 80, [Pixel("bg", size=(100, 80)), Group("g", [Pixel("icon", size=(8, 8), left=4, top=4)]),
                            Text("title", "Hi", left=10, top=10)]), path)
    return path


def test_export_psd_reports_every_file_it_owns_and_restores_the_host_state(tmp_path, psd_file):
    out = tmp_path / "out"
    before = filemanager.outputDir
    steps = []
    result = export_psd(psd_file, out, ExportOptions(jobs=1), progress=lambda *a: steps.append(a))
    assert isinstance(result, ExportResult) and filemanager.outputDir == before
    written = sorted(str(p) for p in Path(out).rglob("*") if p.is_file())
    assert sorted(result.files) == written
    assert (result.name, result.nodes, result.images) == ("screen", 5, 2)
    assert result.prefab == os.path.join(os.path.realpath(out), "screen.prefab")
    assert steps == [("screen", 0, 2), ("screen", 1, 2), ("screen", 2, 2)]


def test_export_many_goes_on_after_a_failure_and_refuses_a_second_document_of_one_name(tmp_path, psd_file):
    other = tmp_path / "b" / "screen.psd"
    other.parent.mkdir()
    other.write_bytes(psd_file.read_bytes())
    broken = tmp_path / "broken.psd"
    broken.write_bytes(b"8BPS nonsense")
    results = dict(export_many([broken, psd_file, other], tmp_path / "out", ExportOptions(jobs=1)))
    assert isinstance(results[broken], DocumentError)
    assert isinstance(results[psd_file], ExportResult)
    assert "exports as 'screen'" in str(results[other])


@pytest.mark.parametrize("old, new", [("tessel.check", "tessel.see.check"), ("tessel.preview", "tessel.see.preview"),
                                      ("tessel.styles", "tessel.road.styles")])
def test_documented_old_module_names_warn_and_give_the_moved_module(old, new):
    import importlib
    import sys

    sys.modules.pop(old, None)
    with pytest.warns(DeprecationWarning, match=new):
        moved = importlib.import_module(old)
    assert moved is importlib.import_module(new)
