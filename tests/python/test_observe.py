"""Seeing a run: figures as JSON, traces, progress and stall reports, on fake
snapshots, on a traced run and through `kelo run` held by a gate."""

import io
import json
import sys

import pytest

from kelo.cli import main
from kelo.runtime.observe import (ElementState, Snapshot, StallDetector, StallReport, bottleneck,
                                  stats_dict)
from kelo.runtime.progress import Progress, table
from kelo.runtime.running import ElementStats
from checks import raises
from runtime_kit import chain, mapper, run, sink, source
from test_runtime_command import description

S = 1_000_000_000


def snap(t, moved, *elements, stats=None):
    stats = stats or {e.name: ElementStats() for e in elements}
    return Snapshot(t, tuple(elements), stats, moved)


# ---- figures ---------------------------------------------------------------------


@pytest.mark.parametrize("stats, expected", [
    ({}, None),
    ({"a": ElementStats()}, None),
    ({"a": ElementStats(processed=10, latency_mean_ns=1e6, elapsed_ns=100_000_000),
      "b": ElementStats(processed=10, latency_mean_ns=5e6, elapsed_ns=100_000_000)}, "b"),
    # four at once: b's 5 ms per item occupy a quarter of its capacity
    ({"a": ElementStats(processed=10, latency_mean_ns=2e6, elapsed_ns=100_000_000),
      "b": ElementStats(processed=10, latency_mean_ns=5e6, elapsed_ns=100_000_000,
                        max_concurrent=4)}, "a"),
])
def test_the_bottleneck_is_the_busiest_element(stats, expected):
    assert bottleneck(stats) == expected


# ---- stalls ----------------------------------------------------------------------

SINK_STUCK = (
    ElementState("src", held=True),
    ElementState("mid", ("in",), (0,), 4, ((),), waiting_port="in"),
    ElementState("out", ("in",), (4,), 4, (("src",),), running_ns=(3 * S, 12 * S)),
    ElementState("done", ("in",), (0,), 4, ((),), waiting_port="in", ended=True),
)


def test_a_stall_report_names_running_waiting_and_blocked_elements():
    report = StallReport.of(snap(0, 0, *SINK_STUCK), 11 * S)
    assert (report.lines(), report.as_dict()) == ([
        "stall: no item has moved for 11.0 s",
        "  running  out: 2 executions, the longest for 12.0 s",
        "  waiting  mid: for input on queue mid.in",
        "  blocked  src: by the full queue out.in",
    ], {"still_ns": 11 * S, "running": ["out"], "waiting": ["mid"], "blocked": ["src"],
        "running_ns": {"out": 12 * S}, "waiting_on": {"mid": "mid.in"},
        "blocked_on": {"src": "out.in"}})


@pytest.mark.parametrize("feed, reports", [
    # (time in s, moved, every element ended) -> which checks report
    ([(0, 5, False), (9.9, 5, False), (10, 5, False), (30, 5, False)],
     [False, False, True, False]),                       # once per stall
    ([(0, 5, False), (8, 6, False), (17, 6, False), (18, 6, False)],
     [False, False, False, True]),                       # movement re-arms
    ([(0, 5, False), (10, 5, True)], [False, False]),    # an ended run never stalls
])
def test_the_detector_reports_a_stall_once_after_the_timeout(feed, reports):
    detector = StallDetector(10)
    states = [ElementState("a", ended=ended) for _, _, ended in feed]
    seen = [detector.check(snap(int(t * S), moved, state)) is not None
            for (t, moved, _), state in zip(feed, states)]
    assert seen == reports


# ---- progress --------------------------------------------------------------------

PROGRESS = (ElementState("src"), ElementState("det", ("in",), (3,), 4, ((),)),
            ElementState("out", ("in",), (0,), 8, ((),), ended=True))
FIGURES = {"src": ElementStats(processed=120, emitted=120, elapsed_ns=2 * S),
           "det": ElementStats(received=120, processed=110, emitted=110, dropped=7,
                               latency_mean_ns=15e6, elapsed_ns=2 * S),
           "out": ElementStats(received=110, processed=110, latency_mean_ns=1e6,
                               elapsed_ns=2 * S)}


def test_the_progress_table():
    rows, slowest = table(snap(2 * S, 0, *PROGRESS, stats=FIGURES))
    assert (rows, slowest) == ([
        "element       in  done  out  rate/s  queue  drops",
        "src            0   120  120      60      -      0",
        "det          120   110  110      55    3/4      7",
        "out (ended)  110   110    0      55    0/8      0",
    ], "det")


def test_plain_progress_lines_come_every_few_seconds():
    out = io.StringIO()
    progress = Progress(out, tty=False, every_s=5)
    for t in range(12):
        progress.update(snap(t * S, t, *PROGRESS, stats=FIGURES))
    assert out.getvalue().splitlines() == [
        "progress 5.0 s: src 120 done 0/s, det 110 done 0/s q 3 drops 7 (slowest), out 110 done 0/s q 0",
        "progress 10.0 s: src 120 done 0/s, det 110 done 0/s q 3 drops 7 (slowest), out 110 done 0/s q 0",
    ]


