"""Re-export: unchanged images are left alone, anything changed is written again, byte for byte as a fresh export."""

import json
import os
from pathlib import Path

import pytest
from PIL import Image

from tessel import cli, filemanager
from tessel.infos import YPSD
from tessel.road import imagecache
from tessel.road.imagefiles import ImageWriter
from tessel.road.digest import image_digest
from tessel.errors import DocumentError
from tessel.export import ExportOptions, export_psd
from tessel.testing import Doc, Group, Pixel, Text, build_psd, gradient, write_psd

PNGS = ("screen_bg.png", "screen_ok_frame.png", "screen_ok_icon.png")


def design(frame="frame_4,6,4,6", icon=(0, 200, 0, 255), icon_size=(8, 8)):
    return Doc(64, 48, [
        Pixel("bg", image=gradient((64, 48), (10, 20, 30), (200, 100, 50))),
        Group("Button_ok", [
            Pixel(frame, image=gradient((30, 20), (250, 0, 0), (0, 0, 250)), left=4, top=4),
            Pixel("icon", size=icon_size, color=icon, left=20, top=20),
        ]),
    ])


def export(psd, out, **options):
    return export_psd(psd, out, ExportOptions(jobs=1, **options))


def pngs(out):
    """Per image file: (inode, modification time, bytes)."""
    result = {}
    for name in PNGS:
        path = Path(out, "screen", name)
        if path.exists():
            st = path.stat()
            result[name] = (st.st_ino, st.st_mtime_ns, path.read_bytes())
    return result


def change_layer(tmp_path, psd, out):
    write_psd(design(icon=(0, 0, 200, 255)), psd)


def reshape_layer(tmp_path, psd, out):
    # As many pixels of one colour as before, in another shape.
    write_psd(design(icon_size=(4, 16)), psd)


def change_nine_slice(tmp_path, psd, out):
    write_psd(design(frame="frame_2,2,2,2"), psd)


def delete_png(tmp_path, psd, out):
    (out / "screen" / "screen_ok_icon.png").unlink()


def edit_png(tmp_path, psd, out):
    path = out / "screen" / "screen_ok_icon.png"
    data = bytearray(path.read_bytes())
    data[-20] ^= 0xFF  # same size, other bytes
    path.write_bytes(bytes(data))


def damage_cache(tmp_path, psd, out):
    (out / "screen" / imagecache.FILENAME).write_text("{not json")


def cache_of_another_encoder(tmp_path, psd, out):
    path = out / "screen" / imagecache.FILENAME
    content = json.loads(path.read_text())
    content["encoder"] = "Pillow 1.0, zlib 1.0"
    path.write_text(json.dumps(content))


def mixed_up_cache(tmp_path, psd, out):
    # The icon's file and its entry both taken from another image: they agree with each other, not with the layer.
    path = out / "screen" / imagecache.FILENAME
    content = json.loads(path.read_text())
    content["images"]["screen_ok_icon.png"] = content["images"]["screen_bg.png"]
    (out / "screen" / "screen_ok_icon.png").write_bytes((out / "screen" / "screen_bg.png").read_bytes())
    path.write_text(json.dumps(content))


@pytest.mark.parametrize("tamper, options, rewritten", [
    (None, {}, set()),
    (change_layer, {}, {"screen_ok_icon.png"}),
    (reshape_layer, {}, {"screen_ok_icon.png"}),
    (change_nine_slice, {}, {"screen_ok_frame.png"}),
    (delete_png, {}, {"screen_ok_icon.png"}),
    (edit_png, {}, {"screen_ok_icon.png"}),
    (mixed_up_cache, {}, {"screen_ok_icon.png"}),
    (damage_cache, {}, set(PNGS)),
    (cache_of_another_encoder, {}, set(PNGS)),
    (None, {"image_cache": False}, set(PNGS)),
    (None, {"png_compression": 1}, set(PNGS)),
], ids=["unchanged", "layer-changed", "layer-reshaped", "nine-slice-changed", "png-deleted", "png-edited", "cache-mixed-up",
        "cache-damaged", "cache-of-another-encoder", "cache-switched-off",
        "compression-changed"])
def test_reexport_writes_exactly_the_changed_images(tmp_path, tamper, options, rewritten):
    psd, out = tmp_path / "screen.psd", tmp_path / "out"
    write_psd(design(), psd)
    export(psd, out)
    if tamper is not None:
        tamper(tmp_path, psd, out)
    before = pngs(out)
    result = export(psd, out, **options)
    after = pngs(out)
    assert {name for name in PNGS if before.get(name) != after[name]} == rewritten
    assert result.images == 3 and result.unchanged == 3 - len(rewritten)
    fresh = tmp_path / "fresh"
    export(psd, fresh, **options)
    assert {name: png[2] for name, png in after.items()} == {name: png[2] for name, png in pngs(fresh).items()}


def test_images_a_reexport_left_alone_stay_cached_for_the_next_one(tmp_path):
    psd, out = tmp_path / "screen.psd", tmp_path / "out"
    write_psd(design(), psd)
    export(psd, out)
    change_layer(tmp_path, psd, out)
    assert export(psd, out).unchanged == 2
    assert export(psd, out).unchanged == 3


