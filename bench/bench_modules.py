"""Time the module phases of two builds of tessel against each other, in alternating processes.

    PYTHONPATH=python python bench/bench_modules.py --before /tmp/perf-base/python [--rounds 5] [--runs 5]

Each round starts one process per build (before, then after, the order swapped
every other round so neither always runs on a warmer machine); each process
opens the generated document once (the flat-pixel 1,000-layer document of
bench_export.py: the module phases never read pixels) and exports it --runs
times without images, each into a fresh folder, a full collection after each.
Per phase the least CPU seconds count, on a shared machine the run that other
work disturbed least, in two tables: the first export of every process (what
`tessel export` does: psd-tools works out every group's bounds on the first look,
some 25 ms of initPsdInfo on this document, and nothing is cached from an earlier
export), and the later exports of the same opened document (bounds known, layer
names seen before: a host exporting a document again, and how the pure-Python
figures of issue #18 were taken, on the same psd-tools document).

`--after` defaults to the python/ folder next to this script, `--before` names
another tree's python/ folder holding its own built modules (for instance
`git archive main | tar -x -C /tmp/perf-base`, built there in place).
"""

import argparse
import gc
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
PHASES = ("tree build", "initPsdInfo", "fixPosition", "refleshIdAndCreateMeta", "saveToPrefab", "saveMetaFile")
# Milliseconds of the same phases in a plain Python implementation on this machine
# (issue #18): no phase may stay slower than these.
PURE_PYTHON_MS = {"tree build": 5.7, "initPsdInfo": 14.3, "fixPosition": 1.4,
                  "refleshIdAndCreateMeta": 23.0, "saveToPrefab": 90.1, "saveMetaFile": 55.8}
GOALS = {"tree build": 1.5, "initPsdInfo": 6.0, "fixPosition": 15.0, "refleshIdAndCreateMeta": 6.0}
GOAL_TOGETHER = 2.5
# The phases that only build objects: the other two are mostly the host creating files,
# whose cost the file system varies tenfold (see bench_export.file_creation_cost).
BUILDING = "the four building phases"


def child(path, runs):
    """Runs in the timed process: CPU seconds per phase of each of ``runs`` exports, in order."""
    import bench_export
    from psd_tools import PSDImage

    psdimage = PSDImage.open(path)
    times = []
    for _ in range(runs):
        with bench_export.output_folder() as outdir:
            phases, psd = bench_export.export(path, outdir, 1, images=False, psdimage=psdimage)
            del psd
        gc.collect()
        times.append({name: phases[name].cpu for name in PHASES})
    bench_export.remove_scratch()
    json.dump(times, sys.stdout)


def run_build(python_dir, path, runs):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join((python_dir, HERE)))
    out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", path, "--runs", str(runs)],
                         env=env, check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--before", required=False, help="python/ folder of the build to compare against")
    parser.add_argument("--after", default=os.path.join(HERE, os.pardir, "python"), help="python/ folder of this build")
    parser.add_argument("--rounds", type=int, default=5, help="processes per build (default 5)")
    parser.add_argument("--runs", type=int, default=5, help="exports per process (default 5)")
    parser.add_argument("--layers", type=int, default=1000, help="layers of the document (default 1000)")
    parser.add_argument("--child", metavar="PATH", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(args.child, args.runs)
        return 0

    sys.path.insert(0, HERE)
    import bench_export

    path = bench_export.document(args.layers, flat=True)
    builds = {"after": os.path.abspath(args.after)}
    if args.before:
        builds["before"] = os.path.abspath(args.before)
    first = {name: {} for name in builds}
    later = {name: {} for name in builds}
    order = sorted(builds)
    for round_ in range(args.rounds):
        for name in (order if round_ % 2 == 0 else order[::-1]):
            for number, run in enumerate(run_build(builds[name], path, args.runs)):
                into = first[name] if number == 0 else later[name]
                for phase, seconds in run.items():
                    into[phase] = min(into.get(phase, float("inf")), seconds)
        print(f"round {round_ + 1}/{args.rounds} done", file=sys.stderr, flush=True)

    print(bench_export.machine())
    print(f"{bench_export.load_average()}; document {os.path.basename(path)}; "
          f"least CPU ms of {args.rounds} processes per build, processes alternating")
    failed = table("first export of each process", first, "before" in builds)
    if args.runs > 1:
        failed = table(f"exports 2 to {args.runs} of each process, the same opened document", later,
                       "before" in builds) or failed
    print("\n" + ("FAIL" if failed else "PASS") + ": every goal and no phase slower than pure Python")
    return 1 if failed else 0


def table(title, best, compare):
    """Prints one before/after table; True when a goal fails."""
    after = best["after"]
    before = best.get("before") if compare else None
    failed = False
    rows = list(PHASES) + ["module phases together", BUILDING]
    for times in (after, before):
        if times is not None:
            times["module phases together"] = sum(times[p] for p in PHASES)
            times[BUILDING] = sum(times[p] for p in PHASES[:4])
    print(f"\n{title}\n")
    if before is None:
        print("| phase | ms | pure Python ms |\n|---|---:|---:|")
    else:
        print("| phase | before ms | after ms | speed-up | goal | pure Python ms |\n|---|---:|---:|---:|---:|---:|")
    for phase in rows:
        a = after[phase] * 1e3
        pure = PURE_PYTHON_MS.get(phase)
        pure_text = "" if pure is None else f"{pure:.1f}"
        if pure is not None and a > pure:
            failed = True
        if before is None:
            print(f"| {phase} | {a:.2f} | {pure_text} |")
            continue
        b = before[phase] * 1e3
        goal = GOALS.get(phase, GOAL_TOGETHER if phase == "module phases together" else None)
        if goal is not None and b / a < goal:
            failed = True
        goal_text = "" if goal is None else f"{goal:g}x"
        print(f"| {phase} | {b:.2f} | {a:.2f} | {b / a:.1f}x | {goal_text} | {pure_text} |")
    return failed


if __name__ == "__main__":
    sys.exit(main())
