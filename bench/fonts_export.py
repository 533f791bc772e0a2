"""Time an export of 200 labels with and without --fonts, against a folder of 50 font files.

    PYTHONPATH=python python bench/fonts_export.py [--repeat 5]

The fonts folder holds 50 links to the installed .ttf/.otf files (each file
linked again when fewer are installed), with a .meta each, and the document
200 point-text layers naming 60 fonts: up to 40 that a file answers to by its
PostScript name and 20 that none does.  Timed in one process: the export
without --fonts, the first export with --fonts (the folder scanned, every font
file opened), and later ones (the scan cached: the folder walked, no file
opened), best of --repeat each.  CPU seconds are printed beside wall seconds.
"""

import argparse
import json
import os
import resource
import sys
import tempfile
import time
from pathlib import Path

from fontTools.ttLib import TTFont

from tessel import export
from tessel.see.fontfaces import installed
from tessel.testing import Doc, Text, write_psd


def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def font_folder(folder, count=50):
    """Links to ``count`` installed font files with a .meta each; their PostScript names."""
    files = sorted(set(path for path in installed().values() if path.lower().endswith((".ttf", ".otf"))))
    if not files:
        sys.exit("no font files are installed")
    names = []
    # Fewer installed files than wanted are linked twice: the scan opens each link.
    for i, path in enumerate((files * count)[:count]):
        link = folder / f"{i:02d}-{os.path.basename(path)}"
        link.symlink_to(path)
        (folder / (link.name + ".meta")).write_text(json.dumps({"uuid": f"uuid-{i}"}))
        names.append(TTFont(path)["name"].getDebugName(6))
    return list(dict.fromkeys(names))


def document(path, names):
    fonts = names[:40] + [f"Unknown-Face{i}" for i in range(20)]
    layers = [Text(f"t{i}", f"Label {i}", left=20 + (i % 10) * 90, top=20 + (i // 10) * 40, box=(80, 30),
                   font=fonts[i % len(fonts)], size=20.0) for i in range(200)]
    write_psd(Doc(1000, 840, layers), path)


def median(runs):
    """The run of median CPU time."""
    return sorted(runs, key=lambda run: run[1])[len(runs) // 2]


def timed(path, outdir, options, repeat):
    best_wall = best_cpu = float("inf")
    for _ in range(repeat):
        wall, used = time.perf_counter(), cpu()
        result = export.export_psd(path, outdir, options)
        best_wall, best_cpu = min(best_wall, time.perf_counter() - wall), min(best_cpu, cpu() - used)
    return best_wall, best_cpu, result


def step_costs(psd, folder):
    """CPU seconds of the scan (files new, then cached) and of matching every label, fontTools imported."""
    from tessel import nodeweave
    from tessel.road import fonts

    fonts._SCANNED.clear()
    costs = {}
    for what in ("scan, files new", "scan, cached"):
        used = cpu()
        library = fonts.Library.open([folder])
        costs[what] = cpu() - used
    doc = export.open_document(psd, None)
    nodeweave.initPsdInfo(doc)
    used = cpu()
    fonts.apply_fonts(doc, library)
    costs["match 200 labels"] = cpu() - used
    return costs


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        (tmp / "fonts").mkdir()
        names = font_folder(tmp / "fonts")
        psd = tmp / "labels.psd"
        document(psd, names)
        options = export.ExportOptions(jobs=1, fonts=[str(tmp / "fonts")])
        timed(psd, tmp / "plain", export.ExportOptions(jobs=1), 1)  # warm the imports
        first = timed(psd, tmp / "first", options, 1)
        # Alternated, each first in turn, so that the machine's other load weighs on both alike.
        plain_runs, cached_runs = [], []
        for i in range(args.repeat):
            pair = [(tmp / "plain", export.ExportOptions(jobs=1), plain_runs), (tmp / "cached", options, cached_runs)]
            for outdir, opts, runs in pair[:: 1 if i % 2 else -1]:
                runs.append(timed(psd, outdir, opts, 1))
        plain = median(plain_runs)
        cached = median(cached_runs)
        steps = step_costs(psd, str(tmp / "fonts"))
        matched = json.loads(Path(cached[2].prefab).read_text()).__str__().count("'_isSystemFontUsed': False")
    print(f"200 labels, 50 font files ({matched} labels matched); seconds wall / CPU, median of {args.repeat}")
    print("  the fonts steps alone, CPU seconds: " + ", ".join(f"{k} {v:.3f}" for k, v in steps.items())
          + f" ({100 * (steps['scan, files new'] + steps['match 200 labels']) / plain[1]:.1f}% of the export "
          "without --fonts, first scan included)")
    for what, (wall, used, _) in (("without --fonts", plain), ("--fonts, first export (scan)", first),
                                  ("--fonts, later exports (cached)", cached)):
        print(f"  {what:34} {wall:6.3f} / {used:6.3f}   {100 * (used / plain[1] - 1):+5.1f}% CPU")


if __name__ == "__main__":
    main()
