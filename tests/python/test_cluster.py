"""Pipelines placed on a Dask cluster: the same outputs as in one process,
credit across a cut, signals and failures that cross it, a lost worker,
replicas that keep the sequence, and what the checker says of a cut.

One local cluster of two worker processes serves the module. Elements
running on the workers write what they see to files (their processes are
not this one) and wait on Dask events the test sets.
"""

import os
import signal
import sys
import time

import pytest

import kelo
import kelo.cluster
from kelo import _native
from kelo.cli import main
from kelo.elements.pixels import release, stored
from kelo.elements.sources import TestPattern
from kelo.ext.execution import PyOverflowPolicy

distributed = pytest.importorskip("distributed")

from runtime_kit import LIMIT, SERIAL, pipeline, until  # noqa: E402
from test_observe import check_trace  # noqa: E402

N = 300


# ---- elements (imported by name on the workers) ------------------------------

class Count(kelo.Element):
    """0..n-1 (config n; endless when n is absent), each under envelope
    (1000 + i, 7 * i)."""

    contract = SERIAL

    def generate(self):
        i = 0
        while "n" not in self.config or i < int(self.config["n"]):
            _native.runtime_set_envelope(1000 + i, 7 * i)
            yield {"out": i}
            i += 1


class Work(kelo.Element):
    """out = 2 * in after some pure-Python work that varies by item; fails
    on config fail_at."""

    def process(self, inputs):
        v = inputs["in"]
        if str(v) == self.config.get("fail_at"):
            raise ValueError(f"cannot work on {v}")
        sum(range(200 * (v % 7)))
        return {"out": 2 * v}


class Record(kelo.Element):
    """Writes 'value sequence timestamp' lines to config path; at the first
    item sets the Dask event config entered and waits for config gate."""

    contract = SERIAL

    def start(self):
        self.file = open(self.config["path"], "w")
        self.first = True

    def process(self, inputs):
        if self.first and "entered" in self.config:
            distributed.Event(self.config["entered"]).set()
            distributed.Event(self.config["gate"]).wait(LIMIT)
        self.first = False
        (sequence, timestamp), = _native.runtime_envelopes(self)
        self.file.write(f"{inputs['in']} {sequence} {timestamp}\n")

    def stop(self):
        self.file.close()


class Checksum(Record):
    """Writes 'sequence sum-of-pixels' of each frame to config path, then
    releases the frame (the last holder)."""

    def process(self, inputs):
        frame = inputs["in"]
        self.file.write(f"{frame.sequence} {int(kelo.pixels(frame).sum())}\n")
        release(frame)


def configured(p_elements, configs):
    p, elements = p_elements
    p._elements = [e._replace(config=configs[e.name]) for e in p._elements]
    return p, elements


def chain(tmp_path, n=N, sink_class=Record, **config):
    configs = {"src": {"n": str(n)} if n is not None else {}, "work": {},
               "sink": {"path": str(tmp_path / "out.txt")}}
    for name, extra in config.items():
        configs[name].update(extra)
    return configured(pipeline({"src": (Count, (), ("out",)), "work": (Work, ("in",), ("out",)),
                                "sink": (sink_class, ("in",), ())},
                               [("src.out", "work.in"), ("work.out", "sink.in")]), configs)


def lines(tmp_path):
    return [tuple(map(int, line.split())) for line in (tmp_path / "out.txt").read_text().split("\n")
            if line]


def events(client, *names):
    return [distributed.Event(f"{name}-{time.monotonic_ns()}", client=client) for name in names]


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as c:
        yield c


def frames(tmp_path):
    """A test pattern's 20 frames to a checksum of their pixels."""
    scene = {"frames": "20", "width": "64", "height": "64", "objects": "2"}
    return configured(pipeline({"src": (TestPattern, (), ("frames",)),
                                "sink": (Checksum, ("in",), ())}, [("src.frames", "sink.in")]),
                      {"src": scene, "sink": {"path": str(tmp_path / "out.txt")}})


def counts(report, *names):
    return {n: (report.stats[n].received, report.stats[n].processed, report.stats[n].dropped)
            for n in names}


# ---- the same outputs --------------------------------------------------------

@pytest.mark.parametrize("make, place, replicas, groups, head", [
    # envelopes cross as set (replicas: test_kelo_run_on_the_cluster_runs_the_file_placement)
    (chain, {"work": "w", "sink": "out"}, {}, ["main", "out", "w"], [(0, 1000, 0), (2, 1001, 7)]),
    # frames cross with their pixels, and nothing is left held on either side
    (frames, {"sink": "far"}, {}, ["far", "main"], [(0, 839456), (1, 839456)]),
])
def test_a_cut_pipeline_gives_what_one_process_gives(client, tmp_path, make, place, replicas,
                                                     groups, head):
    p, elements = make(tmp_path)
    alone = kelo.run(p, elements=elements, timeout=LIMIT)
    expected = lines(tmp_path)
    report = kelo.run(p, elements=elements, cluster=client, place=place, replicas=replicas,
                      timeout=LIMIT)
    assert (alone.outcome, report.outcome, lines(tmp_path), expected[:2], sorted(report.workers),
            len(set(report.workers.values())), stored(), sorted(client.run(stored).values())) == (
        "completed", "completed", expected, head, groups, 2, 0, [0, 0])
    assert counts(report, *alone.stats) == counts(alone, *alone.stats)


