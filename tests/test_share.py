"""Images common to several documents: taken from a library folder or written once into a share folder."""

import json
import os
import pickle
from pathlib import Path

import pytest
from PIL import Image
from psd_tools import PSDImage

from tessel import cli, export as road
from tessel.export import ExportOptions, export_many, export_psd
from tessel.road import library, surveys
from tessel.see.check import check
from tessel.see.preview import sprite_frames
from tessel.testing import Doc, Group, Pixel, gradient, write_psd

PANEL = gradient((40, 30), (10, 200, 10), (200, 10, 200))
CLOSE = gradient((24, 24), (250, 0, 0), (0, 0, 250))


def design(own, close=CLOSE):
    return Doc(100, 80, [
        Pixel("bg", size=(100, 80), color=own),
        Group("win", [Pixel("panel_8,8,8,8", image=PANEL, left=5, top=5),
                      Pixel("close", image=close, left=60, top=5)]),
    ])


@pytest.fixture
def docs(tmp_path):
    paths = [tmp_path / "a.psd", tmp_path / "b.psd"]
    write_psd(design((1, 2, 3, 255)), paths[0])
    write_psd(design((9, 8, 7, 255)), paths[1])
    return paths


def sprite_refs(prefab):
    objects = json.loads(Path(prefab).read_text())
    return {objects[o["node"]["__id__"]]["_name"]: o["_spriteFrame"]["__uuid__"]
            for o in objects if o["__type__"] == "cc.Sprite"}


def files(folder):
    return {p: (p.stat().st_mtime_ns, p.read_bytes()) for p in Path(folder).rglob("*") if p.is_file()}


def export_with_pickled_plan(docs, out, options):
    # As an export in another process gets it.
    plan = pickle.loads(pickle.dumps(road._run_plan(docs, out, options)))
    return [(path, export_psd(path, out, options, plan=plan)) for path in docs]


@pytest.mark.parametrize("how", ["share", "share, plan pickled", "library"])
def test_common_images_are_written_once_and_referred_to(tmp_path, docs, how):
    out = tmp_path / "out"
    if how == "library":
        export_psd(docs[0], tmp_path / "kit", ExportOptions(jobs=1))
        folder = tmp_path / "kit" / "a"
        options = ExportOptions(jobs=1, library=[str(folder)])
        before = files(folder)
    else:
        folder = out / "common"
        options = ExportOptions(jobs=1, share="common")
    run = export_with_pickled_plan if "pickled" in how else lambda d, o, opt: list(export_many(d, o, opt))
    results = dict(run(docs, out, options))

    written = sorted(p.relative_to(out).as_posix() for p in out.rglob("*.png"))
    frames = {**sprite_frames(folder, below=True), **sprite_frames(out / "a"), **sprite_frames(out / "b")}
    refs = [sprite_refs(results[path].prefab) for path in docs]
    assert refs[0]["panel"] == refs[1]["panel"] and refs[0]["close"] == refs[1]["close"]
    for ref in refs:
        for uuid in ref.values():
            assert frames[uuid].png.is_file()
    if how == "library":
        # a's own background is in the library too; b's is not.
        assert written == ["b/b_bg.png"]
        assert [results[p].library for p in docs] == [3, 2]
        assert files(folder) == before
    else:
        assert written == ["a/a_bg.png", "b/b_bg.png", "common/win_close.png", "common/win_panel.png"]
        assert [results[p].shared for p in docs] == [2, 2]
        assert results[docs[0]].bytes_saved == 0
        assert results[docs[1]].bytes_saved == sum(p.stat().st_size for p in folder.glob("*.png"))
        assert frames[refs[0]["panel"]].borders == (8, 8, 8, 8)
    result = check(str(docs[1]), options=ExportOptions(jobs=1, library=[str(folder)]))
    assert result.problems == [] and not result.misplaced


def test_reexport_keeps_shared_images_and_their_metas(tmp_path, docs, monkeypatch):
    out = tmp_path / "out"
    options = ExportOptions(jobs=1, share="common")
    list(export_many(docs, out, options))
    # Unchanged documents are not surveyed again, neither by the first pass nor by their exports.
    surveyed = []
    real, real_digest = surveys.survey, library.pixels_digest
    monkeypatch.setattr(surveys, "survey", lambda psd, *args: surveyed.append(psd.name) or real(psd, *args))
    meta = out / "common" / "win_close.png.meta"
    data = json.loads(meta.read_text())
    data["packable"] = False  # what the editor or a developer may set
    meta.write_text(json.dumps(data))
    (out / "common" / "win_close.png").unlink()
    panel = files(out / "common")[out / "common" / "win_panel.png"]

    results = dict(export_many(docs, out, options))
    assert surveyed == []
    again = json.loads(meta.read_text())
    assert again["uuid"] == data["uuid"] and again["packable"] is False
    assert again["subMetas"]["win_close"]["uuid"] == data["subMetas"]["win_close"]["uuid"]
    assert files(out / "common")[out / "common" / "win_panel.png"] == panel
    assert sprite_refs(results[docs[0]].prefab)["close"] == data["subMetas"]["win_close"]["uuid"]

    # One document alone still finds what the folder holds; a changed image is its own again,
    # and only that layer is decoded to tell.
    write_psd(design((1, 2, 3, 255), close=gradient((24, 24), (0, 250, 0), (0, 0, 250))), docs[0])
    digested = []
    monkeypatch.setattr(library, "pixels_digest", lambda image: digested.append(image.size) or real_digest(image))
    result = export_psd(docs[0], out, options)
    assert surveyed == ["a"] and set(digested) == {(24, 24)}
    assert (result.shared, sorted(p.name for p in (out / "a").glob("*.png"))) == (1, ["a_bg.png", "a_win_close.png"])


