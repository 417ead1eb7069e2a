"""Values that several holders share stay independent: a change made through one holder reaches no other."""

from kelo.ext.data import (PyAttributes, PyAttributeValue, PyBoundingBox, PyDetectedObject, PyMetadata,
                           PyObjectId)
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
    holders = [base, child, *meta.objects]
    for h in holders:
        attrs = h.attributes
        attrs.insert("a", PyAttributeValue.of_string("changed"))  # replaces in one, adds in the other
        attrs.insert("c", PyAttributeValue.of_int(3))
        assert attrs.keys() == ["a", "b", "c"]
    copies = (child, *meta.objects)
    assert (keys(base), [keys(h) for h in copies], [h.attributes.get("a").as_int() for h in copies]) == \
        (["b"], [["a", "b"]] * 3, [2] * 3)


def test_inserting_into_a_copy_leaves_the_original_and_its_other_copies():
    a = PyAttributes()
    a.insert("k", PyAttributeValue.of_int(1))
    obj = PyDetectedObject(PyObjectId.new(), PyBoundingBox(0, 0, 1, 1)).with_attribute(
        "k", PyAttributeValue.of_int(1))
    first, second = obj.attributes, obj.attributes
    first.insert("k", PyAttributeValue.of_int(5))
    assert (second.get("k").as_int(), obj.attributes.get("k").as_int()) == (1, 1)
    second.insert("z", PyAttributeValue.of_bool(True))
    assert (len(first), len(second), len(obj.attributes)) == (1, 2, 1)


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