# ---- credit --------------------------------------------------------------------

@pytest.mark.parametrize("overflow", [None, PyOverflowPolicy.DropNewest])
def test_a_slow_receiver_holds_the_sender_or_drops_at_its_queue(client, tmp_path, overflow):
    entered, gate = events(client, "entered", "gate")
    sink = Record if overflow is None else type("Lossy", (Record,), {
        "contract": SERIAL.with_overflow(overflow)})
    p, elements = chain(tmp_path, n=2000, sink_class=sink,
                        sink={"entered": entered.name, "gate": gate.name})
    batch, credit = 8, 32
    running = kelo.cluster.start(p, cluster=client, elements=elements,
                                 place_in={"sink": "slow"}, batch=batch, credit=credit)
    entered.wait(LIMIT)
    if overflow is not None:    # everything arrives while the sink is held
        until(lambda: running.stats("receive:work.out->sink.in").processed == 2000)
    else:
        # Held: the sender waits for credit, and so does everything upstream.
        until(lambda: running.inboxes()["work.out->sink.in"][2] > 0)
        in_flight = running.stats("src").emitted
        bound = Record.queue_size + credit + 2 * batch + Work.queue_size + 4
        assert in_flight <= bound, (in_flight, bound)
    gate.set()
    report = running.wait(LIMIT)
    s = report.stats["sink"]
    assert (report.outcome, report.inboxes["work.out->sink.in"][0] <= credit,
            s.processed + s.dropped, s.dropped > 0, len(lines(tmp_path))) == (
        "completed", True, 2000, overflow is not None, s.processed)


# ---- signals and failures ------------------------------------------------------

def endless(client, tmp_path, **config):
    """An endless run cut before `work`; without `config`, once its sink has an item."""
    entered, gate = events(client, "entered", "gate")
    gate.set()
    p, elements = chain(tmp_path, n=None, **(config or {
        "sink": {"entered": entered.name, "gate": gate.name}}))
    running = kelo.start(p, elements=elements, cluster=client, place={"work": "w"})
    if not config:
        entered.wait(LIMIT)
    return running


@pytest.mark.parametrize("name, outcome", [("eos", "completed"), ("stop", "stopped"),
                                             ("cancel", "cancelled")])
def test_signals_cross_the_cut(client, tmp_path, name, outcome):
    running = endless(client, tmp_path)
    getattr(running, name)(*(["src"] if name == "eos" else []))
    report = running.wait(LIMIT)
    assert report.outcome == outcome
    if name != "cancel":      # everything the source made arrived
        assert report.stats["sink"].processed == report.stats["src"].emitted == len(lines(tmp_path))


def test_a_failure_in_one_group_stops_all_and_names_element_worker_and_traceback(client,
                                                                                tmp_path):
    report = endless(client, tmp_path, work={"fail_at": "50"}).wait(LIMIT)
    assert (report.outcome, report.failed_element, report.failed_worker,
            "ValueError: cannot work on 50" in "".join(report.error.__notes__),
            "in process" in report.error.remote_traceback) == (
        "failed", "work", report.workers["w"], True, True)


# ---- the cut in the file ---------------------------------------------------------

FILE = '''
[pipeline]
{pipeline}
[[element]]
name = "src"
type = "t.src"
kind = "source"
outputs = {{ out = "{contract}" }}

[[element]]
name = "work"
type = "t.work"
kind = "operator"
inputs = {{ in = "{contract}" }}
outputs = {{ out = "{contract}" }}
{work}
[[element]]
name = "out"
type = "t.out"
kind = "sink"
inputs = {{ in = "{contract}" }}

[[link]]
from = "src.out"
to = "work.in"

[[link]]
from = "work.out"
to = "out.in"
'''


@pytest.mark.parametrize("pipeline_, work, contract, found", [
    ('replicas = { w = 2 }', 'place = "w"\nexecution = { concurrency = "serialized" }',
     "custom:int", [("K601", 10)]),
    ('', 'place = "w"\nexecution = { input_relation = "latest_value" }', "custom:int",
     [("K602", 10)]),
    ('', 'place = "w"', "custom:local-handle", [("K603", 23)]),
    ('replicas = { main = 2 }', '', "custom:int", [("K604", 3)]),
    ('replicas = { nowhere = 2 }', '', "custom:int", [("K604", 3)]),
    ('replicas = { w = 0 }', 'place = "w"', "custom:int", [("K106", 3)]),
    ('', 'place = 3', "custom:int", [("K103", 16)]),
    ('replicas = { w = 2 }', 'place = "w"', "custom:int", []),
])
def test_check_reports_what_a_cut_makes_impossible(tmp_path, pipeline_, work, contract, found):
    path = tmp_path / "p.toml"
    path.write_text(FILE.format(pipeline=pipeline_, work=work, contract=contract))
    assert [(f.code, f.location.line) for f in kelo.check(path).findings] == found