def test_summary_counts_unchanged_images(capsys, tmp_path):
    psd = tmp_path / "screen.psd"
    write_psd(design(), psd)
    out = tmp_path / "out"
    assert cli.main(["export", str(psd), "-o", str(out)]) == 0
    assert cli.main(["export", str(psd), "-o", str(out), "--engine", "2.4"]) == 0  # another prefab, the same images
    assert cli.main(["export", str(psd), "-o", str(out), "--engine", "2.4"]) == 0  # nothing changed at all
    lines = capsys.readouterr().out.splitlines()
    assert lines[1:] == [f"wrote {out / 'screen.prefab'} (5 nodes, 3 images, 3 unchanged)",
                         f"unchanged {out / 'screen.prefab'} (5 nodes, 3 images)"]


def test_a_cache_that_cannot_be_written_is_a_warning_and_every_image_is_still_right(tmp_path):
    psd, out = tmp_path / "screen.psd", tmp_path / "out"
    write_psd(design(), psd)
    export(psd, out)
    cache = out / "screen" / imagecache.FILENAME
    cache.unlink()
    cache.mkdir()  # neither readable nor replaceable as a file
    write_psd(design(icon=(0, 0, 200, 255)), psd)
    result = export(psd, out)
    assert [w for w in result.warnings if "image cache" in w] and str(cache) not in result.files
    export(psd, tmp_path / "fresh")
    assert {name: png[2] for name, png in pngs(out).items()} == {name: png[2] for name, png in pngs(tmp_path / "fresh").items()}


def test_new_image_folder_is_written_without_renames_and_removed_on_a_late_failure(tmp_path, monkeypatch):
    psd, out = tmp_path / "screen.psd", tmp_path / "out"
    write_psd(design(), psd)
    renamed = []
    real_replace = os.replace
    monkeypatch.setattr(os, "replace", lambda src, dst: (renamed.append(dst), real_replace(src, dst)))
    export(psd, out)
    assert [os.path.basename(p) for p in renamed] == ["screen.prefab", "screen.prefab.meta"]

    real_write = filemanager.writeJson

    def failing(path, *args):
        if str(path).endswith("icon.png.meta"):
            raise OSError(28, "No space left on device")
        real_write(path, *args)

    monkeypatch.setattr(filemanager, "writeJson", failing)
    again = tmp_path / "again"
    with pytest.raises(OSError):
        export(psd, again)
    assert not (again / "screen").exists()


def test_png_compression_level_reaches_the_files_of_every_export(tmp_path):
    psd, out = tmp_path / "screen.psd", tmp_path / "out"
    write_psd(design(), psd)
    sizes = {}
    for level in (9, 1, 0):  # each export after the first rewrites the images of the one before
        assert cli.main(["export", str(psd), "-o", str(out), "-q", "--png-compression", str(level)]) == 0
        sizes[level] = (out / "screen" / "screen_bg.png").stat().st_size
    raw = len(Image.open(out / "screen" / "screen_bg.png").tobytes())
    assert sizes[0] > raw and sizes[9] < sizes[1]


@pytest.mark.parametrize("mode", ["RGBA", "CMYK"])
def test_png_compression_level_holds_for_images_converted_before_saving(tmp_path, mode):
    bg = gradient((64, 48), (10, 20, 30), (200, 100, 50))
    sizes = {}
    for level in (0, 9):
        (layer,) = YPSD(build_psd(Doc(64, 48, [Pixel("bg", image=bg)])), "screen.psd")
        layer._image = bg.convert(mode)
        written = ImageWriter(fresh=True, compress_level=level).render(layer, str(tmp_path / f"{level}.png"))
        sizes[level] = os.path.getsize(written)
    assert sizes[0] > len(bg.tobytes()) > sizes[9]


def test_parse_limit_refusal_names_the_option_that_raises_it(capsys, tmp_path):
    psd = tmp_path / "screen.psd"
    write_psd(Doc(40, 20, [Text("Label_t", "Hi", box=(30, 12))]), psd)
    with pytest.raises(DocumentError, match="--max-objects"):
        export(psd, tmp_path / "out", max_objects=50)
    assert cli.main(["export", str(psd), "-o", str(tmp_path / "out"), "--max-objects", "50"]) == 1
    assert "raise the limit with --max-objects" in capsys.readouterr().err
    assert cli.main(["export", str(psd), "-o", str(tmp_path / "out"), "--max-objects", "0", "-q"]) == 0


def test_pixel_key_ignores_the_creation_time_of_a_colour_profile_but_not_the_profile():
    from PIL import ImageCms

    srgb = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    later = srgb[:24] + bytes(range(1, 13)) + srgb[36:]
    lab = ImageCms.ImageCmsProfile(ImageCms.createProfile("LAB")).tobytes()
    keys = []
    for profile in (srgb, later, lab):
        image = Image.new("RGB", (2, 2), (9, 9, 9))
        image.info["icc_profile"] = profile
        keys.append(imagecache.pixel_key(image))
    assert keys[0] == keys[1] != keys[2]
    assert keys[0] != imagecache.pixel_key(Image.new("RGB", (2, 2), (9, 9, 9)))


def test_palette_is_part_of_the_image_digest():
    red, blue = Image.new("P", (2, 2)), Image.new("P", (2, 2))
    red.putpalette([255, 0, 0] * 256)
    blue.putpalette([0, 0, 255] * 256)
    assert image_digest(red) != image_digest(blue)
    assert image_digest(red) == image_digest(red.copy())
