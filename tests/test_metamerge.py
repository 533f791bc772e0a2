"""Re-export over meta files the editor and the developers changed: derived values follow the PSD, settings stay."""

import json
import shutil
from pathlib import Path

import pytest

from tessel import cli
from tessel.road import metamerge
from tessel.export import ExportOptions, export_psd
from tessel.testing import Doc, Pixel, write_psd

PLATFORMS = {"android": {"formats": [{"name": "etc1", "quality": "fast"}]}, "ios": {"formats": []}}


def design(bg_size, panel_name):
    return Doc(200, 200, [
        Pixel("bg", size=bg_size),
        Pixel(panel_name, size=(40, 30), left=10, top=10, color=(0, 200, 0, 255)),
        Pixel("icon", size=(16, 16), left=60, top=60, color=(0, 0, 200, 255)),
    ])


def load(path):
    return json.loads(Path(path).read_text(encoding="utf-8"))


def ordered(data):
    """``data`` with every object as a list of pairs, so comparing also compares key order."""
    return json.loads(json.dumps(data), object_pairs_hook=list)


def ordered_file(path):
    return json.loads(Path(path).read_text(encoding="utf-8"), object_pairs_hook=list)


def metas(folder):
    return {p.relative_to(folder).as_posix(): p.read_bytes() for p in sorted(Path(folder).rglob("*.meta"))}


def with_keys(data, after, **keys):
    """A copy of ``data`` with ``keys`` inserted after the key ``after``."""
    out = {}
    for key, value in data.items():
        out[key] = value
        if key == after:
            out.update(keys)
    return out


def as_editor(path, frame_settings=None, **texture_settings):
    """Rewrite a written .png.meta as the Creator 2.4 editor saves it, with changed settings."""
    meta = load(path)
    (name, frame), = meta["subMetas"].items()
    frame = with_keys(frame, "uuid", importer="sprite-frame")
    frame.update(ver="1.0.6", **(frame_settings or {}))
    meta = with_keys(meta, "premultiplyAlpha", genMipmaps=False, packable=True,
                     width=frame["rawWidth"], height=frame["rawHeight"], platformSettings={})
    meta = with_keys(meta, "uuid", importer="texture")
    meta.update(ver="2.3.7", subMetas={name: frame}, **texture_settings)
    Path(path).write_text(json.dumps(meta, indent=2), encoding="utf-8")


