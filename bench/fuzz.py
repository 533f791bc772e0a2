"""Fuzz `tessel export` with damaged PSD files.

    PYTHONPATH=python python bench/fuzz.py [--seconds 600] [--iterations N] [--seed 1]
        [--jobs N] [--timeout 60] [--save build/fuzz-failures] [--psd-dir ../shared/psd]
    PYTHONPATH=python python bench/fuzz.py --replay build/fuzz-failures/1-123.psd ...
    PYTHONPATH=python python bench/fuzz.py --seed 1 --case 123     (rebuild and run one case)

Every case takes one seed document (a few documents written with tessel.testing,
and every PSD file of --psd-dir), damages it with one to three mutations
(truncation, flipped bits, random or interesting byte values, inserted or
duplicated bytes, zeroed ranges) and exports it in a fresh interpreter; one case
in five instead writes a text layer whose engine data has values of the wrong
type or range, or lacks some, where the export reads it:

    cd EMPTY && python -m tessel export INPUT/doc.psd -o PARENT/out

Most of a real PSD is compressed pixel data; three mutations in four land in
the structure instead (header, section lengths, image resources, layer records,
the tagged blocks after the channel data), found by walking the section lengths.

A case fails when the process dies by a signal or a sanitizer report, hangs
past --timeout, exits with a status other than 0 or 1, prints a traceback,
exits 1 with anything but the one line "tessel: error: ..." on stderr, exits 0
with anything on stderr, or leaves a file anywhere but in OUTDIR (in EMPTY,
beside OUTDIR, beside the input) or a staged temporary file inside OUTDIR.  An
export that succeeds must have written strict JSON (no NaN or Infinity) into
every prefab and meta file.
Failing inputs are saved to --save with a .txt that tells what happened.

Case N of seed S is the same bytes on every run, whatever --jobs is.  Run under
the sanitizer build by setting PYTHONPATH and LD_PRELOAD as for the test suite;
the interpreters started here inherit both (no memory limit is set then: the
address sanitizer reserves terabytes of address space).
"""

import argparse
import dataclasses
import json
import os
import random
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time
from collections import Counter
from concurrent.futures import FIRST_COMPLETED, ThreadPoolExecutor, wait
from pathlib import Path

import tessel
from tessel.testing import Doc, Group, Pixel, Run, Text, gradient, psd_bytes

try:
    import resource
except ImportError:  # Windows: no address-space limit
    resource = None

DEFAULT_PSD_DIR = Path(__file__).resolve().parents[2] / "shared" / "psd"
INPUT_NAME = "doc.psd"

# Big-endian values that sit at the edges of the ranges PSD fields are read in.
INTERESTING = (
    (2, (0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF)),
    (4, (0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x00010000, 0x0000FFFF)),
)


# ---------------------------------------------------------------------------
# Seed documents


def builder_documents():
    """(name, bytes) of small documents that use every layer kind the export knows."""
    text_runs = Text(
        "Label_title 拷贝 2", "开始 Start\rline two", left=20, top=40, box=(160, 60),
        font="ArialMT", size=24.0, color=(1.0, 1.0, 0.5, 0.0), justification=2,
        runs=[Run(3, font="ArialMT"), Run(6, size=20.0, color=(1.0, 0.0, 1.0, 0.0)), Run(9)],
    )
    main = Doc(200, 160, [
        Pixel("bg", image=gradient((200, 160), (30, 30, 60), (90, 60, 30))),
        Group("Button_ok", [
            Pixel("btn_12,8,12,8", size=(60, 40), color=(200, 80, 40, 255), left=100, top=100),
            text_runs,
        ]),
        Pixel("hidden", size=(10, 10), visible=False),
        Pixel("empty", size=(0, 0)),
        Pixel("背景 copy 2 😀", size=(16, 16), color=(0, 200, 0, 128), left=-4, top=150),
    ])
    nested = Doc(64, 48, [
        Group("outer", [
            Group("NotExport_drop", [Pixel("gone", size=(8, 8))]),
            Group("inner", [
                Pixel("Image_icon_P,common/icon", size=(20, 20), left=30, top=20, opacity=128),
                Text("Label_area", "paragraph text", left=2, top=2, box=(40, 20), area=True,
                     justification=3, omit=("CharacterDirection",), style={"FauxBold": True}),
            ]),
        ]),
        Text("plain", "x", size=8.0),
    ], compression="zip")
    # Layer names that turn into path pieces: the export must keep every file inside OUTDIR.
    hostile = Doc(32, 32, [
        Pixel("..", size=(4, 4)),
        Pixel("../../escape", size=(4, 4), left=4),
        Group("/abs", [Pixel("a\\b:c*?", size=(4, 4), left=8)]),
        Pixel("x" * 200, size=(4, 4), left=12),
        Pixel("lone \ua640", size=(4, 4), left=16),
        Pixel("line\u2028sep\x85next\x9bcsi\x1b[31m", size=(4, 4), left=20),
    ])
    # The writer refuses a lone surrogate; editors write them (a cut emoji), so patch one in.
    hostile_bytes = psd_bytes(hostile)
    assert hostile_bytes.count("\ua640".encode("utf-16-be")) == 1
    hostile_bytes = hostile_bytes.replace("\ua640".encode("utf-16-be"), "\ud83d".encode("utf-16-be", "surrogatepass"))
    return [("builder-main", psd_bytes(main)), ("builder-nested", psd_bytes(nested)),
            ("builder-hostile", hostile_bytes)]


