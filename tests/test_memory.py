"""Repeated exports in one process: resident memory stays flat and every export's objects are collected.

The layer-info tree and the prefab objects point at each other (``infolist``,
``info`` and ``layer``), so only the cycle collector can free an export; a
reference that outlives it (a module-level cache, a host call keeping its
argument) would keep a whole document alive per export.
"""

import gc
import os
import weakref

import pytest

from tessel import cli, export as road, infos, nodeweave
from tessel.testing import Doc, Group, Pixel, Text, gradient, write_psd

EXPORTS = 50
GROWTH_LIMIT = 0.05


def _design():
    """About a hundred layers: groups three deep, small images, labels, nine-slices, dropped layers.

    Few text layers: psd-tools parses their engine data on every open, and that
    alone would make fifty exports slow.
    """
    panels = []
    for p in range(6):
        rows = [Group(f"Item_row{r}", [
            Pixel(f"图标 {p}{r}{c} 拷贝", image=gradient((12 + c, 10 + r), (p * 40, 90, 200), (20, 20 * c, 60)),
                  left=10 * c + p, top=8 * r + p) for c in range(3)]) for r in range(3)]
        rows.append(Text(f"Label_值{p}", f"第{p}页", left=5, top=8 * p, box=(30, 12), size=10.0))
        rows.append(Pixel(f"Image_frame{p}_3,2,3,2", size=(20, 12), color=(255, 255, 255, 200), left=p * 9))
        rows.append(Pixel("hidden", size=(4, 4), visible=False))
        panels.append(Group(f"Container_panel{p}", rows))
    panels.append(Group("NotExport_guides", [Pixel("grid", size=(80, 80))]))
    return Doc(120, 90, [Pixel("bg", size=(120, 90), color=(30, 30, 60, 255))] + panels)


@pytest.fixture(scope="module")
def document(tmp_path_factory):
    path = tmp_path_factory.mktemp("design") / "screen.psd"
    write_psd(_design(), path)
    return path


def _resident_bytes():
    """Resident set size now, else the peak so far; None where the platform offers neither."""
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except (OSError, ValueError, AttributeError):
        pass
    try:
        import resource
    except ImportError:
        return None
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def test_fifty_exports_keep_resident_memory_flat(document, tmp_path):
    if _resident_bytes() is None:
        pytest.skip("no way to read the resident set size here")

    def export(number):
        # A fresh folder each time: replacing files costs a disk flush per file on
        # some file systems, and this test is about memory, not the disk.
        assert cli.main(["export", str(document), "-o", str(tmp_path / str(number)), "-q", "-j", "2"]) == 0

    # Warm-up: first imports, pypinyin's dictionaries, the image threads' arenas.
    export("warm-up")
    export(1)
    gc.collect()
    first = _resident_bytes()
    for number in range(2, EXPORTS + 1):
        export(number)
    gc.collect()
    last = _resident_bytes()
    assert (last - first) / first < GROWTH_LIMIT, f"{first} -> {last} bytes over {EXPORTS} exports"


def test_finished_export_is_collected(document, outdir):
    from psd_tools import PSDImage

    psdimage = PSDImage.open(document)
    psd = infos.YPSD(psdimage, str(document))
    psd.name = "screen"
    nodeweave.initPsdInfo(psd)
    nodeweave.fixPosition(psd)
    nodeweave.refleshIdAndCreateMeta(psd)
    layers = list(road.pixel_layers(psd))
    for layer in layers:
        layer.save(str(outdir / (layer.imageName + ".png")))
    nodeweave.saveToPrefab(psd, "screen.prefab")
    prefab = psd.totalInfo[0]
    nodeweave.saveMetaFile(prefab.meta, prefab.metaPath, psd)

    sprite = next(obj for obj in psd.totalInfo if isinstance(obj, nodeweave.CCSprite))
    label = next(obj for obj in psd.totalInfo if isinstance(obj, nodeweave.CCLabel))
    kept = [psd, prefab, prefab.meta, sprite, sprite.meta, sprite.metaSprite, label, label.layer,
            layers[-1], layers[-1].parent, psd.totalInfo[1]._color]
    refs = [weakref.ref(obj) for obj in kept]
    del psd, prefab, sprite, label, layers, kept, layer
    gc.collect()
    alive = [type(ref()).__name__ for ref in refs if ref() is not None]
    assert alive == []
    # The reader's document is the host's: the export kept nothing of it alive either.
    reader = weakref.ref(psdimage)
    del psdimage
    gc.collect()
    assert reader() is None
