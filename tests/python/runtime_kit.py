"""Test elements and pipelines for the runtime's tests: sources of given
values, collecting sinks, gates (threading.Event) between them, and a
pipeline made from a table of elements and links."""

import threading

import kelo
from kelo.ext.execution import PyConcurrency, PyExecutionContract
from kelo.ext.graph import PyDataContract, PyElementKind
from kelo.pipeline import ElementType, Pipeline

ANY = PyDataContract.custom("any")
SERIAL = PyExecutionContract().with_concurrency(PyConcurrency.serialized())
# Long enough never to be reached by a run that works; a hang fails instead.
LIMIT = 60


def element(name, **attrs):
    """A fresh Element subclass (class attributes are per test)."""
    attrs.setdefault("contract", SERIAL)
    return type(name, (kelo.Element,), attrs)


def source(values, *, done=None, **attrs):
    """Yields `values` on `out`; sets `done` once all are out."""

    def generate(self):
        for v in values:
            yield {"out": v}
        if done is not None:
            done.set()

    return element("Source", generate=generate, **attrs)


def sink(*, gate=None, entered=None, then=None, **attrs):
    """Collects what arrives in `got` (the value of a single input, else the
    inputs dict); sets `entered` on the first item and waits for `gate`
    there; calls `then(value)` after each."""
    got = []

    def process(self, inputs):
        if not got and entered is not None:
            entered.set()
            gate.wait(LIMIT)
        value = inputs if len(inputs) != 1 else next(iter(inputs.values()))
        got.append(value)
        if then is not None:
            then(value)

    return element("Sink", process=process, got=got, **attrs)


def mapper(f, **attrs):
    """Output `out` is f(inputs) (None: no output)."""

    def process(self, inputs):
        v = f(self, inputs)
        return None if v is None else {"out": v}

    return element("Map", process=process, **attrs)


def pipeline(table, links):
    """`table`: name -> (Element class or a native type id, inputs, outputs);
    links as ("a.out", "b.in"). Returns the pipeline and its elements mapping."""
    p, elements = Pipeline("test"), {}
    for name, (cls, ins, outs) in table.items():
        kind = (PyElementKind.Source if not ins else
                PyElementKind.Sink if not outs else PyElementKind.Operator)
        type_id = cls if isinstance(cls, str) else f"test.{name}"
        p.add(name, ElementType(type_id, kind, {i: ANY for i in ins}, {o: ANY for o in outs}))
        if not isinstance(cls, str):
            elements[type_id] = cls
    for a, b in links:
        p.link(a, b)
    return p, elements


def chain(*stages):
    """A straight pipeline: a source, operators, a sink (each (name, class));
    ports `out` -> `in`."""
    table = {}
    for k, (name, cls) in enumerate(stages):
        table[name] = (cls, () if k == 0 else ("in",), () if k == len(stages) - 1 else ("out",))
    links = [(f"{a}.out", f"{b}.in") for (a, _), (b, _) in zip(stages, stages[1:])]
    return pipeline(table, links)


def run(p_elements, **options):
    p, elements = p_elements
    options.setdefault("timeout", LIMIT)
    return kelo.run(p, elements=elements, **options)


def start(p_elements, **options):
    p, elements = p_elements
    return kelo.start(p, elements=elements, **options)


def until(condition):
    """Polls `condition` (a state of the run, never a span of time) until it
    holds; returns its last value."""
    pause = threading.Event()
    for _ in range(LIMIT * 1000):
        if value := condition():
            return value
        pause.wait(0.001)
    raise AssertionError("the run never reached the state")