def shared_documents(folder):
    """(name, bytes) of every PSD file in ``folder`` (none when it is absent)."""
    folder = Path(folder)
    if not folder.is_dir():
        return []
    return [(path.stem, path.read_bytes()) for path in sorted(folder.glob("*.psd"))]


# ---------------------------------------------------------------------------
# Text engine edits: values of the wrong type or range where the export reads them

# Where the export reads the engine data; an edit lands on one of these or below.
ENGINE_ROOTS = (
    ("EngineDict", "Editor"), ("EngineDict", "AntiAlias"), ("EngineDict", "ParagraphRun"),
    ("EngineDict", "StyleRun"), ("ResourceDict", "FontSet"), ("ResourceDict", "StyleSheetSet"),
    ("ResourceDict", "TheNormalStyleSheet"),
)
ODD_VALUES = (
    0, -1, 1, 2, 3, 255, 2**31, -2**31 - 1, 2**63, 10**30, 0.5, -0.0, 1e308, -1e308, 1e-308,
    float("nan"), float("inf"), float("-inf"), True, False, "", "x", "\r", "图层 😀\r",
    [], [0], [1.0, 2.0, 3.0], [0.5, 0.5, 0.5, 0.5, 0.5], {}, {"Name": "x"},
)
TEXTS = ("Hello\r", "", "\r\r\r", "开始游戏\rline", "😀" * 40, "tab\tnul\x00ctl\x1b", "x" * 5000)


def _paths(value, path=()):
    yield path
    if isinstance(value, dict):
        for key, item in value.items():
            yield from _paths(item, path + (key,))
    elif isinstance(value, list):
        for index, item in enumerate(value):
            yield from _paths(item, path + (index,))


def _edit_engine(data, rng, log):
    """Change one value at or below the parts of ``data`` that the export reads."""
    root = rng.choice(ENGINE_ROOTS)
    container = data
    for key in root[:-1]:
        container = container[key]
    candidates = [root + p for p in _paths(container[root[-1]])]
    path = rng.choice(candidates)
    parent = data
    for key in path[:-1]:
        parent = parent[key]
    key = path[-1]
    where = "/".join(map(str, path))
    action = rng.random()
    if action < 0.2:
        del parent[key]
        log.append(f"delete {where}")
    elif action < 0.3 and isinstance(parent[key], list) and parent[key]:
        del parent[key][rng.randrange(len(parent[key])):]
        log.append(f"shorten {where}")
    else:
        value = rng.choice(ODD_VALUES)
        parent[key] = value if not isinstance(value, (list, dict)) else type(value)(value)
        log.append(f"set {where} = {value!r}")


def engine_document(rng):
    """(bytes, edits) of a small document whose text layer's engine data is damaged."""
    log = []

    def edit(data):
        for _ in range(rng.randint(1, 3)):
            _edit_engine(data, rng, log)

    text = rng.choice(TEXTS)
    doc = Doc(100, 60, [
        Pixel("bg", size=(100, 60), color=(10, 20, 30, 255)),
        Group("Button_go", [
            Text("Label_t", text, left=rng.randrange(-20, 90), top=rng.randrange(-20, 50), box=(40, 20),
                 justification=rng.randrange(4), runs=[Run(1, size=20.0), Run(max(1, len(text)))],
                 area=rng.random() < 0.5, edit=edit),
        ]),
    ])
    log.insert(0, f"text {text[:20]!r}")
    return psd_bytes(doc), log