@pytest.mark.parametrize("damage, warning", [
    (lambda png: png.write_bytes(b"not a png"), "cannot read the PNG"),
    (lambda png: Path(str(png) + ".meta").write_text('{"uuid": "x", "subMetas": {}}'), "names no sprite frame"),
    (lambda png: Path(str(png) + ".meta").unlink(), "has no .meta file"),
])
def test_bad_library_image_warns_and_is_not_used(tmp_path, docs, damage, warning):
    export_psd(docs[0], tmp_path / "kit", ExportOptions(jobs=1))
    kit = tmp_path / "kit" / "a"
    damage(kit / "a_win_close.png")
    result = export_psd(docs[1], tmp_path / "out", ExportOptions(jobs=1, library=[str(kit)]))
    assert result.library == 1
    assert [w for w in result.warnings if "a_win_close.png" in w and warning in w]
    assert (tmp_path / "out" / "b" / "b_win_close.png").is_file()


def test_library_digests_are_cached_until_a_png_changes(tmp_path, docs, monkeypatch):
    export_psd(docs[0], tmp_path / "kit", ExportOptions(jobs=1))
    kit = tmp_path / "kit" / "a"
    options = ExportOptions(jobs=1, library=[str(kit)])
    assert export_psd(docs[1], tmp_path / "out", options).library == 2

    decoded = []
    real = library._digest
    monkeypatch.setattr(library, "_digest", lambda png: decoded.append(os.path.basename(png)) or real(png))
    assert export_psd(docs[1], tmp_path / "out", options).library == 2
    assert decoded == []

    close = kit / "a_win_close.png"
    image = Image.open(close)
    image.putpixel((0, 0), (0, 0, 0, 0))
    image.save(close)
    result = export_psd(docs[1], tmp_path / "out", options)
    assert decoded == ["a_win_close.png"] and result.library == 1


def test_nothing_is_written_into_a_library_folder(tmp_path, docs):
    export_psd(docs[0], tmp_path / "out", ExportOptions(jobs=1))
    before = files(tmp_path / "out")
    for folder in (tmp_path / "out", tmp_path / "out" / "a"):
        with pytest.raises(road.DocumentError, match="library folder"):
            export_psd(docs[0], tmp_path / "out", ExportOptions(jobs=1, library=[str(folder)]))
    assert files(tmp_path / "out") == before


@pytest.mark.parametrize("borders, found", [((8, 8, 8, 8), {"panel", "close"}), ((0, 0, 0, 0), {"close"}),
                                            ((4, 8, 8, 8), {"close"})])
def test_a_sliced_sprite_needs_a_frame_with_its_borders(tmp_path, docs, borders, found):
    export_psd(docs[0], tmp_path / "kit", ExportOptions(jobs=1))
    meta = tmp_path / "kit" / "a" / "a_win_panel.png.meta"
    data = json.loads(meta.read_text())
    frame = data["subMetas"]["a_win_panel"]
    frame.update(zip(library.BORDER_KEYS, borders))
    meta.write_text(json.dumps(data))
    kit = {uuid: frame.png.stem for uuid, frame in sprite_frames(tmp_path / "kit" / "a").items()}
    result = export_psd(docs[1], tmp_path / "out", ExportOptions(jobs=1, library=[str(tmp_path / "kit" / "a")]))
    assert {name for name, uuid in sprite_refs(result.prefab).items() if uuid in kit} == found


def test_a_shared_name_taken_by_other_pixels_gets_the_layer_id(tmp_path, docs):
    out = tmp_path / "out"
    (out / "common").mkdir(parents=True)
    Image.new("RGBA", (3, 3), (1, 1, 1, 255)).save(out / "common" / "win_close.png")
    results = dict(export_many(docs, out, ExportOptions(jobs=1, share="common")))
    layer_id = next(layer.layer_id for layer in PSDImage.open(docs[0]).descendants() if layer.name == "close")
    assert sorted(p.name for p in (out / "common").glob("*.png")) == [f"win_close-{layer_id}.png", "win_close.png",
                                                                       "win_panel.png"]
    assert (out / "common" / f"win_close-{layer_id}.png.meta").is_file()
    assert results[docs[1]].shared == 2


def test_command_line(tmp_path, docs, capsys):
    out = tmp_path / "out"
    assert cli.main(["export", *map(str, docs), "-o", str(out), "--share", "common", "-j", "1"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[1].endswith("(5 nodes, 1 images, 2 shared, "
                             f"{sum(p.stat().st_size for p in (out / 'common').glob('*.png'))} bytes not written)")
    assert cli.main(["export", str(docs[1]), "-o", str(tmp_path / "again"), "--library", str(out / "common")]) == 0
    assert "2 from the library" in capsys.readouterr().out
    sheet = tmp_path / "sheet.png"
    assert cli.main(["check", str(docs[0]), "--share", str(out / "common"), "-o", str(sheet)]) == 0
    assert cli.main(["preview", str(out / "b.prefab"), "--share", str(out / "common"), "-o", str(sheet)]) == 0
    assert "no meta file" not in capsys.readouterr().err
