"""Values that several holders share stay independent: a change made through one holder reaches no other."""

from kelo.ext.data import PyAttributeValue, PyBoundingBox, PyDetectedObject, PyMetadata, PyObjectId
from kelo.ext.graph import (PyConfig, PyElement, PyElementId, PyElementKind, PyElementTypeId, PyGraph,
                            PyGraphBuilder)
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId, PyProviderRegistry,
                               PySelectionPolicy, PyVersion, select_provider)


def keys(holder):
    return holder.attributes.keys()


def test_attributes_read_from_a_shared_object_are_private_copies():
    base = PyDetectedObject(PyObjectId.new(), PyBoundingBox(1, 2, 3, 4)).with_attribute(
        "b", PyAttributeValue.of_int(1))
    child, meta = base.with_attribute("a", PyAttributeValue.of_int(2)), PyMetadata()
    meta.add_object(child)
    meta.add_object(child)
    holders, earlier = [base, child, *meta.objects], child.attributes
    for h in holders:
        attrs = h.attributes
        attrs.insert("a", PyAttributeValue.of_string("changed"))  # replaces in one, adds in the other
        attrs.insert("c", PyAttributeValue.of_int(3))
        assert attrs.keys() == ["a", "b", "c"]
    copies = (child, *meta.objects)
    # Nor does it reach a read made before (reads share their entries until one is changed).
    reads = [h.attributes for h in copies] + [earlier]
    assert (keys(base), [r.keys() for r in reads], [r.get("a").as_int() for r in reads]) == \
        (["b"], [["a", "b"]] * 4, [2] * 4)


def test_config_read_from_a_shared_element_is_a_private_copy():
    config = PyConfig()
    config.set("k", "v")
    element = PyElement(PyElementId.new(), PyElementTypeId("t"), "e",
                        PyElementKind.Operator).with_config(config)
    graph = PyGraph()
    graph.add_element(element)
    built = PyGraphBuilder().add_element(element).build()
    holders = [element, graph.elements[0], graph.find_element(element.id), built.elements[0]]
    for h in holders:
        c = h.config
        c.set("k", "changed")
        c.set("new", "x")
    config.set("k", "changed too")
    assert [h.config.to_dict() for h in holders] == [{"k": "v"}] * 4


def test_a_selected_descriptor_outlives_later_registrations():
    t = PyElementTypeId("kelo.t")
    base = PyProviderDescriptor(PyProviderId("p"), PyVersion(1, 0, 0)).with_element_type(t)
    registry = PyProviderRegistry()
    registry.register(base.with_capability(PyCapability.cuda()))
    chosen = select_provider(t, registry, [], PySelectionPolicy.highest_priority())
    found = registry.find(t)[0]
    for i in range(40):  # lists grow and move
        registry.register(base.with_priority(i).with_element_type(PyElementTypeId(f"x{i}")))
    grown = chosen.with_capability(PyCapability.fp16()).with_element_type(PyElementTypeId("y"))
    for d in (chosen, found, registry.find(t)[0]):
        assert (str(d.id), d.priority, [str(c) for c in d.capabilities],
                [x.as_str() for x in d.element_types]) == ("p", 0, ["cuda"], ["kelo.t"])
    assert (len(grown.capabilities), len(registry)) == (2, 81)