# ---------------------------------------------------------------------------
# Where the structure lies


def structure_ranges(data):
    """Byte ranges of ``data`` that hold PSD structure rather than pixel data.

    Follows the section lengths of the header, colour mode data, image
    resources and layer and mask information, then the layer records up to the
    first channel's data; the rest of that section (global mask, tagged blocks,
    16- and 32-bit layer records) counts as structure too.  Stops at the first
    length that does not fit: the ranges found so far (at least the header) are
    returned.
    """
    ranges = [(0, min(len(data), 26))]
    try:
        wide = struct.unpack_from(">H", data, 4)[0] == 2  # the large document format
        pos = 26
        (color_len,) = struct.unpack_from(">I", data, pos)
        ranges.append((pos, pos + 4))
        pos += 4 + color_len
        (res_len,) = struct.unpack_from(">I", data, pos)
        ranges.append((pos, min(len(data), pos + 4 + res_len)))
        pos += 4 + res_len
        fmt = ">Q" if wide else ">I"
        size = struct.calcsize(fmt)
        (mask_len,) = struct.unpack_from(fmt, data, pos)
        section_end = min(len(data), pos + size + mask_len)
        start = pos
        pos += size
        (info_len,) = struct.unpack_from(fmt, data, pos)
        info_end = pos + size + info_len
        pos += size
        (count,) = struct.unpack_from(">h", data, pos)
        pos += 2
        for _ in range(abs(count)):
            pos += 16
            (channels,) = struct.unpack_from(">H", data, pos)
            pos += 2 + channels * (2 + size) + 12
            (extra,) = struct.unpack_from(">I", data, pos)
            pos += 4 + extra
            if pos > section_end:
                break
        ranges.append((start, min(pos, section_end)))
        if info_end < section_end:
            ranges.append((info_end, section_end))
    except struct.error:
        pass
    return [(a, b) for a, b in ranges if b > a]


# ---------------------------------------------------------------------------
# Mutations


class Mutator:
    """Damages one document with the generator ``rng``; ``log`` says what it did."""

    def __init__(self, data, rng):
        self.data = bytearray(data)
        self.rng = rng
        self.ranges = structure_ranges(data)
        self.log = []

    def position(self):
        """An offset into the data, in the structure three times in four."""
        size = len(self.data)
        if size == 0:
            return 0
        if self.ranges and self.rng.random() < 0.75:
            weights = [b - a for a, b in self.ranges]
            a, b = self.rng.choices(self.ranges, weights=weights)[0]
            return min(self.rng.randrange(a, b), size - 1)
        return self.rng.randrange(size)

    def truncate(self):
        at = self.position()
        del self.data[at:]
        self.log.append(f"truncate at {at}")

    def flip(self):
        at = self.position()
        for _ in range(self.rng.randint(1, 4)):
            spot = min(len(self.data) - 1, at + self.rng.randrange(8))
            bit = self.rng.randrange(8)
            self.data[spot] ^= 1 << bit
            self.log.append(f"flip bit {bit} at {spot}")

    def scramble(self):
        at = self.position()
        count = min(self.rng.randint(1, 8), len(self.data) - at)
        self.data[at:at + count] = self.rng.randbytes(count)
        self.log.append(f"random {count} bytes at {at}")

    def interesting(self):
        width, values = self.rng.choice(INTERESTING)
        value = self.rng.choice(values)
        at = self.position()
        self.data[at:at + width] = value.to_bytes(width, "big")
        self.log.append(f"write 0x{value:0{2 * width}x} at {at}")

    def insert(self):
        at = self.position()
        if self.rng.random() < 0.5:
            piece = self.rng.randbytes(self.rng.randint(1, 64))
            what = "random"
        else:
            start = self.rng.randrange(len(self.data))
            piece = bytes(self.data[start:start + self.rng.randint(1, 256)])
            what = f"copy of {start}"
        self.data[at:at] = piece
        self.log.append(f"insert {len(piece)} bytes ({what}) at {at}")

    def zero(self):
        at = self.position()
        count = min(self.rng.randint(1, 256), len(self.data) - at)
        self.data[at:at + count] = bytes(count)
        self.log.append(f"zero {count} bytes at {at}")

    def run(self):
        """Apply one to three mutations; a truncation only ever comes last.

        Changes in place are the most frequent: a shifted or shortened
        structure mostly stops the reader at its section lengths, while a
        changed value gets through to the export.
        """
        kinds = [self.flip, self.scramble, self.interesting, self.zero, self.insert]
        for _ in range(self.rng.randint(1, 3)):
            if not self.data:
                break
            self.rng.choices(kinds, weights=(3, 2, 3, 1, 1))[0]()
        if self.data and self.rng.random() < 0.15:
            self.truncate()
        return bytes(self.data)


