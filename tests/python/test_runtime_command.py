"""`kelo run` and description files that run: execution tables and entry
points as located findings, the example end to end, Ctrl-C."""

import io
import json
import os
import signal
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import kelo
from kelo.cli import main

ROOT = Path(__file__).resolve().parents[2]
ELEMENTS = '''
import kelo, sys, time

class Numbers(kelo.Element):
    def generate(self):
        for i in range(int(self.config.get("count", "3"))):
            yield {"n": i}

class Endless(kelo.Element):
    def generate(self):
        print("started", flush=True)
        while True:
            time.sleep(0.001)
            yield {"n": 0}
    def stop(self):
        print("source stopped", flush=True)

class Fail(kelo.Element):
    def process(self, inputs):
        raise ValueError("no " + str(inputs["n"]))

class Keep(kelo.Element):
    def process(self, inputs):
        pass
    def stop(self):
        print("sink stopped", flush=True)
'''


def description(source="Numbers", sink="Keep", execution="", entry_module="elements"):
    return textwrap.dedent(f'''\
        [pipeline]
        name = "test"

        [[element]]
        name = "src"
        type = "t.src"
        kind = "source"
        outputs = {{ n = "custom:int" }}

        [[element]]
        name = "out"
        type = "t.out"
        kind = "sink"
        inputs = {{ n = "custom:int" }}
        {execution}

        [[link]]
        from = "src.n"
        to = "out.n"

        [[provider]]
        id = "p.src"
        version = "1.0.0"
        element_types = ["t.src"]
        entry = "{entry_module}:{source}"

        [[provider]]
        id = "p.out"
        version = "1.0.0"
        element_types = ["t.out"]
        entry = "{entry_module}:{sink}"
        ''')


@pytest.fixture
def folder(tmp_path):
    (tmp_path / "elements.py").write_text(ELEMENTS)
    return tmp_path


def kelo_run(path, *args):
    out, err = io.StringIO(), io.StringIO()
    status = main(["run", str(path), *args], out, err)
    return status, out.getvalue(), err.getvalue()


def test_the_example_runs(capsys):
    status, out, _ = kelo_run(ROOT / "examples" / "runnable.toml")
    printed = capsys.readouterr().out
    assert (status, "show: total 30" in printed, "run completed" in out) == (0, True, True)


@pytest.mark.parametrize("text, code, where", [
    (description(execution="[element.execution]\noverflow = \"rejct\""), "K105", 16),
    (description(execution="[element.execution]\nconcurrency = 0"), "K310", 16),
    (description(execution="[element.execution]\nbatch = 2"), "K102", 16),
    (description(entry_module="no_such_module"), "K410", (25, 31)),
    (description(entry_module="elements.inner"), "K410", (25, 31)),
], ids=["name", "never_runs", "unknown_key", "no_module", "no_submodule"])
def test_check_finds_execution_and_entry_problems(folder, text, code, where):
    path = folder / "p.toml"
    path.write_text(text)
    errors = [f for f in kelo.check(path).findings if f.severity == "error"]
    lines = where if isinstance(where, tuple) else (where,)
    assert [(f.code, f.location.line) for f in errors] == [(code, line) for line in lines]


@pytest.mark.parametrize("made, args, status, words, errors", [
    # what an element prints leaves the JSON document alone
    ({}, ["--json"], 0, '"outcome": "completed",\n  "ok": true,', ["sink stopped"]),
    # whichever item fails first
    ({"sink": "Fail"}, [], 1, "run failed: element 'out' failed: element 'out': ValueError: no ",
     ["Traceback (most recent call last):", "ValueError: no "]),
    ({"sink": "Missing"}, [], 1, "error K502", []),
    # an entry is imported by the run, never by the checker
    ({"entry_module": "loud"}, [], 1, "error K502: element 'src': entry 'loud:Numbers' of provider "
     "'p.src' cannot be imported: SystemExit: imported", []),
    ({"source": "Endless"}, ["--timeout", "0.1"], 1, "run timed_out", []),
    (None, [], 2, "", ["error K100: cannot read '{path}': No such file or directory"]),
])
def test_run_status_and_summary(folder, made, args, status, words, errors):
    path = folder / "p.toml"
    (folder / "loud.py").write_text("raise SystemExit('imported')\n")
    if made is not None:
        path.write_text(description(**made))
        assert [f.code for f in kelo.check(path).findings if f.severity == "error"] == []
    got, out, err = kelo_run(path, *args)
    err = [line.rstrip("0123456789") for line in err.splitlines()]
    assert (got, words in out, err[:1] + err[1:][-1:]) == (
        status, True, [e.format(path=path) for e in errors])


def test_ctrl_c_stops_cleanly(folder):
    path = folder / "p.toml"
    path.write_text(description(source="Endless"))
    env = dict(os.environ, PYTHONPATH=str(ROOT / "python"))
    child = subprocess.Popen([sys.executable, "-m", "kelo", "run", str(path)], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    for line in child.stdout:       # wait until the source runs (its word may share a line with
        if "started" in line:       # the checker's notes, printed from another thread)
            break
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=60)
    assert (child.returncode, "source stopped" in out, "sink stopped" in out,
            "run interrupted" in out) == (1, True, True, True)
