import os
from pathlib import Path

import pytest

# Real PSD files written by other programs live beside the checkout, in
# ../shared/psd; a user's clone has none, and the tests that read them skip.
SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))


def shared_psd_files():
    """The shared PSD files, or an empty list when the folder is absent."""
    if not SHARED_PSD.is_dir():
        return []
    return sorted(SHARED_PSD.glob("*.psd"))


@pytest.fixture
def outdir(tmp_path):
    """An empty output folder that relative host paths resolve against."""
    from tessel import filemanager

    folder = tmp_path / "out"
    folder.mkdir()
    old = filemanager.outputDir
    filemanager.setOutputDir(folder)
    yield folder
    filemanager.outputDir = old