@dataclasses.dataclass
class Case:
    seed: int
    index: int
    source: str
    mutations: list
    data: bytes

    @property
    def label(self):
        return f"{self.seed}-{self.index}"


def make_case(documents, seed, index):
    """Case ``index`` of the run seeded ``seed``: the same bytes on every run.

    One case in five is a text layer with damaged engine data, written whole:
    byte damage alone seldom turns a number into a string or drops one key.
    """
    rng = random.Random(f"{seed}/{index}")
    if rng.random() < 0.2:
        while True:
            try:
                data, edits = engine_document(rng)
                return Case(seed, index, "engine-edit", edits, data)
            except (TypeError, ValueError, OverflowError, UnicodeError, KeyError, IndexError):
                continue  # a value the writer cannot store; draw again
    source, data = rng.choice(documents)
    mutator = Mutator(data, rng)
    mutated = mutator.run()
    return Case(seed, index, source, mutator.log, mutated)


# ---------------------------------------------------------------------------
# Running one case


@dataclasses.dataclass
class Outcome:
    kind: str  # "exported", "refused" or "FAIL"
    reason: str
    status: object
    stdout: str
    stderr: str
    seconds: float

    @property
    def failed(self):
        return self.kind == "FAIL"


SANITIZER_MARKS = ("AddressSanitizer", "UndefinedBehaviorSanitizer", "runtime error:", "LeakSanitizer")


def _sanitized():
    return "libasan" in os.environ.get("LD_PRELOAD", "")


def child_env():
    """The environment of an export: this interpreter's tessel first on the path."""
    env = dict(os.environ)
    package_parent = str(Path(tessel.__file__).resolve().parents[1])
    env["PYTHONPATH"] = os.pathsep.join(p for p in (package_parent, env.get("PYTHONPATH")) if p)
    env.pop("PYTHONSTARTUP", None)
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    # ASan's default exit status is 1, the status of a clean refusal.
    if _sanitized() and "exitcode=" not in env.get("ASAN_OPTIONS", ""):
        env["ASAN_OPTIONS"] = ":".join(p for p in (env.get("ASAN_OPTIONS"), "exitcode=86") if p)
    return env


def _limit_memory(megabytes):
    if not megabytes or resource is None:
        return None
    limit = megabytes * 1024 * 1024

    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    return apply


def _files(folder):
    return sorted(str(p.relative_to(folder)) for p in Path(folder).rglob("*"))


STAGED = re.compile(r"^\.(tmp-.*\.json|.*\.[0-9a-f]{8}\.tmp)$")


def judge(status, stdout, stderr, stray=(), staged=()):
    """(kind, reason) of one finished export; kind "FAIL" for a fault."""
    text = stdout + stderr
    if status == "timeout":
        return "FAIL", "hang: no exit within the timeout"
    if isinstance(status, int) and status < 0:
        try:
            name = signal.Signals(-status).name
        except ValueError:
            name = str(-status)
        return "FAIL", f"killed by {name}"
    for mark in SANITIZER_MARKS:
        if mark in stderr:
            line = next(l for l in stderr.splitlines() if mark in l)
            return "FAIL", f"sanitizer: {line.strip()}"
    if "Traceback (most recent call last)" in text:
        return "FAIL", "traceback printed"
    if status not in (0, 1):
        return "FAIL", f"exit status {status}"
    if stray:
        return "FAIL", f"wrote outside OUTDIR: {', '.join(stray)[:200]}"
    if staged:
        return "FAIL", f"staged files left in OUTDIR: {', '.join(staged)[:200]}"
    lines = stderr.splitlines()
    if status == 1:
        if len(lines) != 1 or not lines[0].startswith("tessel: error: "):
            return "FAIL", f"exit 1 with {len(lines)} stderr lines, not one error line"
        if stdout:
            return "FAIL", "exit 1 with output on stdout"
        return "refused", lines[0]
    if lines:
        return "FAIL", f"exit 0 with {len(lines)} stderr lines"
    if not stdout.startswith("wrote "):
        return "FAIL", "exit 0 without its 'wrote' line"
    return "exported", stdout.strip()