def test_re_export_keeps_editor_settings_and_follows_the_psd(tmp_path):
    psd = tmp_path / "screen.psd"
    out, pristine = tmp_path / "out", tmp_path / "pristine"
    write_psd(design((100, 80), "panel_4,4,4,4"), psd)
    export_psd(psd, out, ExportOptions(jobs=1))
    shutil.copytree(out, pristine)
    folder = out / "screen"
    before = {name: load(out / name) for name in metas(out)}

    as_editor(folder / "screen_bg.png.meta",
              # the editor trimmed the frame; the developers chose its trimming and the texture's filtering
              {"trimType": "custom", "trimThreshold": 3, "trimX": 2, "trimY": 1, "width": 96, "height": 78,
               "offsetX": -1, "note": {"by": "art", "keep": [1, 2]}},
              filterMode="point", wrapMode="repeat", premultiplyAlpha=True, packable=False,
              platformSettings=PLATFORMS)
    as_editor(folder / "screen_icon.png.meta", {"borderTop": 3, "borderRight": 5, "borderBottom": 3, "borderLeft": 5})
    as_editor(folder / "screen_panel.png.meta", {"borderTop": 1})
    (out / "screen.prefab.meta").write_text(json.dumps({
        "ver": "1.3.2", "uuid": before["screen.prefab.meta"]["uuid"], "importer": "prefab",
        "optimizationPolicy": "SINGLE_INSTANCE", "asyncLoadAssets": True, "readonly": False, "subMetas": {},
    }, indent=2), encoding="utf-8")
    edited = metas(out)

    write_psd(design((120, 90), "panel_6,8,6,8"), psd)
    export_psd(psd, out, ExportOptions(jobs=1))

    texture = before["screen/screen_bg.png.meta"]["uuid"]
    frame = before["screen/screen_bg.png.meta"]["subMetas"]["screen_bg"]["uuid"]
    assert ordered_file(folder / "screen_bg.png.meta") == ordered({
        "ver": "2.3.7", "uuid": texture, "type": "sprite", "wrapMode": "repeat", "filterMode": "point",
        "premultiplyAlpha": True,
        "subMetas": {"screen_bg": {
            "ver": "1.0.6", "uuid": frame, "rawTextureUuid": texture, "trimType": "custom", "trimThreshold": 3,
            "rotated": False, "offsetX": 0, "offsetY": 0, "trimX": 0, "trimY": 0,
            "width": 120, "height": 90, "rawWidth": 120, "rawHeight": 90,
            "borderTop": 0, "borderBottom": 0, "borderLeft": 0, "borderRight": 0, "subMetas": {},
            "importer": "sprite-frame", "note": {"by": "art", "keep": [1, 2]},
        }},
        "importer": "texture", "genMipmaps": False, "packable": False, "width": 120, "height": 90,
        "platformSettings": PLATFORMS,
    })
    borders = ("borderTop", "borderRight", "borderBottom", "borderLeft")
    panel = load(folder / "screen_panel.png.meta")["subMetas"]["screen_panel"]
    icon = load(folder / "screen_icon.png.meta")["subMetas"]["screen_icon"]
    assert [panel[b] for b in borders] == [6, 8, 6, 8]  # the name gives them
    assert [icon[b] for b in borders] == [3, 5, 3, 5]  # set by hand, the name gives none
    assert panel["importer"] == icon["importer"] == "sprite-frame"
    assert ordered_file(out / "screen.prefab.meta") == ordered({
        "ver": "1.3.2", "uuid": before["screen.prefab.meta"]["uuid"], "optimizationPolicy": "SINGLE_INSTANCE",
        "asyncLoadAssets": True, "subMetas": {}, "importer": "prefab", "readonly": False,
    })
    for name, meta in before.items():
        now = load(out / name)
        assert now["uuid"] == meta["uuid"]
        assert [f["uuid"] for f in now["subMetas"].values()] == [f["uuid"] for f in meta["subMetas"].values()]

    # A merged file is stable: the next export leaves every meta file as it is.
    merged = metas(out)
    export_psd(psd, out, ExportOptions(jobs=1))
    assert metas(out) == merged != edited

    # Over our own earlier files, merging gives the models as they are; --fresh-meta gives
    # them whatever the files held.
    export_psd(psd, pristine, ExportOptions(jobs=1))
    as_modelled = metas(pristine)
    assert cli.main(["export", str(psd), "-o", str(out), "-q", "--fresh-meta"]) == 0
    assert metas(out) == as_modelled
    assert b"importer" not in b"".join(as_modelled.values())
    assert load(folder / "screen_bg.png.meta")["subMetas"]["screen_bg"]["width"] == 120


@pytest.mark.parametrize("scale9, border", [(False, 4), (True, 0)], ids=["hand-set-border", "name-gives-borders"])
def test_frames_follow_the_image_name_and_texture_sizes_are_updated_only_where_the_file_has_them(scale9, border):
    model = {"ver": "2.2.0", "uuid": "t", "filterMode": "bilinear",
             "subMetas": {"img": {"uuid": "f", "width": 5, "rawWidth": 5, "rawHeight": 6, "borderTop": 0,
                                  "subMetas": {}}}}
    existing = {"uuid": "t", "filterMode": "point", "height": 7, "subMetas": {
        "img": {"uuid": "f", "width": 9, "borderTop": 4, "importer": "sprite-frame"},
        "old_img": {"uuid": "g"},
    }}
    assert ordered(metamerge.merged_texture_meta(model, existing, scale9)) == ordered({
        "ver": "2.2.0", "uuid": "t", "filterMode": "point",
        "subMetas": {"img": {"uuid": "f", "width": 5, "rawWidth": 5, "rawHeight": 6, "borderTop": border,
                             "subMetas": {}, "importer": "sprite-frame"}},
        "height": 6,
    })
