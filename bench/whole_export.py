"""Whole exports as export_psd runs them: a first export into a new folder, then an unchanged re-export.

bench_export.py runs this for the tree it lives in and, with --baseline, for
another build of the package (say main's), alternating the two, best of
--repeat.  Every export runs in a child process whose PYTHONPATH is the package
measured, so the two never share a module or a cache:

    python bench/whole_export.py DESIGN.psd OUTDIR JOBS [level1]     (prints JSON)

For this tree it also times a first export with --png-compression 1 (the
baseline may not have that option).
"""

import json
import os
import subprocess
import sys
import time

GOAL_FIRST_SPEEDUP = 2.0
GOAL_REEXPORT = 3.0


def child(psd, outdir, jobs, fast_png=False):
    """Export ``psd`` into the new folder ``outdir`` twice; prints the seconds (wall, CPU) of each.

    ``fast_png``: then a first export into another new folder with PNG compression level 1.
    """
    import tessel
    from tessel.export import ExportOptions, export_psd

    runs = [("first", outdir, {}), ("again", outdir, {})]
    if fast_png:
        runs.append(("first, level 1", outdir + "-level1", {"png_compression": 1}))
    seconds = {}
    for run, folder, options in runs:
        wall, cpu = time.perf_counter(), time.process_time()
        export_psd(psd, folder, ExportOptions(jobs=jobs, **options))
        seconds[run] = (time.perf_counter() - wall, time.process_time() - cpu)
    json.dump({"package": os.path.dirname(tessel.__file__), "seconds": seconds}, sys.stdout)


def measure(package, psd, outdir, jobs, fast_png=False):
    """Seconds {"first": (wall, cpu), "again": (wall, cpu), ...} of the package in the folder ``package``."""
    env = dict(os.environ, PYTHONPATH=package)
    done = subprocess.run([sys.executable, os.path.abspath(__file__), psd, outdir, str(jobs)] + ["level1"] * fast_png,
                          env=env, capture_output=True, text=True, check=True)
    result = json.loads(done.stdout)
    if os.path.realpath(os.path.dirname(result["package"])) != os.path.realpath(package):
        raise RuntimeError(f"measured {result['package']} instead of the package in {package}")
    return result["seconds"]


def compare(psd, jobs, repeat, packages, scratch, settle):
    """Best (wall, CPU) per package label and run, over ``repeat`` alternating rounds."""
    best = {}
    for _ in range(repeat):
        for label, package in packages.items():
            settle()
            seconds = measure(package, psd, os.path.join(scratch("whole-"), "out"), jobs, label == "this tree")
            for run, (wall, cpu) in seconds.items():
                old = best.get((label, run), (float("inf"), float("inf")))
                best[label, run] = (min(old[0], wall), min(old[1], cpu))
    return best


def report(psd, jobs, repeat, this, baseline, goals, scratch, settle):
    """Print the table of first export and unchanged re-export; check the goals when there is a baseline."""
    packages = {"baseline": baseline, "this tree": this} if baseline else {"this tree": this}
    best = compare(psd, jobs, repeat, packages, scratch, settle)
    print(f"\nWhole export of {os.path.basename(psd)} (export_psd, images on {jobs} threads), "
          f"seconds (CPU seconds), best of {repeat}:\n")
    print("| export | " + " | ".join(packages) + (" | ratio |" if baseline else " |"))
    print("|---|" + "---:|" * (len(packages) + bool(baseline)))
    for run, title in (("first", "first, into a new folder"), ("again", "again, nothing changed")):
        cells = [f"{best[label, run][0]:.3f} ({best[label, run][1]:.3f})" for label in packages]
        ratio = f" | {best['baseline', run][0] / best['this tree', run][0]:.2f}x" if baseline else ""
        print(f"| {title} | " + " | ".join(cells) + ratio + " |")
    level1 = best["this tree", "first, level 1"]
    print(f"\nFirst export with --png-compression 1 (this tree): {level1[0]:.3f} ({level1[1]:.3f})"
          + (f", {best['baseline', 'first'][0] / level1[0]:.2f}x as fast as the baseline's default" if baseline else ""))
    first, again = best["this tree", "first"][0], best["this tree", "again"][0]
    goals.check(first / again >= GOAL_REEXPORT,
                f"the unchanged re-export is {first / again:.1f}x as fast as the first export (goal >= {GOAL_REEXPORT:.0f}x)")
    if baseline:
        gain = best["baseline", "first"][0] / first
        goals.check(gain >= GOAL_FIRST_SPEEDUP,
                    f"the first export is {gain:.2f}x as fast as the baseline's (goal >= {GOAL_FIRST_SPEEDUP:.0f}x)")
    else:
        goals.check(None, "first export against a baseline: no --baseline given")


if __name__ == "__main__":
    child(sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:] == ["level1"])