def run_export(data, timeout=60.0, memory_mb=2048, env=None):
    """Export ``data`` as a PSD in a fresh interpreter; returns its :class:`Outcome`."""
    with tempfile.TemporaryDirectory(prefix="tessel-fuzz-") as tmp:
        tmp = Path(tmp)
        inputs, cwd, parent = tmp / "input", tmp / "cwd", tmp / "parent"
        for folder in (inputs, cwd, parent):
            folder.mkdir()
        psd = inputs / INPUT_NAME
        psd.write_bytes(data)
        outdir = parent / "out"
        command = [sys.executable, "-m", "tessel", "export", str(psd), "-o", str(outdir)]
        started = time.monotonic()
        proc = subprocess.Popen(
            command, cwd=cwd, env=env or child_env(), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
            preexec_fn=_limit_memory(0 if _sanitized() else memory_mb),
        )
        try:
            out, err = proc.communicate(timeout=timeout)
            status = proc.returncode
        except subprocess.TimeoutExpired:
            if hasattr(os, "killpg"):
                os.killpg(proc.pid, signal.SIGKILL)  # the export and anything it started
            else:
                proc.kill()
            out, err = proc.communicate()
            status = "timeout"
        seconds = time.monotonic() - started
        stdout = out.decode("utf-8", "replace")
        stderr = err.decode("utf-8", "replace")
        stray = [f"cwd/{p}" for p in _files(cwd)]
        stray += [f"parent/{p}" for p in _files(parent) if p != "out" and not p.startswith("out" + os.sep)]
        stray += [f"input/{p}" for p in _files(inputs) if p != INPUT_NAME]
        if psd.read_bytes() != data:
            stray.append(f"input/{INPUT_NAME} (changed)")
        staged = [p for p in _files(outdir) if STAGED.match(os.path.basename(p))] if outdir.is_dir() else []
        kind, reason = judge(status, stdout, stderr, stray, staged)
        if kind == "exported":
            broken = unreadable_json(outdir)
            if broken:
                kind, reason = "FAIL", f"exported a file the engine cannot read: {broken}"
        return Outcome(kind, reason, status, stdout, stderr, seconds)


def _no_constant(name):
    raise ValueError(f"{name} is not JSON")


def unreadable_json(outdir):
    """The first prefab or meta file in ``outdir`` that is not strict JSON, with the reason; or None."""
    for path in sorted(Path(outdir).rglob("*")):
        if path.suffix in (".prefab", ".meta"):
            try:
                json.loads(path.read_text(encoding="utf-8"), parse_constant=_no_constant)
            except (ValueError, UnicodeDecodeError) as e:
                return f"{path.relative_to(outdir)}: {e}"
    return None


