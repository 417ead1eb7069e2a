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


# ---- builders and properties --------------------------------------------

def test_fresh_spec_is_unconstrained():
    s = Spec()
    assert fields(s) == dict.fromkeys(FIELDS)
    assert (s.summary(), str(s)) == ("unconstrained", "unconstrained")
    assert repr(s) == "PyContractSpec(unconstrained)"


def test_builders_leave_the_receiver_alone():
    a = Spec().with_width(1)
    b = a.with_width(2)
    assert (Spec().width, a.width, b.width) == (None, 1, 2)
    full = (b.with_pixel_format(PyPixelFormat.custom("bayer")).with_height(3)
            .with_dtype(PyDType.Int8)
            .with_shape([1, 2]).with_coordinate_space("roi").with_content_type("tracks")
            .with_class_ids([7, 7, 1]))
    before = fields(full)
    for name, args, changes in [
            ("with_pixel_format", (PyPixelFormat.nv12(),), {"pixel_format": PyPixelFormat.nv12()}),
            ("with_width", (9,), {"width": 9}), ("with_height", (9,), {"height": 9}),
            ("with_dimensions", (4, 5), {"width": 4, "height": 5}),
            ("with_dtype", (PyDType.Bool,), {"dtype": PyDType.Bool}),
            ("with_shape", ([],), {"shape": []}),
            ("with_coordinate_space", ("custom:",), {"coordinate_space": "custom:"}),
            ("with_content_type", ("",), {"content_type": ""}),
            ("with_class_ids", ((),), {"class_ids": []})]:
        changed = getattr(full, name)(*args)
        assert type(changed) is Spec and changed is not full
        assert fields(full) == before
        assert fields(changed) == {**before, **changes}
    assert before == {"pixel_format": PyPixelFormat.custom("bayer"), "width": 2, "height": 3,
                      "dtype": PyDType.Int8, "shape": [1, 2], "coordinate_space": "roi",
                      "content_type": "tracks", "class_ids": [7, 7, 1]}
    assert full.summary() == 'pixel=Custom("bayer"),w=2,h=3,dtype=Int8,shape=[1, 2],coords=Roi,' \
                             'content=tracks,classes=[7, 7, 1]'
    assert full.with_dimensions(4, 5).summary().startswith('pixel=Custom("bayer"),w=4,h=5,dtype=')


def test_getters_return_fresh_copies():
    s = Spec().with_shape([1, 3]).with_class_ids([2]).with_pixel_format(PyPixelFormat.rgb8())
    shape, ids = s.shape, s.class_ids
    shape.append(9)
    ids.clear()
    assert (s.shape, s.class_ids) == ([1, 3], [2]) and s.shape is not s.shape
    assert s.pixel_format is not s.pixel_format and s.pixel_format == PyPixelFormat.rgb8()
    assert Spec().with_dtype(PyDType.Float16).dtype is PyDType.Float16
    spec = DC.frame_with(s).spec()
    assert spec is not None and spec.summary() == s.summary()
    assert DC.frame_with(s).spec() is not DC.frame_with(s).spec()


def test_integer_boundaries():
    top32, top64 = 2**32 - 1, 2**64 - 1
    s = Spec().with_dimensions(0, top32).with_shape([0, top64]).with_class_ids([0, top32])
    assert (s.width, s.height, s.shape, s.class_ids) == (0, top32, [0, top64], [0, top32])
    assert s.summary() == f"w=0,h={top32},shape=[0, {top64}],classes=[0, {top32}]"


@pytest.mark.parametrize("kind, canonical, shown", [  # the core tests hold the rest
    ("roi", "roi", "Roi"), ("custom:", "custom:", 'Custom("")'), ("custom:pixel", "custom:pixel", 'Custom("pixel")'),
])
def test_coordinate_space_kinds(kind, canonical, shown):
    s = Spec().with_coordinate_space(kind=kind)
    assert s.coordinate_space == canonical
    assert str(s) == "coords=" + shown


@pytest.mark.parametrize("text, quoted", [("Pixel", '"Pixel"'), ("pixel\n", '"pixel\\n"')])  # the core's message
def test_coordinate_space_kind_rejected(text, quoted):
    s = Spec().with_width(1)
    raises(ValueError, s.with_coordinate_space, text,
           msg="unknown coordinate space kind: " + quoted +
           " (expected pixel, normalized, sensor, world, roi or custom:<name>)")
    assert s.coordinate_space is None and str(s) == "w=1"


def test_keywords_and_sequences():
    s = Spec().with_dimensions(height=480, width=640)
    assert (str(s), s.width, s.height) == ("w=640,h=480", 640, 480)
    assert Spec().with_shape(shape=(1, 2)).shape == [1, 2]
    assert Spec().with_class_ids(class_ids=range(3)).class_ids == [0, 1, 2]
    assert DC.frame_with(spec=s).spec().summary() == "w=640,h=480"


