"""Element types, element kinds, port directions, ports, configurations and elements."""

import pytest

from kelo.ext.graph import (PyConfig, PyContractSpec, PyDataContract, PyElement, PyElementId,
                            PyElementKind, PyElementTypeId, PyPort, PyPortDirection, PyPortId)
from sipref import py_hash

U, FRAME = "550e8400-e29b-41d4-a716-446655440000", PyDataContract.frame()
DECODE, IN, OUT = PyElementTypeId("kelo.decode.h264"), PyPortDirection.Input, PyPortDirection.Output


def element(name="decoder", kind=PyElementKind.Operator, type_id=DECODE):
    return PyElement(PyElementId.new(), type_id, name, kind)


def ports(e):
    return [[(p.name, p.direction) for p in side] for side in (e.inputs, e.outputs)]


@pytest.mark.parametrize("text", ["", "a'b\n\"c\\", "\u00e9\U0001f600\x00"])
def test_element_type_id(text):
    t = PyElementTypeId(s=text)
    assert (t.as_str(), str(t), repr(t)) == (text, text, f"PyElementTypeId('{text}')")  # unescaped
    assert (hash(t), t != PyElementTypeId(text + "x")) == (py_hash(text.encode() + b"\xff"), True)


def test_port_constructor_and_properties():
    pid, c = PyPortId.from_str(U), PyDataContract.frame_with(PyContractSpec().with_width(4))
    p = PyPort(contract=c, direction=OUT, name="frames", id=pid)
    assert (p.id, p.name, p.direction, str(p.contract), repr(p), str(p)) == \
        (pid, "frames", OUT, "Frame[w=4]", 'PyPort("frames", output)', 'PyPort("frames", output)')


@pytest.mark.parametrize("name, shown", [("frames", '"frames"'), ('a"\n', '"a\\"\\n"')])  # core: the escapes
def test_port_makers_draw_fresh_ids(name, shown):
    made = [PyPort.input(name, FRAME), PyPort.input(name, FRAME), PyPort.output(name=name, contract=FRAME)]
    assert [repr(p) for p in made] == [f"PyPort({shown}, input)"] * 2 + [f"PyPort({shown}, output)"]
    assert len({p.id.uuid() for p in made}) == 3


def test_config_members():
    c = PyConfig()
    assert (len(c), c.len(), c.keys(), c.to_dict(), bool(c), repr(c)) == (0, 0, [], {}, False, "PyConfig(len=0)")
    assert (c.set("k", "v"), repr(c), str(c)) == (None, "PyConfig(len=1)", "PyConfig(len=1)")
    c.to_dict()["x"] = "y"
    c.keys().append("x")
    assert (c.to_dict(), c.keys(), type(c.to_dict())) == ({"k": "v"}, ["k"], dict)


def test_element_constructor_and_properties():
    eid = PyElementId.from_str(U)
    e = PyElement(kind=PyElementKind.Sink, name="sink", type_id=DECODE, id=eid)
    assert (e.id, e.name, e.kind, e.type_id, e.all_ports(), ports(e), len(e.config)) == \
        (eid, "sink", PyElementKind.Sink, DECODE, [], [[], []], 0)
    assert (repr(e), str(e)) == ('PyElement("sink", type=kelo.decode.h264)',) * 2
    assert repr(element('a"\n', type_id=PyElementTypeId("x'y"))) == 'PyElement("a\\"\\n", type=x\'y)'


def test_builders_branch_and_keep_the_receiver():
    # Builder steps share the ports of earlier steps; a second branch off the same receiver, or a step on an
    # older element, sees none of the others'. Directions are not checked here.
    e1, a, o = element(), PyPort.input("a", FRAME), PyPort.output("o", PyDataContract.tensor())
    base = e1.with_input(a)
    left = base.with_input(PyPort.input("l", FRAME))
    right = base.with_input(a).with_output(o)
    deeper = left.with_input(PyPort.input("l2", FRAME))
    odd = base.with_input(PyPort.output("x", FRAME))
    assert [ports(e) for e in (e1, base, left, deeper, right, odd)] == [
        [[], []], [[("a", IN)], []], [[("a", IN), ("l", IN)], []],
        [[("a", IN), ("l", IN), ("l2", IN)], []], [[("a", IN)] * 2, [("o", OUT)]],
        [[("a", IN), ("x", OUT)], []]]
    kept = [(e.id, e.type_id, e.name, e.kind) for e in (e1, right)]
    source = e1.with_output(o)  # more outputs than inputs
    assert ([p.id for p in right.all_ports()], [p.id for p in source.all_ports()], kept[1]) == \
        ([a.id, a.id, o.id], [o.id], kept[0])
    chain = [element()]
    for i in range(300):
        chain.append(chain[-1].with_output(PyPort.output(str(i), FRAME)))
    assert ([len(e.outputs) for e in chain[::50]], chain[100].outputs[-1].name) == \
        (list(range(0, 301, 50)), "99")
