"""kelo.io: the text form of every data-model class, JSON lines, pickling and copying. Values are made at
random from the shipped JSON Schema, so every field of every class goes through each round trip."""

import copy
import io as stdio
import json
import math
import pickle
import random
import struct
import uuid

import pytest

import kelo
from checks import raises
from kelo import _native, io
from kelo.ext.data import PyBoundingBox, PyDetectedObject, PyDType, PyMetadata, PyObjectId, PyTrackState

SCHEMA = json.loads(io.schema_path.read_text())
DEFS = SCHEMA["$defs"]
TAGS = [c.__name__[2:] for c in _native.classes()]  # PyDetectedObject: DetectedObject


def resolve(s):
    while "$ref" in s:
        s = DEFS[s["$ref"].rsplit("/", 1)[1]]
    return s


def gen(rng, s, depth=0):
    """A random instance of schema s."""
    ref = s.get("$ref", "")
    if ref.endswith("/float32") or ref.endswith("/float64"):
        wide, pick = ref.endswith("64"), rng.random()
        if pick < 0.1:
            return rng.choice(["inf", "-inf", "nan", "nan:0xfff0000000000001" if wide else "nan:0x7fc00001"])
        if wide:
            return struct.unpack("<d", struct.pack("<Q", rng.getrandbits(62)))[0]
        v = struct.unpack("<f", struct.pack("<I", rng.getrandbits(32)))[0]
        return v if math.isfinite(v) else 0.5
    if ref.endswith("/uuid"):
        return str(uuid.UUID(int=rng.getrandbits(128)))
    if ref.endswith("/nanoseconds"):
        return rng.choice([0, rng.getrandbits(40), 2**64 - 1, rng.randrange(2**64 * 10**9)])
    if ref.endswith("/Metadata") and depth > 2:
        return {k: [] for k in DEFS["Metadata"]["properties"]}
    s = resolve(s)
    if "oneOf" in s or "anyOf" in s:
        return gen(rng, rng.choice(s.get("oneOf") or s["anyOf"]), depth)
    if "const" in s:
        return s["const"]
    if "enum" in s:
        return rng.choice(s["enum"])
    t = s["type"]
    if t == "boolean":
        return rng.random() < 0.5
    if t == "integer":
        return rng.randint(s["minimum"], s["maximum"])
    if t == "null":
        return None
    if t == "string":
        if "pattern" in s:  # an open descriptor: a well-known name or a custom one
            names = s["pattern"][2:-2].split("|")[:-1]
            return rng.choice(names + ["custom:", "custom:a\u00e9/\"x"])
        return rng.choice(["", "person", "a\u00e9\u4e2d\"\\", "x" * 40])
    if t == "array":
        return [gen(rng, s["items"], depth + 1) for _ in range(rng.randrange(3))]
    if "additionalProperties" in s and s["additionalProperties"] is not False:
        return {rng.choice(["a", "b", "Z", "key.with\"dot"]) + str(i):
                gen(rng, s["additionalProperties"], depth + 1) for i in range(rng.randrange(3))}
    return {k: gen(rng, v, depth + 1) for k, v in s["properties"].items()}


def same(a, b):
    """Equality of two text forms, bit for bit; a single-precision value may come back written short."""
    if isinstance(a, float) and isinstance(b, float):
        if struct.pack("<d", a) == struct.pack("<d", b):
            return True
        single = struct.pack("<f", a)
        return struct.unpack("<f", single)[0] == a and single == struct.pack("<f", b)
    if isinstance(a, dict):
        return type(b) is dict and a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return type(b) is list and len(a) == len(b) and all(map(same, a, b))
    return type(a) is type(b) and a == b


def tagged(rng, tag):
    body = gen(rng, DEFS[tag])
    if isinstance(body, dict) and "properties" in resolve(DEFS[tag]):
        return {"schema": 1, "type": tag, **body}
    return {"schema": 1, "type": tag, "value": body}