def test_sequence_reading_the_receiver_meanwhile():
    # Converting the shape may run Python code that reads the receiver: both
    # calls only read it, so neither conflicts.
    s = Spec().with_width(5)

    class Shape:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            return s.with_height(i).width + i

    assert s.with_shape(Shape()).shape == [5, 6]


# ---- summaries and display forms ----------------------------------------

def test_summary_examples():
    nv12 = Spec().with_pixel_format(PyPixelFormat.nv12()).with_width(1920).with_height(1080)
    tensor = Spec().with_dtype(PyDType.Float32).with_shape([1, 3, 640, 640])
    assert str(nv12) == nv12.summary() == "pixel=NV12,w=1920,h=1080"
    assert repr(tensor) == "PyContractSpec(dtype=Float32,shape=[1, 3, 640, 640])"
    assert repr(Spec().with_dimensions(640, 480)) == "PyContractSpec(w=640,h=480)"
    assert repr(DC.frame_with(nv12)) == "PyDataContract(Frame[pixel=NV12,w=1920,h=1080])"
    comma = Spec().with_content_type("a,b,c").with_class_ids([])
    assert str(comma) == "content=a,b,c,classes=[]"


PIXEL_NAMES = "RGB8 RGBA8 BGR8 BGRA8 GRAY8 GRAY16 NV12 I420 YUV420 P010".split()
DTYPE_NAMES = "UInt8 Int8 UInt16 Int16 Int32 Int64 Float16 BFloat16 Float32 Float64 Bool".split()


@pytest.mark.parametrize("name", PIXEL_NAMES)
def test_pixel_format_variant_names(name):
    assert str(Spec().with_pixel_format(getattr(PyPixelFormat, name.lower())())) == "pixel=" + name


@pytest.mark.parametrize("name", DTYPE_NAMES)
def test_dtype_variant_names(name):
    assert str(Spec().with_dtype(getattr(PyDType, name))) == "dtype=" + name


@pytest.mark.parametrize("make, name, text, has_spec", [
    (DC.frame, "Frame", "Frame", False),
    (DC.tensor, "Tensor", "Tensor", False),
    (DC.metadata, "Metadata", "Metadata", False),
    (DC.event, "Event", "Event", False),
    (DC.batch, "Batch", "Batch", False),
    (lambda: DC.custom("lidar"), "Custom", "Custom(lidar)", False),
    (lambda: DC.custom('a"\n)'), "Custom", 'Custom(a"\n))', False),
    (lambda: DC.custom(""), "Custom", "Custom()", False),
    (lambda: DC.frame_with(Spec()), "Frame", "Frame[unconstrained]", True),
    (lambda: DC.tensor_with(Spec().with_shape([])), "Tensor", "Tensor[shape=[]]", True),
    (lambda: DC.metadata_content("detections"), "Metadata", "Metadata[content=detections]", True),
    (lambda: DC.metadata_content(""), "Metadata", "Metadata[content=]", True),
])
def test_data_contract_forms(make, name, text, has_spec):
    c = make()
    assert type(c) is DC and c.category_name() == name
    assert (str(c), repr(c)) == (text, f"PyDataContract({text})")
    spec = c.spec()
    assert (spec is not None) == has_spec
    if has_spec:
        assert f"{name}[{spec}]" == text





def test_event_and_batch_have_no_spec():
    for c in (DC.event(), DC.batch(), DC.frame(), DC.custom("t")):
        assert c.spec() is None and c.is_compatible_with(c)


# ---- a model of both rules, checked on random constraints ---------------

PIXELS = [PyPixelFormat.nv12, PyPixelFormat.rgb8, lambda: PyPixelFormat.custom("nv12"),
          lambda: PyPixelFormat.custom('b"')]
PIXEL_SHOWN = ["NV12", "RGB8", 'Custom("nv12")', 'Custom("b\\"")']
DTYPES = [PyDType.UInt8, PyDType.Bool]
KINDS = ["pixel", "roi", "custom:pixel", "custom:"]
KIND_SHOWN = ["Pixel", "Roi", 'Custom("pixel")', 'Custom("")']

small = st.integers(0, 3)
spec_model = st.fixed_dictionaries({}, optional={
    "pixel_format": st.integers(0, 3), "width": small, "height": small, "dtype": st.integers(0, 1),
    "shape": st.lists(small, max_size=3), "coordinate_space": st.integers(0, 3),
    "content_type": st.sampled_from(["", "a", "a,b"]), "class_ids": st.lists(small, max_size=4)})


def build(model):
    s = Spec()
    for field, v in model.items():
        arg = {"pixel_format": lambda: PIXELS[v](), "dtype": lambda: DTYPES[v],
               "coordinate_space": lambda: KINDS[v]}.get(field, lambda: v)()
        s = getattr(s, "with_" + field)(arg)
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
    assert sa.is_compatible_with(sb) is model_compatible(a, b)
    assert sb.is_compatible_with(sa) is model_compatible(b, a)
    for make in (DC.frame_with, DC.tensor_with):
        assert make(sa).is_compatible_with(make(sb)) is model_compatible(a, b)
        assert make(sa).is_compatible_with(DC.frame()) is (make is DC.frame_with)
