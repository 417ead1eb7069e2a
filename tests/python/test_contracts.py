"""Contract constraints (PyContractSpec) and data contracts: builders,
summaries, display forms and both compatibility rules."""

import pytest
from hypothesis import given, settings, strategies as st

from kelo.ext.data import PyDType, PyPixelFormat
from kelo.ext.graph import PyContractSpec, PyDataContract
from checks import raises

Spec, DC = PyContractSpec, PyDataContract
FIELDS = ["pixel_format", "width", "height", "dtype", "shape", "coordinate_space", "content_type",
          "class_ids"]


def fields(spec):
    return {f: getattr(spec, f) for f in FIELDS}


def test_unconstrained_and_dimensions():  # the model test below sets each field once
    assert (fields(Spec()), repr(Spec())) == (dict.fromkeys(FIELDS), "PyContractSpec(unconstrained)")
    a = Spec().with_width(1)
    b = a.with_width(2).with_dimensions(4, 5)
    assert (a.width, b.width, b.height) == (1, 4, 5)


def test_coordinate_space_kind_rejected():  # the core's message, passed through
    s = Spec().with_width(1)
    raises(ValueError, s.with_coordinate_space, "Pixel",
           msg='unknown coordinate space kind: "Pixel" (expected pixel, normalized, sensor, world, roi or custom:<name>)')
    assert (s.coordinate_space, str(s)) == (None, "w=1")


@pytest.mark.parametrize("make, name, text, has_spec", [(DC.frame, "Frame", "Frame", False),
    (DC.tensor, "Tensor", "Tensor", False), (DC.metadata, "Metadata", "Metadata", False),
    (DC.event, "Event", "Event", False), (DC.batch, "Batch", "Batch", False),
    (lambda: DC.custom("lidar"), "Custom", "Custom(lidar)", False),
    (lambda: DC.frame_with(Spec()), "Frame", "Frame[unconstrained]", True),
    (lambda: DC.tensor_with(Spec().with_shape([])), "Tensor", "Tensor[shape=[]]", True),
    (lambda: DC.metadata_content("detections"), "Metadata", "Metadata[content=detections]", True)])
def test_data_contract_forms(make, name, text, has_spec):
    c = make()
    spec = c.spec()
    assert (type(c), c.category_name(), str(c), repr(c), spec is not None) == \
        (DC, name, text, f"PyDataContract({text})", has_spec)


PIXELS = [PyPixelFormat.nv12, PyPixelFormat.rgb8, lambda: PyPixelFormat.custom("nv12"),
          lambda: PyPixelFormat.custom('b"')]
PIXEL_SHOWN, DTYPES = ["NV12", "RGB8", 'Custom("nv12")', 'Custom("b\\"")'], [PyDType.UInt8, PyDType.Bool]
KINDS = ["pixel", "roi", "custom:pixel", "custom:"]
KIND_SHOWN = ["Pixel", "Roi", 'Custom("pixel")', 'Custom("")']

small = st.integers(0, 3)
spec_model = st.fixed_dictionaries({}, optional={
    "pixel_format": st.integers(0, 3), "width": small, "height": small, "dtype": st.integers(0, 1),
    "shape": st.lists(small, max_size=3), "coordinate_space": st.integers(0, 3),
    "content_type": st.sampled_from(["", "a", "a,b"]), "class_ids": st.lists(small, max_size=4)})


CHOICES = {"pixel_format": PIXELS, "dtype": [lambda: DTYPES[0], lambda: DTYPES[1]],
           "coordinate_space": [lambda k=k: k for k in KINDS]}


def build(model):
    s = Spec()
    for field, v in model.items():
        before = fields(s)
        made = getattr(s, "with_" + field)(CHOICES[field][v]() if field in CHOICES else v)
        assert fields(s) == before  # builders leave the receiver alone
        s = made
    return s


def model_summary(m):
    show = {"pixel_format": ("pixel=", lambda v: PIXEL_SHOWN[v]), "width": ("w=", str),
            "height": ("h=", str), "dtype": ("dtype=", lambda v: ["UInt8", "Bool"][v]),
            "shape": ("shape=", str), "coordinate_space": ("coords=", lambda v: KIND_SHOWN[v]),
            "content_type": ("content=", str), "class_ids": ("classes=", str)}
    pieces = [show[f][0] + show[f][1](m[f]) for f in FIELDS if f in m]
    return ",".join(pieces) or "unconstrained"


def model_compatible(a, b):
    for f in FIELDS:
        if f in a and f in b:
            ok = set(a[f]) <= set(b[f]) if f == "class_ids" else a[f] == b[f]
            if not ok:
                return False
    return True


@settings(max_examples=300, deadline=None)
@given(spec_model, spec_model)
def test_against_model(a, b):
    sa, sb = build(a), build(b)
    assert sa.summary() == model_summary(a)
    assert fields(sa) == {f: None if f not in a else CHOICES[f][a[f]]() if f in CHOICES else a[f]
                          for f in FIELDS}
    assert (sa.is_compatible_with(sb), sb.is_compatible_with(sa)) == \
        (model_compatible(a, b), model_compatible(b, a))
    for make in (DC.frame_with, DC.tensor_with):
        assert make(sa).spec().summary() == sa.summary()
        assert (make(sa).is_compatible_with(make(sb)), make(sa).is_compatible_with(DC.frame())) == \
            (model_compatible(a, b), make is DC.frame_with)
