"""Element types, element kinds, port directions, ports, configurations and elements."""

import pytest
from hypothesis import given, settings, strategies as st

from kelo.ext.graph import (PyConfig, PyContractSpec, PyDataContract, PyElement, PyElementId,
                            PyElementKind, PyElementTypeId, PyPort, PyPortDirection, PyPortId)
from sipref import py_hash

U, FRAME = "550e8400-e29b-41d4-a716-446655440000", PyDataContract.frame()
DECODE = PyElementTypeId("kelo.decode.h264")


def element(name="decoder", kind=PyElementKind.Operator, type_id=DECODE):
    return PyElement(PyElementId.new(), type_id, name, kind)


@pytest.mark.parametrize("text", ["", "a'b\n\"c\\", "\u00e9\U0001f600\x00"])
def test_element_type_id(text):
    t = PyElementTypeId(s=text)
    assert t.as_str() == str(t) == text
    assert repr(t) == f"PyElementTypeId('{text}')"  # unescaped
    assert hash(t) == py_hash(text.encode() + b"\xff") and t != PyElementTypeId(text + "x")


def test_port_constructor_and_properties():
    pid, c = PyPortId.from_str(U), PyDataContract.frame_with(PyContractSpec().with_width(4))
    p = PyPort(contract=c, direction=PyPortDirection.Output, name="frames", id=pid)
    assert p.id == pid and p.id is not p.id and p.name == "frames" and p.direction is PyPortDirection.Output
    assert p.contract is not p.contract and str(p.contract) == "Frame[w=4]"
    assert repr(p) == str(p) == 'PyPort("frames", output)'
    assert p == p and p != PyPort(pid, "frames", PyPortDirection.Output, c)  # identity only


@pytest.mark.parametrize("name, shown", [("frames", '"frames"'), ('a"\n', '"a\\"\\n"')])  # core: the escapes
def test_port_repr_debug_text(name, shown):
    assert repr(PyPort.input(name, FRAME)) == f"PyPort({shown}, input)"
    assert repr(PyPort.output(name=name, contract=FRAME)) == f"PyPort({shown}, output)"


def test_port_makers_draw_fresh_ids():
    ports = [PyPort.input("x", FRAME), PyPort.input("x", FRAME), PyPort.output("x", FRAME)]
    assert len({p.id.uuid() for p in ports}) == 3
    assert [p.direction for p in ports] == [PyPortDirection.Input] * 2 + [PyPortDirection.Output]


def test_config_members():
    c = PyConfig()
    assert (len(c), c.len(), c.keys(), c.to_dict(), bool(c), repr(c)) == (0, 0, [], {}, False, "PyConfig(len=0)")
    assert c.set("k", "v") is None and repr(c) == str(c) == "PyConfig(len=1)"
    c.to_dict()["x"] = "y"
    c.keys().append("x")
    assert c.to_dict() == {"k": "v"} and c.keys() == ["k"] and type(c.to_dict()) is dict


@settings(max_examples=200, deadline=None)
@given(st.lists(st.tuples(st.text(max_size=4), st.text(max_size=3)), max_size=12))
def test_config_against_dict(entries):
    c, model = PyConfig(), {}
    for k, v in entries:
        c.set(k, v)
        model[k] = v
    assert c.keys() == sorted(model) and len(c) == c.len() == len(model)
    assert list(c.to_dict().items()) == sorted(model.items()) and all(c.get(k) == v for k, v in model.items())


def test_element_constructor_and_properties():
    eid = PyElementId.from_str(U)
    e = PyElement(kind=PyElementKind.Sink, name="sink", type_id=DECODE, id=eid)
    assert e.id == eid and e.id is not e.id and e.name == "sink" and e.kind is PyElementKind.Sink
    assert e.type_id == DECODE and e.type_id is not e.type_id
    assert (e.inputs, e.outputs, e.all_ports(), len(e.config)) == ([], [], [], 0)
    assert repr(e) == str(e) == 'PyElement("sink", type=kelo.decode.h264)'
    odd = element('a"\n', type_id=PyElementTypeId("x'y"))
    assert repr(odd) == 'PyElement("a\\"\\n", type=x\'y)'


def test_element_builders_copy_and_keep_the_receiver():
    e1 = element()
    a, b = PyPort.input("a", FRAME), PyPort.output("b", PyDataContract.tensor())
    e2 = e1.with_output(b)
    e3 = e2.with_input(a).with_input(a)
    assert (e1.outputs, e1.inputs) == ([], []) and [p.name for p in e2.outputs] == ["b"] and e2.inputs == []
    assert [p.id for p in e3.inputs] == [a.id, a.id]
    assert [(p.name, p.id) for p in e3.all_ports()] == [("a", a.id), ("a", a.id), ("b", b.id)]
    assert e3.all_ports()[2].direction is PyPortDirection.Output
    assert (e3.id, e3.type_id, e3.name, e3.kind) == (e1.id, e1.type_id, e1.name, e1.kind)
    # Direction is not checked here: an output port may be added as an input.
    odd = e1.with_input(PyPort.output("o", FRAME))
    assert odd.inputs[0].direction is PyPortDirection.Output


def test_branches_off_one_element_keep_their_own_ports():
    # Builder steps share the ports of earlier steps; a second branch off the same receiver, or a step on an
    # older element, sees none of the others'.
    base = element().with_input(PyPort.input("a", FRAME))
    names = lambda e: [p.name for p in e.all_ports()]
    left = base.with_input(PyPort.input("l", FRAME))
    right = base.with_input(PyPort.input("r", FRAME)).with_output(PyPort.output("o", FRAME))
    deeper, again = left.with_input(PyPort.input("l2", FRAME)), base.with_input(PyPort.input("x", FRAME))
    assert names(base) == ["a"] and (names(left), names(deeper)) == (["a", "l"], ["a", "l", "l2"])
    assert (names(right), names(again)) == (["a", "r", "o"], ["a", "x"])
    chain = [element()]
    for i in range(300):
        chain.append(chain[-1].with_output(PyPort.output(str(i), FRAME)))
    assert [len(e.outputs) for e in chain[::50]] == list(range(0, 301, 50))
    assert chain[100].outputs[-1].name == "99"


def test_element_config_is_a_copy_of_the_argument():
    e, cfg = element(), PyConfig()
    cfg.set("k", "v")
    with_cfg = e.with_config(cfg)
    cfg.set("k", "changed")
    assert with_cfg.config.to_dict() == {"k": "v"} and len(e.config) == 0