@pytest.mark.parametrize("tag", TAGS)
def test_every_class_round_trips_bit_for_bit(tag):
    rng = random.Random(tag)
    for _ in range(12):
        x = tagged(rng, tag)
        value = io.from_dict(x)
        y = io.to_dict(value)
        assert same(x, y), (x, y)
        pickled = [pickle.dumps(value, p) for p in (pickle.DEFAULT_PROTOCOL, pickle.HIGHEST_PROTOCOL)]
        backs = [io.from_dict(json.loads(json.dumps(y, allow_nan=False))), copy.copy(value),
                 copy.deepcopy(value), *map(pickle.loads, pickled)]
        assert [(type(b), io.to_dict(b)) for b in backs] == [(type(value), y)] * 5


def test_schema_file_and_enumeration_variants():
    # The schema shipped is the one the codec describes; variants come back as the same objects.
    variants = (PyDType.Float32, PyTrackState.Lost)
    assert (json.loads(_native.schema()), kelo.io, [pickle.loads(pickle.dumps(v)) is v for v in variants],
            [copy.deepcopy(v) is v for v in variants]) == (SCHEMA, io, [True] * 2, [True] * 2)


def sample(seed=0):
    rng = random.Random(seed)
    return io.from_dict(tagged(rng, "Frame")), io.from_dict(tagged(rng, "Metadata"))


def test_jsonl_round_trip_by_path_and_file(tmp_path):
    records, path = [sample(seed) for seed in range(4)], tmp_path / "results.jsonl"
    assert io.write_jsonl(path, records) == 4
    back, buf = list(io.read_jsonl(path)), stdio.StringIO()
    io.write_jsonl(buf, records)
    buf.seek(0)
    as_dicts = lambda pairs: [(io.to_dict(f), io.to_dict(m)) for f, m in pairs]  # noqa: E731
    assert as_dicts(back) == as_dicts(io.read_jsonl(buf)) == as_dicts(records)
    jsonschema = pytest.importorskip("jsonschema")
    for line in path.read_text().splitlines():
        jsonschema.validate(json.loads(line), SCHEMA)


def test_write_jsonl_takes_only_frame_metadata_pairs():
    md = PyMetadata()
    pytest.raises(TypeError, io.write_jsonl, stdio.StringIO(), [(md, md)]).match("PyMetadata, PyMetadata")


def metadata_dict():
    md = PyMetadata()
    for i in range(4):
        md.add_object(PyDetectedObject(PyObjectId.new(), PyBoundingBox(i, 0, 1, 1)).with_label("car"))
    d = io.to_dict(md)
    d["tracks"] = [gen(random.Random(1), DEFS["Track"])]
    d["objects"][0]["attributes"] = {"a": {"kind": "int", "value": 1}}
    return d


def _set(path, value):
    def edit(d):
        *head, last = path
        for k in head:
            d = d[k]
        if value is KeyError:
            del d[last]
        else:
            d[last] = value
    return edit


BAD = [  # edit of a valid metadata dict, message
    (_set(["objects", 3, "bbox", "width"], "wide"), "objects[3].bbox.width: not a number: 'wide'"),
    (_set(["objects", 2, "bbox", "x"], None), "objects[2].bbox.x: expected a number, got null"),
    (_set(["objects", 1, "bbox", "y"], 1e39), "objects[1].bbox.y: number out of single-precision range"),
    (_set(["objects", 0, "label"], KeyError), "objects[0].label: missing field"),
    (_set(["objects", 0, "colour"], "red"), "objects[0].colour: unknown field"),
    (_set(["colour"], 1), "colour: unknown field"),
    (_set(["objects", 2, "id"], "not-a-uuid"), "objects[2].id: not an identifier: 'not-a-uuid'"),
    (_set(["objects", 2, "class_id"], 5), "objects[2].class_id: expected a text, got 'int'"),
    (_set(["objects", 0, "attributes", "a", "kind"], "complex"),
     "objects[0].attributes[\"a\"].kind: unknown kind 'complex'"),
    (_set(["objects", 0, "attributes", "a", "value"], 2**63),
     "objects[0].attributes[\"a\"].value: integer out of range"),
    (_set(["tracks", 0, "first_sequence"], -1), "tracks[0].first_sequence: integer out of range"),
    (_set(["tracks", 0, "last_sequence"], True), "tracks[0].last_sequence: expected an integer, got 'bool'"),
    (_set(["tracks", 0, "state"], "Gone"), "tracks[0].state: unknown variant 'Gone'"),
    (_set(["tracks", 0, "first_timestamp", "pts_ns"], -5),
     "tracks[0].first_timestamp.pts_ns: integer out of range"),
    (_set(["objects"], {}), "objects: expected a list, got 'dict'"),
    (_set(["schema"], 2), "schema: schema version 2 is newer than this kelo reads (1)"),
    (_set(["schema"], KeyError), "schema: missing field"),
    (_set(["type"], "Gizmo"), "type: unknown type 'Gizmo'"),
    (lambda d: (d.clear(), d.update(schema=1, type="StreamId", value="x" * 99)),
     "value: not an identifier: '" + "x" * 60 + "'... (99 bytes)")]


