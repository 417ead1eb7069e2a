// The records of the data model, field by field: the one place where
// kelo._native reads and writes the core's structures. The record codec
// (records.cpp) walks these lists; the columns (columns.cpp) use the
// accessors at the end. A change of the core's layout is absorbed here.
//
// fields(v, x) calls v(name, member) for every field of x, in the order the
// record lists them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>

#include "data/frame.h"
#include "data/metadata.h"
#include "data/stream.h"
#include "toolkit/python.h"

namespace kelo::py::records {

using namespace kelo_core::data;

// A field's name, with its text as an interned str made once.
template <std::size_t N>
struct Literal {
  char text[N];
  constexpr Literal(const char (&s)[N]) { std::copy_n(s, N, text); }  // NOLINT
};

struct FieldName {
  const char* text;
  PyObject* (*key)();
};

template <Literal L>
PyObject* interned() {
  static PyObject* key = PyUnicode_InternFromString(L.text);  // kept for the process
  return key;
}

template <Literal L>
inline constexpr FieldName kName{L.text, &interned<L>};

#define KELO_FIELD(name, member) v(::kelo::py::records::kName<name>, member)

template <class V> void fields(V& v, Point2D& x) { KELO_FIELD("x", x.x); KELO_FIELD("y", x.y); }
template <class V> void fields(V& v, CoordinateSpaceReference& x) {
  KELO_FIELD("kind", x.kind);
  KELO_FIELD("id", x.id);
}
template <class V> void fields(V& v, CoordinateSpace& x) {
  KELO_FIELD("kind", x.kind);
  KELO_FIELD("reference", x.reference);
}
template <class V> void fields(V& v, BoundingBox& x) {
  KELO_FIELD("x", x.x);
  KELO_FIELD("y", x.y);
  KELO_FIELD("width", x.width);
  KELO_FIELD("height", x.height);
  KELO_FIELD("coordinate_space", x.coordinate_space);
}
template <class V> void fields(V& v, Polygon& x) {
  KELO_FIELD("exterior", x.exterior);
  KELO_FIELD("holes", x.holes);
  KELO_FIELD("coordinate_space", x.coordinate_space);
}
template <class V> void fields(V& v, TimestampAnnotation& x) {
  KELO_FIELD("clock", x.clock);
  KELO_FIELD("counter", x.counter);
  KELO_FIELD("flags", x.flags);
}
template <class V> void fields(V& v, Timestamp& x) {
  KELO_FIELD("pts_ns", x.monotonic);
  KELO_FIELD("dts_ns", x.dts);
  KELO_FIELD("annotation", x.annotation);
}
template <class V> void fields(V& v, FrameRate& x) {
  KELO_FIELD("numerator", x.numerator);
  KELO_FIELD("denominator", x.denominator);
}
template <class V> void fields(V& v, VideoFormat& x) {
  KELO_FIELD("width", x.width);
  KELO_FIELD("height", x.height);
  KELO_FIELD("pixel_format", x.pixel_format);
  KELO_FIELD("color_space", x.color_space);
  KELO_FIELD("color_range", x.color_range);
  KELO_FIELD("frame_rate", x.frame_rate);
}
template <class V> void fields(V& v, Tensor& x) {
  KELO_FIELD("dtype", x.dtype);
  KELO_FIELD("shape", x.shape);
  KELO_FIELD("strides", x.strides);
  KELO_FIELD("layout", x.layout);
  KELO_FIELD("name", x.name);
  KELO_FIELD("buffer_id", x.buffer_id);
}
template <class V> void fields(V& v, ModelReference& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("version", x.version);
}
template <class V> void fields(V& v, Embedding& x) {
  KELO_FIELD("tensor", x.tensor);
  KELO_FIELD("name", x.name);
  KELO_FIELD("model", x.model);
}
template <class V> void fields(V& v, SourceInfo& x) {
  KELO_FIELD("source_id", x.source_id);
  KELO_FIELD("kind", x.kind);
  KELO_FIELD("uri", x.uri);
  KELO_FIELD("name", x.name);
}
template <class V> void fields(V& v, StreamCapabilities& x) {
  KELO_FIELD("supports_random_access", x.supports_random_access);
  KELO_FIELD("supports_seek", x.supports_seek);
  KELO_FIELD("live", x.live);
  KELO_FIELD("variable_frame_rate", x.variable_frame_rate);
  KELO_FIELD("hardware_timestamps", x.hardware_timestamps);
}
template <class V> void fields(V& v, Stream& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("source", x.source);
  KELO_FIELD("format", x.format);
  KELO_FIELD("capabilities", x.capabilities);
}
template <class V> void fields(V& v, Frame& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("stream_id", x.stream_id);
  KELO_FIELD("sequence", x.sequence);
  KELO_FIELD("timestamp", x.timestamp);
  KELO_FIELD("duration_ns", x.duration);
  KELO_FIELD("format", x.format);
  KELO_FIELD("buffer_id", x.buffer_id);
  KELO_FIELD("metadata_id", x.metadata_id);
}
template <class V> void fields(V& v, EntityReference& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("kind", x.kind);
}
template <class V> void fields(V& v, Provenance& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("timestamp", x.timestamp);
  KELO_FIELD("model", x.model);
  KELO_FIELD("references", x.references);
}
// An object's fields as one record (the object keeps some of them out of
// line and derives its provenance until it holds one of its own).
struct ObjectRecord {
  ObjectId id;
  BoundingBox bbox;
  std::optional<ClassId> class_id;
  std::optional<std::string> label;
  std::optional<float> confidence;
  Attributes attributes;
  Provenance provenance;
  std::vector<kelo_core::Uuid> related;
};
inline ObjectRecord record_of(const Object& o) {
  return {o.id, o.bbox(), o.class_id, o.label, o.confidence, o.attributes, o.provenance(),
          o.related()};
}
inline kelo_core::Result<Object> object_from(ObjectRecord&& r) {
  auto made = Object::make(r.id, std::move(r.bbox));
  if (!made) return made.error();
  Object& o = *made;
  o.class_id = r.class_id;
  o.label = std::move(r.label);
  o.confidence = r.confidence;
  o.attributes = std::move(r.attributes);
  o.provenance_mut() = std::move(r.provenance);
  if (!r.related.empty()) o.related_mut() = std::move(r.related);
  return made;
}
template <class V> void fields(V& v, ObjectRecord& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("bbox", x.bbox);
  KELO_FIELD("class_id", x.class_id);
  KELO_FIELD("label", x.label);
  KELO_FIELD("confidence", x.confidence);
  KELO_FIELD("attributes", x.attributes);
  KELO_FIELD("provenance", x.provenance);
  KELO_FIELD("related", x.related);
}
template <class V> void fields(V& v, Classification& x) {
  KELO_FIELD("class_id", x.class_id);
  KELO_FIELD("confidence", x.confidence);
  KELO_FIELD("label", x.label);
}
template <class V> void fields(V& v, BoxRegion& x) {
  KELO_FIELD("space", x.space);
  KELO_FIELD("x", x.x);
  KELO_FIELD("y", x.y);
  KELO_FIELD("width", x.width);
  KELO_FIELD("height", x.height);
}
template <class V> void fields(V& v, PolygonRegion& x) {
  KELO_FIELD("space", x.space);
  KELO_FIELD("exterior", x.exterior);
  KELO_FIELD("holes", x.holes);
}
template <class V> void fields(V& v, MaskRegion& x) {
  KELO_FIELD("space", x.space);
  KELO_FIELD("width", x.width);
  KELO_FIELD("height", x.height);
  KELO_FIELD("runs", x.runs);
}
template <class V> void fields(V& v, Segment& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("object", x.object);
  KELO_FIELD("class_id", x.class_id);
  KELO_FIELD("confidence", x.confidence);
  KELO_FIELD("geometry", x.geometry);
  KELO_FIELD("provenance", x.provenance);
}
template <class V> void fields(V& v, Track& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("first_sequence", x.first_sequence);
  KELO_FIELD("last_sequence", x.last_sequence);
  KELO_FIELD("first_timestamp", x.first_timestamp);
  KELO_FIELD("last_timestamp", x.last_timestamp);
  KELO_FIELD("state", x.state);
  KELO_FIELD("provenance", x.provenance);
}
template <class V> void fields(V& v, Keypoint& x) {
  KELO_FIELD("x", x.x);
  KELO_FIELD("y", x.y);
  KELO_FIELD("confidence", x.confidence);
}
template <class V> void fields(V& v, Pose& x) {
  KELO_FIELD("object", x.object);
  KELO_FIELD("skeleton", x.skeleton);
  KELO_FIELD("keypoints", x.keypoints);
  KELO_FIELD("coordinate_space", x.coordinate_space);
  KELO_FIELD("confidence", x.confidence);
}
template <class V> void fields(V& v, Vec3& x) {
  KELO_FIELD("x", x.x);
  KELO_FIELD("y", x.y);
  KELO_FIELD("z", x.z);
}
template <class V> void fields(V& v, Quaternion& x) {
  KELO_FIELD("x", x.x);
  KELO_FIELD("y", x.y);
  KELO_FIELD("z", x.z);
  KELO_FIELD("w", x.w);
}
template <class V> void fields(V& v, RigidTransform& x) {
  KELO_FIELD("rotation", x.rotation);
  KELO_FIELD("translation", x.translation);
}
template <class V> void fields(V& v, FrameTransform& x) {
  KELO_FIELD("source", x.source);
  KELO_FIELD("target", x.target);
  KELO_FIELD("transform", x.transform);
  KELO_FIELD("timestamp", x.timestamp);
}
template <class V> void fields(V& v, SpatialPose& x) {
  KELO_FIELD("object", x.object);
  KELO_FIELD("pose", x.pose);
  KELO_FIELD("space", x.space);
  KELO_FIELD("confidence", x.confidence);
  KELO_FIELD("provenance", x.provenance);
}
template <class V> void fields(V& v, EventType& x) {
  KELO_FIELD("namespace", x.namespace_);
  KELO_FIELD("name", x.name);
}
template <class V> void fields(V& v, Relation& x) {
  KELO_FIELD("type", x.type);
  KELO_FIELD("provenance", x.provenance);
  KELO_FIELD("confidence", x.confidence);
  KELO_FIELD("subject", x.subject);
  KELO_FIELD("object", x.object);
}
template <class V> void fields(V& v, ExtensionMetadata& x) {
  KELO_FIELD("name", x.name);
  KELO_FIELD("schema", x.schema);
  KELO_FIELD("payload", x.payload);
}
template <class V> void fields(V& v, Event& x) {
  KELO_FIELD("id", x.id);
  KELO_FIELD("stream_id", x.stream_id);
  KELO_FIELD("timestamp", x.timestamp);
  KELO_FIELD("event_type", x.event_type);
  KELO_FIELD("references", x.references);
  KELO_FIELD("payload", x.payload);
  KELO_FIELD("provenance", x.provenance);
}
template <class V> void fields(V& v, Metadata& x) {
  KELO_FIELD("objects", x.objects);
  KELO_FIELD("segments", x.segments);
  KELO_FIELD("tracks", x.tracks);
  KELO_FIELD("classifications", x.classifications);
  KELO_FIELD("poses", x.poses);
  KELO_FIELD("spatial_poses", x.spatial_poses);
  KELO_FIELD("frame_transforms", x.frame_transforms);
  KELO_FIELD("embeddings", x.embeddings);
  KELO_FIELD("events", x.events);
  KELO_FIELD("relations", x.relations);
  KELO_FIELD("extensions", x.extensions);
}

#undef KELO_FIELD

// Types written as records of named fields.
template <class T>
concept Record = requires(T& x, void (*v)(FieldName, int&)) { fields(v, x); };

// ---- what the columns read and write ------------------------------------

inline const auto& objects_of(const Metadata& m) { return m.objects; }
inline const auto& tracks_of(const Metadata& m) { return m.tracks; }
inline std::array<float, 4> box_of(const Object& o) { return o.box_extent(); }
inline const std::optional<float>& confidence_of(const Object& o) { return o.confidence; }
inline const std::optional<std::string>& label_of(const Object& o) { return o.label; }
inline const std::optional<ClassId>& class_of(const Object& o) { return o.class_id; }
inline const ObjectId& id_of(const Object& o) { return o.id; }
inline const auto& related_of(const Object& o) { return o.related(); }
inline const TrackId& id_of(const Track& t) { return t.id; }
inline TrackState state_of(const Track& t) { return t.state; }

// Appends objects to a metadata, all or none: the objects go to a copy of
// the list (which shares its entries), and the copy replaces the list only
// on commit().
class ObjectAppender {
 public:
  // Room for `count` objects, and their ids, drawn from the random source in
  // one go.
  ObjectAppender(Metadata& m, std::size_t count)
      : metadata_(m), grown_(m.objects), ids_(kelo_core::Uuid::v4_many(count)) {
    if (ids_) grown_.reserve(grown_.size() + count);
  }
  ObjectAppender(const ObjectAppender&) = delete;
  ObjectAppender& operator=(const ObjectAppender&) = delete;

  // Whether the ids could be drawn; error() says why not.
  bool ok() const { return ids_.ok(); }
  const kelo_core::Error& error() const { return ids_.error(); }

  // A new object at the end, made by Object::make, with the given box,
  // confidence, label and class; false when the object cannot be made.
  bool add(BoundingBox&& box, std::optional<float> confidence, std::optional<std::string>&& label,
           std::optional<ClassId> class_id) {
    auto made = Object::make(ObjectId{(*ids_)[next_++]}, std::move(box));
    if (!made) {
      failure_ = made.error();
      return false;
    }
    made->confidence = confidence;
    made->label = std::move(label);
    made->class_id = class_id;
    grown_.push_back(std::move(*made));
    return true;
  }
  const kelo_core::Error& failure() const { return failure_; }
  void commit() { metadata_.objects = std::move(grown_); }

 private:
  Metadata& metadata_;
  decltype(Metadata::objects) grown_;
  kelo_core::Result<std::vector<kelo_core::Uuid>> ids_;
  std::size_t next_ = 0;
  kelo_core::Error failure_{kelo_core::Error::Kind::Internal, {}};
};

}  // namespace kelo::py::records