def save_failure(folder, case, outcome):
    """Write the failing input and an account of it into ``folder``; returns the input's path."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / f"{case.label}.psd"
    path.write_bytes(case.data)
    report = [
        f"reason: {outcome.reason}",
        f"status: {outcome.status}",
        f"source: {case.source}",
        f"seed {case.seed} case {case.index}: " + "; ".join(case.mutations),
        f"replay: python bench/fuzz.py --replay {path}",
        "--- stdout", outcome.stdout, "--- stderr", outcome.stderr,
    ]
    path.with_suffix(".txt").write_text("\n".join(report), encoding="utf-8")
    return path


# ---------------------------------------------------------------------------
# The command


def _signature(reason):
    """A failure reason without its numbers and paths, to count alike failures once."""
    return re.sub(r"\d+", "N", reason.split(":")[0] if reason.startswith("wrote") else reason)[:120]


def _refusal_kind(line):
    """The shape of a refusal line, for the summary of what the fuzzer reached."""
    text = line.split(": ", 3)[-1]
    return re.sub(r"\d+|'[^']*'|\"[^\"]*\"", "#", text)[:90]


def fuzz(documents, seed, iterations, seconds, jobs, timeout, memory_mb, save, quiet=False):
    """Run cases until ``iterations`` ran or ``seconds`` passed.

    Returns the counts of outcome kinds, the counts of refusal shapes, and the
    failures as (case, outcome, saved input or None).
    """
    deadline = time.monotonic() + seconds if seconds else None
    env = child_env()
    counts = Counter()
    refusals = Counter()
    failures = []
    index = 0

    def more():
        if iterations is not None and index >= iterations:
            return False
        return deadline is None or time.monotonic() < deadline

    def one(i):
        case = make_case(documents, seed, i)
        return case, run_export(case.data, timeout, memory_mb, env)

    with ThreadPoolExecutor(max_workers=jobs) as pool:
        running = set()
        while running or more():
            while more() and len(running) < jobs:
                running.add(pool.submit(one, index))
                index += 1
            done, running = wait(running, return_when=FIRST_COMPLETED)
            for future in done:
                case, outcome = future.result()
                counts[outcome.kind] += 1
                if outcome.kind == "refused":
                    refusals[_refusal_kind(outcome.reason)] += 1
                if outcome.failed:
                    where = save_failure(save, case, outcome) if save else None
                    failures.append((case, outcome, where))
                    print(f"FAIL {case.label} ({case.source}): {outcome.reason}"
                          + (f" -> {where}" if where else ""), flush=True)
                total = sum(counts.values())
                if not quiet and total % 50 == 0:
                    print(f"{total} cases: " + ", ".join(f"{k} {v}" for k, v in sorted(counts.items())),
                          flush=True)
    return counts, refusals, failures


def replay(paths, timeout, memory_mb):
    status = 0
    for path in paths:
        outcome = run_export(Path(path).read_bytes(), timeout, memory_mb)
        print(f"{path}: {outcome.kind}: {outcome.reason} ({outcome.seconds:.1f} s)")
        if outcome.failed:
            status = 1
            sys.stdout.write(outcome.stderr)
    return status


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--iterations", type=int, default=None, help="number of cases (default: until --seconds)")
    parser.add_argument("--seconds", type=float, default=600.0, help="time budget, 0 for none (default 600)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds one export may take")
    parser.add_argument("--memory-mb", type=int, default=2048, help="address space of one export (0: no limit)")
    parser.add_argument("--psd-dir", default=str(DEFAULT_PSD_DIR), help="real PSD files to mutate")
    parser.add_argument("--save", default="build/fuzz-failures", help="folder for failing inputs ('' to keep none)")
    parser.add_argument("--case", type=int, action="append", help="run only this case of --seed (repeatable)")
    parser.add_argument("--replay", nargs="+", metavar="PSD", help="export these files once each and judge them")
    parser.add_argument("-q", "--quiet", action="store_true")
    args = parser.parse_args(argv)

    if args.replay:
        return replay(args.replay, args.timeout, args.memory_mb)
    documents = builder_documents() + shared_documents(args.psd_dir)
    if args.case:
        status = 0
        for i in args.case:
            case = make_case(documents, args.seed, i)
            outcome = run_export(case.data, args.timeout, args.memory_mb)
            print(f"{case.label} ({case.source}; {'; '.join(case.mutations)}): {outcome.kind}: {outcome.reason}")
            if outcome.failed:
                status = 1
                sys.stdout.write(outcome.stderr)
        return status

    print(f"seed {args.seed}: {len(documents)} documents, {args.jobs} jobs"
          + (", sanitized" if _sanitized() else ""), flush=True)
    started = time.monotonic()
    counts, refusals, failures = fuzz(
        documents, args.seed, args.iterations, args.seconds or None, args.jobs,
        args.timeout, args.memory_mb, args.save or None, args.quiet,
    )
    elapsed = time.monotonic() - started
    total = sum(counts.values())
    print(f"{total} cases in {elapsed:.0f} s: " + ", ".join(f"{k} {v}" for k, v in sorted(counts.items())))
    if not args.quiet and refusals:
        print("most frequent refusals:")
        for text, n in refusals.most_common(12):
            print(f"  {n:5d}  {text}")
    if failures:
        print(f"{len(failures)} failures:")
        for reason, n in Counter(_signature(o.reason) for _, o, _ in failures).most_common():
            print(f"  {n:5d}  {reason}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