# ---- the command -------------------------------------------------------------------

def test_run_on_a_cluster_without_distributed_says_what_to_install(tmp_path, monkeypatch,
                                                                    capsys):
    path = tmp_path / "p.toml"
    path.write_text(FILE.format(pipeline="", work="", contract="custom:int"))
    monkeypatch.setitem(sys.modules, "distributed", None)
    assert main(["run", str(path), "--workers", "2"]) == 2
    assert "apt-get install python3-distributed" in capsys.readouterr().err


def test_kelo_run_on_the_cluster_runs_the_file_placement(client, tmp_path, capsys):
    text = (FILE.format(pipeline="replicas = { w = 2 }", work='place = "w"',
                        contract="custom:int")
            .replace('type = "t.out"', f'type = "t.out"\nconfig = {{ path = "{tmp_path / "out.txt"}" }}')
            .replace('kind = "source"', 'kind = "source"\nconfig = { n = "100" }')
            .replace('kind = "sink"', 'kind = "sink"\nplace = "end"'))
    for t, cls in (("src", "Count"), ("work", "Work"), ("out", "Record")):
        text += (f'\n[[provider]]\nid = "p.{t}"\nversion = "1.0.0"\nelement_types = ["t.{t}"]\n'
                 f'entry = "test_cluster:{cls}"\n')
    (tmp_path / "p.toml").write_text(text)
    address = client.scheduler.address
    assert main(["run", str(tmp_path / "p.toml"), "--cluster", address]) == 0, capsys.readouterr()
    assert lines(tmp_path) == [(2 * i, 1000 + i, 7 * i) for i in range(100)]


# Last: the worker it kills is replaced by a new one, under another address.
def test_a_lost_worker_fails_the_run_naming_the_groups_it_held(client, tmp_path):
    running = endless(client, tmp_path)
    worker = running._workers[("w", 0)]
    os.kill(client.run(os.getpid, workers=[worker])[worker], signal.SIGKILL)
    report = running.wait(LIMIT)
    assert (report.outcome, report.failed_worker) == ("failed", worker)
    assert f"worker {worker} was lost during the run; it held group 'w'" in report.message


def test_a_traced_run_brings_every_group_into_one_trace(client, tmp_path):
    p, elements = chain(tmp_path, n=20)
    path = tmp_path / "trace.json"
    running = kelo.start(p, elements=elements, cluster=client, place={"work": "w"}, trace=path)
    report = running.wait(LIMIT)
    doc, events = check_trace(path)     # every flow, even across groups, starts and ends
    names = {e["pid"]: e["args"]["name"] for e in events if e["name"] == "process_name"}
    label = {g: f"group {g} on {w}" for g, w in report.workers.items()}
    (home,) = set(label) - {"w"}
    slices = {(e["name"], names[e["pid"]]) for e in events
              if e["ph"] == "X" and e["name"] in ("src", "work", "sink") and e["pid"] in names
              and names[e["pid"]] in label.values()}
    assert (report.outcome, slices) == ("completed", {("src", label[home]), ("work", label["w"]),
                                                      ("sink", label["w"])})
    assert len(names) == len(set(names.values()))
    assert (running.trace_written, min(e["ts"] for e in events if e["ph"] != "M")) == \
        ((doc["otherData"]["events_recorded"], 0), 0)


def test_a_tls_scheduler_is_reached_with_certificate_files(tmp_path):
    pytest.importorskip("cryptography")     # Dask makes its temporary certificates with it
    # Dask's temporary certificates, written out as a site's files would be.
    security = distributed.security.Security.temporary()
    files = {}
    for name in ("tls_ca_file", "tls_client_cert", "tls_client_key"):
        files[name] = tmp_path / f"{name}.pem"
        files[name].write_text(getattr(security, name))
    tls = kelo.cluster.Tls(str(files["tls_ca_file"]), str(files["tls_client_cert"]),
                           str(files["tls_client_key"]))
    p, elements = chain(tmp_path, n=20)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=True,
                                  host="127.0.0.1", dashboard_address=None, protocol="tls",
                                  security=security) as cluster, \
            kelo.cluster.connect(cluster.scheduler_address, tls=tls) as client:
        report = kelo.run(p, elements=elements, cluster=client, place={"work": "w"},
                          timeout=LIMIT)
    assert (cluster.scheduler_address.split(":")[0], report.outcome, len(lines(tmp_path))) == \
        ("tls", "completed", 20)