def test_a_terminal_table_is_redrawn_in_place_with_the_slowest_highlighted():
    out = io.StringIO()
    progress = Progress(out, tty=True)
    progress.update(snap(0, 0, *PROGRESS, stats=FIGURES))
    first = out.getvalue()
    progress.update(snap(S, 0, *PROGRESS, stats=FIGURES))
    again = out.getvalue()[len(first):]
    assert (first[:3], again[:7], "\x1b[1;33mdet " in again) == ("\x1b[J", "\x1b[5F\x1b[J", True)


# ---- traces ------------------------------------------------------------------------


def check_trace(path):
    """The file loads as JSON; every event has the format's keys, every flow
    a start and an end; returns the events."""
    doc = json.loads(path.read_text())
    events = doc["traceEvents"]
    for e in events:
        assert ({"name", "ph", "pid", "tid", "ts"} <= set(e), type(e["ts"]) in (int, float)) == (
            True, True), e
    flows = {}
    for e in events:
        if e["ph"] in "stf":
            flows.setdefault((e["cat"], e["id"]), []).append(e["ph"])
    assert all(phases == ["s", "f"] for phases in flows.values()), flows
    return doc, events


def test_a_traced_run_writes_a_chrome_trace_and_its_figures_reach_json(tmp_path):
    path = tmp_path / "run.json"
    mid = mapper(lambda self, inputs: inputs["in"])
    report = run(chain(("src", source(range(4))), ("mid", mid), ("out", sink())), trace=path)
    f = stats_dict(report.stats["out"])
    doc, events = check_trace(path)
    names = {e["args"]["name"] for e in events if e["name"] == "thread_name"}
    assert ({k: f[k] for k in ("received", "processed", "dropped", "max_ns")},
            {"p50_ns", "p90_ns", "p99_ns", "wait_ns", "blocked_ns"} <= set(f),
            {"src", "mid", "out", "source src"} <= names, doc["otherData"]["events_lost"]) == (
        {"received": 4, "processed": 4, "dropped": 0,
         "max_ns": report.stats["out"].latency_max_ns}, True, True, 0)


def test_a_trace_past_its_cap_counts_what_it_lost(tmp_path):
    path = tmp_path / "run.json"
    with pytest.warns(UserWarning, match="were not recorded"):
        report = run(chain(("src", source(range(3000))), ("out", sink())), trace=path,
                     trace_events=1)
    doc, _ = check_trace(path)
    assert (report.ok, doc["otherData"]["events_lost"] > 0) == (True, True)


# ---- kelo run ------------------------------------------------------------------------

STUCK = '''
import threading, kelo
GATE = threading.Event()

class Numbers(kelo.Element):
    def generate(self):
        for i in range(100):
            yield {"n": i}

class Stuck(kelo.Element):
    queue_size = 2
    def process(self, inputs):
        GATE.wait(60)
'''


def test_kelo_run_reports_a_stall_and_fails_on_it(tmp_path):
    (tmp_path / "stuck_elements.py").write_text(STUCK)
    (tmp_path / "p.toml").write_text(description(sink="Stuck", entry_module="stuck_elements"))
    sys.modules.pop("stuck_elements", None)
    out, err = io.StringIO(), io.StringIO()
    args = ["run", str(tmp_path / "p.toml"), "--stall-timeout", "0.2", "--fail-on-stall",
            "--quiet", "--trace", str(tmp_path / "t.json"), "--json"]
    try:
        status = main(args, out, err)
    finally:
        sys.modules["stuck_elements"].GATE.set()
    check_trace(tmp_path / "t.json")
    lines = err.getvalue().splitlines()
    at = next(i for i, line in enumerate(lines) if line.startswith("stall: "))
    assert (status, lines[at].startswith("stall: no item has moved for"),
            [line.split(":")[0] for line in lines[at + 1:at + 3]]) == \
        (1, True, ["  running  out", "  blocked  src"])
    doc = json.loads(out.getvalue())
    assert (doc["outcome"], doc["stall"]["running"], doc["stall"]["blocked"],
            doc["stall"]["blocked_on"], doc["stats"]["out"]["processed"]) == \
        ("stalled", ["out"], ["src"], {"src": "out.n"}, 0)


@pytest.mark.parametrize("value", ["0", "-2", "nan", "soon", "inf"])
def test_the_stall_timeout_must_be_positive_seconds(value):
    err = io.StringIO()
    assert main(["run", "p.toml", "--stall-timeout", value], io.StringIO(), err) == 2
    assert f"{value!r} is not a positive number of seconds" in err.getvalue()
    if value not in ("soon", "inf"):
        raises(ValueError, StallDetector, float(value),
               msg=f"the stall timeout must be a positive number of seconds, not {float(value)!r}")
