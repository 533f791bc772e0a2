"""`tessel export` on damaged documents: never a crash, always one clean error line.

A short seeded run of the fuzzer in bench/fuzz.py (the long run is that script),
the seed documents themselves, names that carry line breaks and terminal controls
into the error line, and a check that the fuzzer's verdicts flag what they must.
Every export runs in a fresh interpreter, as a user would run it.
"""

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

from tessel.testing import Doc, Pixel, Text, psd_bytes

SHARED_PSD = Path(os.environ.get("TESSEL_SHARED_PSD", Path(__file__).resolve().parents[2] / "shared" / "psd"))
FUZZ_SCRIPT = Path(__file__).resolve().parents[1] / "bench" / "fuzz.py"
if not FUZZ_SCRIPT.is_file():
    pytest.skip("bench/fuzz.py is not in this checkout", allow_module_level=True)

_spec = importlib.util.spec_from_file_location("tessel_bench_fuzz", FUZZ_SCRIPT)
fuzz = importlib.util.module_from_spec(_spec)
sys.modules[_spec.name] = fuzz
_spec.loader.exec_module(fuzz)

SEED = 20240611
CASES = 24


@pytest.fixture(scope="module")
def documents():
    return fuzz.builder_documents() + fuzz.shared_documents(SHARED_PSD)


def _explain(failures):
    return "\n".join(
        f"case {case.label} from {case.source} ({'; '.join(case.mutations)}): {outcome.reason}\n{outcome.stderr}"
        for case, outcome, _ in failures
    )


def test_short_fuzz_run_has_no_failures(documents, tmp_path):
    counts, _, failures = fuzz.fuzz(
        documents, SEED, iterations=CASES, seconds=None, jobs=min(2, os.cpu_count() or 1),
        timeout=120, memory_mb=2048, save=tmp_path, quiet=True,
    )
    assert failures == [], _explain(failures)
    assert sum(counts.values()) == CASES
    # Damage that every case stops the reader at would test the reader only.
    assert counts["exported"] and counts["refused"]


@pytest.mark.parametrize("index", range(3), ids=["main", "nested", "hostile-names"])
def test_seed_documents_export_inside_the_output_folder(index):
    name, data = fuzz.builder_documents()[index]
    outcome = fuzz.run_export(data, timeout=120)
    assert not outcome.failed, f"{name}: {outcome.reason}\n{outcome.stderr}"
    assert outcome.kind == "exported", outcome.reason


# Line breaks and terminal controls that a name can carry into the error line.
BREAKERS = "a\u2028b\u2029c\x85d\x9b31m\x7fe\x1bf"


def _error_line_of(stderr):
    assert len(stderr.splitlines()) == 1, ascii(stderr)
    assert not any(ch in stderr for ch in BREAKERS if not ch.isalnum()), ascii(stderr)
    return stderr


def test_a_file_name_with_line_breaks_gives_one_error_line(tmp_path):
    bad = tmp_path / f"doc{BREAKERS}.psd"
    bad.write_bytes(b"8BPS damaged")
    proc = subprocess.run(
        [sys.executable, "-m", "tessel", "export", str(bad), "-o", str(tmp_path / "out")],
        capture_output=True, encoding="utf-8", env=fuzz.child_env(), cwd=tmp_path,
    )
    assert proc.returncode == 1
    assert _error_line_of(proc.stderr).startswith("tessel: error: ")


def test_a_layer_name_with_line_breaks_gives_one_error_line():
    # Text engine data without its editor block is refused, and the error names the layer.
    def drop_editor(engine):
        del engine["EngineDict"]["Editor"]

    data = psd_bytes(Doc(10, 10, [Text(BREAKERS + "\U0001f600", "x", edit=drop_editor)]))
    outcome = fuzz.run_export(data, timeout=120)
    assert outcome.kind == "refused", f"{outcome.reason}\n{outcome.stderr}"
    assert "layer 'a\\u2028b\\u2029c" in _error_line_of(outcome.stderr)


def test_cases_are_reproducible_from_seed_and_index(documents):
    first = fuzz.make_case(documents, SEED, 7)
    again = fuzz.make_case(documents, SEED, 7)
    assert (first.source, first.mutations, first.data) == (again.source, again.mutations, again.data)
    assert first.data != dict(documents)[first.source]


@pytest.mark.parametrize(
    "status, stdout, stderr, stray, staged, kind",
    [
        (0, "wrote out/doc.prefab (2 nodes, 1 images)\n", "", [], [], "exported"),
        (1, "", "tessel: error: doc.psd: not a readable PSD file (x)\n", [], [], "refused"),
        (-11, "", "", [], [], "FAIL"),
        ("timeout", "", "", [], [], "FAIL"),
        (1, "", "tessel: error: doc.psd: x\nmore\n", [], [], "FAIL"),
        (1, "", "Traceback (most recent call last):\n  ...\nKeyError: 'x'\n", [], [], "FAIL"),
        (2, "", "usage: tessel\n", [], [], "FAIL"),
        (86, "", "==1==ERROR: AddressSanitizer: heap-use-after-free\n", [], [], "FAIL"),
        (1, "", "x.cpp:3:5: runtime error: signed integer overflow\n", [], [], "FAIL"),
        (0, "wrote out/doc.prefab (1 nodes, 0 images)\n", "", ["cwd/doc.png"], [], "FAIL"),
        (1, "", "tessel: error: doc.psd: x\n", [], ["doc/.doc_a.png.0badf00d.tmp"], "FAIL"),
        (0, "wrote out/doc.prefab (1 nodes, 0 images)\n", "a warning\n", [], [], "FAIL"),
    ],
    ids=[
        "exported", "refused", "signal", "hang", "two-error-lines", "traceback", "usage-error",
        "asan-report", "ubsan-report", "stray-file", "staged-file-left", "noise-on-success",
    ],
)
def test_verdicts(status, stdout, stderr, stray, staged, kind):
    assert fuzz.judge(status, stdout, stderr, stray, staged)[0] == kind