@pytest.mark.parametrize("edit,message", BAD)
def test_bad_text_forms_name_the_field(edit, message):
    d = metadata_dict()
    edit(d)
    raises(ValueError, io.from_dict, d, msg=message)


@pytest.mark.parametrize("line,message", [
    ('{"schema":1,"frame":{},"metadata":{"objects":[NaN]}}', "line 2: not a JSON record: NaN"),
    ("[1]", "line 2: expected an object, got 'list'"),
    ('{"schema":9,"frame":{},"metadata":{}}', "line 2: schema: schema version 9 is newer"),
    ('{"schema":1,"frame":{}}', "line 2: metadata: missing field"),
    ('{"schema":1,"frame":{},"metadata":{},"x":0}', "line 2: x: unknown field"),
    ('{"schema":1,"frame":{"id":1},"metadata":{}}', "line 2: frame.id: expected a text")])
def test_bad_json_lines_name_line_and_field(line, message):
    buf = stdio.StringIO()
    io.write_jsonl(buf, [sample()])
    records = io.read_jsonl(stdio.StringIO(buf.getvalue() + line + "\n"))
    next(records)
    pytest.raises(ValueError, next, records).match(message.replace("[", r"\["))


@pytest.mark.parametrize("version", [0, -1, "1", True, 1.0, None, 2, KeyError])
def test_a_record_and_a_dict_refuse_a_schema_version_alike(version):
    d, line = metadata_dict(), {"frame": {}, "metadata": {}}
    for target in (d, line):
        target.pop("schema", None)
        if version is not KeyError:
            target["schema"] = version
    from_dict = raises(ValueError, io.from_dict, d)
    records = io.read_jsonl(stdio.StringIO(json.dumps(line) + "\n"))
    raises(ValueError, list, records, msg=f"line 1: {from_dict}")


@pytest.mark.parametrize("tag,state", [("Metadata", ()), ("Frame", None), ("Nope", ()),
                                       ("StreamId", b"short")])
def test_corrupt_pickle_states_fail_cleanly(tag, state):
    pytest.raises(ValueError, _native.restore, tag, state)


def test_to_dict_refuses_what_is_not_data_model():
    raises(TypeError, io.to_dict, 5, msg="'int' is not a class of the data model")


def test_single_precision_written_short_and_read_back_exactly():
    box = PyBoundingBox(0.1, 1 / 3, float("inf"), float("nan"))
    d = io.to_dict(box)
    assert json.dumps(d).startswith('{"schema": 1, "type": "BoundingBox", "x": 0.1, "y": 0.33333334,')
    assert (d["width"], d["height"]) == ("inf", "nan")
    back = io.from_dict(d)
    assert (back.x, back.y, back.width, math.isnan(back.height)) == (box.x, box.y, box.width, True)


def test_deeply_nested_payloads_are_refused_not_overflowed():
    d, event = metadata_dict(), gen(random.Random(2), DEFS["Event"])
    inner = {k: [] for k in DEFS["Metadata"]["properties"]}
    for _ in range(20000):
        inner = {**inner, "events": [{**event, "payload": inner}]}
    d["events"] = inner["events"]
    with pytest.raises(ValueError, match=r"^events\[0\]\.payload\.events\[0\].*: nested too deeply$"):
        io.from_dict(d)
