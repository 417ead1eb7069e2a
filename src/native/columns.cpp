// Per-frame results in bulk: the objects and tracks of one or many metadata
// as arrays (one pass, no Python object per entry), and objects appended from
// a detector's arrays. The arrays are exported through the buffer protocol by
// a small owned-array class and handed out as memoryviews.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "native/fields.h"
#include "native/results.h"
#include "native/topics.h"
#include "toolkit/buffer.h"

namespace kelo::py {

namespace {

using namespace kelo_core::data;
using records::box_of;

// ---- an owned array exporting a buffer -------------------------------------

struct Array {
  PyObject_HEAD
  char* data;
  const char* format;  // a struct-module code: "f", "i", "B"
  int ndim;
  Py_ssize_t itemsize;
  Py_ssize_t shape[2];
  Py_ssize_t strides[2];
};

void array_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::free(reinterpret_cast<Array*>(self)->data);
  PyObject_Free(self);
  Py_DECREF(type);
}

int array_getbuffer(PyObject* self, Py_buffer* view, int flags) {
  auto* a = reinterpret_cast<Array*>(self);
  view->obj = Py_NewRef(self);
  view->buf = a->data;
  view->len = a->shape[0] * (a->ndim == 2 ? a->shape[1] : 1) * a->itemsize;
  view->readonly = 0;
  view->itemsize = a->itemsize;
  view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>(a->format) : nullptr;
  view->ndim = a->ndim;
  view->shape = (flags & PyBUF_ND) == PyBUF_ND ? a->shape : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? a->strides : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

void array_releasebuffer(PyObject*, Py_buffer*) {}

PyTypeObject* array_type() {
  static PyTypeObject* type = [] {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&array_dealloc)},
        {Py_bf_getbuffer, reinterpret_cast<void*>(&array_getbuffer)},
        {Py_bf_releasebuffer, reinterpret_cast<void*>(&array_releasebuffer)},
        {Py_tp_doc, const_cast<char*>("Column storage behind a memoryview.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {"kelo._native.ColumnStorage", int(sizeof(Array)), 0,
                               Py_TPFLAGS_DEFAULT, slots};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));  // kept for the process
  }();
  return type;
}

// A rows x cols array (cols 0: one dimension).
Ref new_array(const char* format, Py_ssize_t itemsize, Py_ssize_t rows, Py_ssize_t cols) {
  PyTypeObject* type = array_type();
  if (!type) return Ref();
  Py_ssize_t count = rows * (cols ? cols : 1);
  // Not cleared: the caller writes every item.
  char* data = static_cast<char*>(std::malloc(std::size_t(count ? count : 1) * std::size_t(itemsize)));
  if (!data) return Ref(PyErr_NoMemory());
  auto* a = static_cast<Array*>(PyObject_Malloc(sizeof(Array)));
  if (!a) {
    std::free(data);
    return Ref(PyErr_NoMemory());
  }
  a->data = data;
  a->format = format;
  a->ndim = cols ? 2 : 1;
  a->itemsize = itemsize;
  a->shape[0] = rows;
  a->shape[1] = cols;
  a->strides[0] = itemsize * (cols ? cols : 1);
  a->strides[1] = itemsize;
  return Ref(PyObject_Init(reinterpret_cast<PyObject*>(a), type));
}

template <class T>
T* items(const Ref& array) {
  return reinterpret_cast<T*>(reinterpret_cast<Array*>(array.get())->data);
}

Ref view_of(Ref array) { return array ? Ref(PyMemoryView_FromObject(array.get())) : Ref(); }

// ---- columns out -------------------------------------------------------------

// The metadata a call reads: one, or the items of a list or tuple.
bool collect(PyObject* arg, std::vector<const Metadata*>& out, bool& many) {
  if (is_instance<Metadata>(arg)) {
    if (!check_readable<Metadata>(arg)) return false;
    out.push_back(&obj<Metadata>(arg)->value);
    many = false;
    return true;
  }
  if (!PyList_Check(arg) && !PyTuple_Check(arg)) {
    return not_an_instance(arg, "PyMetadata");
  }
  many = true;
  Py_ssize_t n = PyList_Check(arg) ? PyList_Size(arg) : PyTuple_Size(arg);
  out.reserve(std::size_t(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyList_Check(arg) ? PyList_GetItem(arg, i) : PyTuple_GetItem(arg, i);
    if (!check_readable<Metadata>(item)) {
      PyErr_Format(PyExc_TypeError, "metadata[%zd] is not a PyMetadata", i);
      return false;
    }
    out.push_back(&obj<Metadata>(item)->value);
  }
  return true;
}

void put_box(float* row, const std::array<float, 4>& b) { std::memcpy(row, b.data(), sizeof b); }

struct UuidHash {
  std::size_t operator()(const kelo_core::Uuid& u) const {
    std::uint64_t a, b;
    std::memcpy(&a, u.bytes.data(), 8);
    std::memcpy(&b, u.bytes.data() + 8, 8);
    return std::size_t(a ^ (b * 0x9E3779B97F4A7C15ull));
  }
};

// Equality of two texts; labels are short, and a library call per
// comparison would cost more than the comparison.
inline bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() > 16) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Where the objects' columns are written.
struct ObjectColumns {
  float* boxes;
  float* confidence;
  std::int32_t* label_codes;
  std::uint8_t* class_ids;
  std::uint8_t* object_ids;
  std::int32_t* frame_index;  // null for one metadata
};

// One metadata's objects from `row` on; a loop of its own, so that the
// columns' cursors stay in registers.
template <class Objects, class Coder>
void put_objects(const Objects& objects, Py_ssize_t row, std::size_t frame, const ObjectColumns& c,
                 Coder& code_of_label) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  float* box = c.boxes + 4 * row;
  float* conf = c.confidence + row;
  std::int32_t* code = c.label_codes + row;
  std::uint8_t* cls = c.class_ids + 16 * row;
  std::uint8_t* oid = c.object_ids + 16 * row;
  objects.for_each([&](const Object& o) {
    put_box(box, box_of(o));
    const auto& score = records::confidence_of(o);
    *conf++ = score ? *score : nan;
    const auto& label = records::label_of(o);
    *code++ = label ? code_of_label(*label) : -1;
    if (const auto& k = records::class_of(o)) {
      std::memcpy(cls, k->uuid.bytes.data(), 16);
    } else {
      std::memset(cls, 0, 16);
    }
    std::memcpy(oid, records::id_of(o).uuid.bytes.data(), 16);
    box += 4;
    cls += 16;
    oid += 16;
  });
  if (c.frame_index) {
    std::fill_n(c.frame_index + row, objects.size(), std::int32_t(frame));
  }
}

// The frame indexes are None for a single metadata.
Ref columns(Borrowed metadata) {
  std::vector<const Metadata*> all;
  bool many = false;
  if (!collect(metadata.object, all, many)) return Ref();
  Py_ssize_t n = 0, m = 0;
  for (const Metadata* md : all) {
    n += Py_ssize_t(records::objects_of(*md).size());
    m += Py_ssize_t(records::tracks_of(*md).size());
  }
  Ref boxes = new_array("f", 4, n, 4);
  Ref confidence = new_array("f", 4, n, 0);
  Ref codes = new_array("i", 4, n, 0);
  Ref class_ids = new_array("B", 1, n, 16);
  Ref object_ids = new_array("B", 1, n, 16);
  Ref frames = many ? new_array("i", 4, n, 0) : Ref(Py_NewRef(Py_None));
  Ref track_ids = new_array("B", 1, m, 16);
  Ref track_states = new_array("B", 1, m, 0);
  Ref track_boxes = new_array("f", 4, m, 4);
  Ref track_frames = many ? new_array("i", 4, m, 0) : Ref(Py_NewRef(Py_None));
  Ref labels(PyList_New(0));
  if (!boxes || !confidence || !codes || !class_ids || !object_ids || !frames || !track_ids ||
      !track_states || !track_boxes || !track_frames || !labels) {
    return Ref();
  }

  const ObjectColumns into{items<float>(boxes), items<float>(confidence), items<std::int32_t>(codes),
                          items<std::uint8_t>(class_ids), items<std::uint8_t>(object_ids),
                          many ? items<std::int32_t>(frames) : nullptr};
  std::uint8_t* tid = items<std::uint8_t>(track_ids);
  std::uint8_t* tstate = items<std::uint8_t>(track_states);
  float* tbox = items<float>(track_boxes);
  std::int32_t* tframe = many ? items<std::int32_t>(track_frames) : nullptr;

  // Distinct labels in order of first appearance. A frame has few: the
  // first kShortList are searched in order, any beyond them by hash.
  constexpr std::size_t kShortList = 16;
  std::vector<std::string_view> distinct;
  std::unordered_map<std::string_view, std::int32_t> index;
  auto code_of_label = [&](std::string_view label) -> std::int32_t {
    for (std::size_t i = 0; i < distinct.size() && i < kShortList; ++i) {
      if (same_text(distinct[i], label)) return std::int32_t(i);
    }
    if (distinct.size() < kShortList) {
      distinct.push_back(label);
      return std::int32_t(distinct.size() - 1);
    }
    auto [it, added] = index.try_emplace(label, std::int32_t(distinct.size()));
    if (added) distinct.push_back(label);
    return it->second;
  };
  std::unordered_map<kelo_core::Uuid, std::array<float, 4>, UuidHash> boxes_by_track;
  const float nan = std::numeric_limits<float>::quiet_NaN();

  Py_ssize_t row = 0, trow = 0;
  for (std::size_t f = 0; f < all.size(); ++f) {
    const auto& tracks = records::tracks_of(*all[f]);
    if (!tracks.empty()) boxes_by_track.clear();
    const auto& objects = records::objects_of(*all[f]);
    put_objects(objects, row, f, into, code_of_label);
    if (!tracks.empty()) {
      for (const Object& o : objects) {
        for (const kelo_core::Uuid& r : records::related_of(o)) boxes_by_track[r] = box_of(o);
      }
    }
    row += Py_ssize_t(objects.size());
    for (const Track& t : tracks) {
      const kelo_core::Uuid& track = records::id_of(t).uuid;
      std::memcpy(tid + 16 * trow, track.bytes.data(), 16);
      tstate[trow] = std::uint8_t(records::state_of(t));
      auto it = boxes_by_track.find(track);
      if (it != boxes_by_track.end()) {
        put_box(tbox + 4 * trow, it->second);
      } else {
        for (int i = 0; i < 4; ++i) tbox[4 * trow + i] = nan;
      }
      if (tframe) tframe[trow] = std::int32_t(f);
      ++trow;
    }
  }
  for (std::string_view l : distinct) {
    Ref s(PyUnicode_FromStringAndSize(l.data(), Py_ssize_t(l.size())));
    if (!s || PyList_Append(labels.get(), s.get()) < 0) return Ref();
  }

  TrackParts tracks{view_of(std::move(track_ids)), view_of(std::move(track_states)),
                    view_of(std::move(track_boxes)),
                    many ? view_of(std::move(track_frames)) : std::move(track_frames)};
  if (!tracks.ids || !tracks.states || !tracks.last_boxes || !tracks.frame_index) return Ref();
  ColumnParts out{view_of(std::move(boxes)), view_of(std::move(confidence)),
                  view_of(std::move(codes)), std::move(labels), view_of(std::move(class_ids)),
                  view_of(std::move(object_ids)),
                  many ? view_of(std::move(frames)) : std::move(frames),
                  Ref(to_py(std::move(tracks)))};
  if (!out.boxes || !out.confidence || !out.label_codes || !out.class_ids || !out.object_ids ||
      !out.frame_index || !out.tracks) {
    return Ref();
  }
  return Ref(to_py(std::move(out)));
}

// ---- columns in --------------------------------------------------------------

// The element code of a native-order format ("f", "@f", "=f", "<f"), or 0.
char code_of(const Py_buffer& v) {
  const char* f = v.format ? v.format : "B";
  if (*f == '@' || *f == '=' || *f == '<') ++f;
  if (f[0] == 0 || f[1] != 0) return 0;
  return *f;
}

bool bad(const char* arg, const std::string& what) {
  PyErr_Format(PyExc_ValueError, "%s: %s", arg, what.c_str());
  return false;
}

std::string shape_text(const Py_buffer& v) {
  std::string s = "(";
  for (int i = 0; i < v.ndim; ++i) {
    if (i) s += ", ";
    s += std::to_string(v.shape ? v.shape[i] : v.len / v.itemsize);
  }
  return s + (v.ndim == 1 ? ",)" : ")");
}

// Checks a float32/float64 array of `rows` x `cols` (cols 0: one dimension),
// C-contiguous; rows < 0 takes any row count.
bool check_floats(const char* arg, const Py_buffer& v, Py_ssize_t rows, Py_ssize_t cols) {
  char c = code_of(v);
  if ((c != 'f' || v.itemsize != 4) && (c != 'd' || v.itemsize != 8)) {
    return bad(arg, std::string("expected float32 or float64 values, got format '") +
                        (v.format ? v.format : "B") + "'");
  }
  int ndim = cols ? 2 : 1;
  if (v.ndim != ndim || (cols && v.shape[1] != cols) || (rows >= 0 && v.shape[0] != rows)) {
    std::string want = "(";
    want += rows >= 0 ? std::to_string(rows) : std::string("N");
    if (cols) {
      want += ", ";
      want += std::to_string(cols);
      want += ")";
    } else {
      want += ",)";
    }
    return bad(arg, "expected shape " + want + ", got " + shape_text(v));
  }
  if (!PyBuffer_IsContiguous(&v, 'C')) return bad(arg, "expected a C-contiguous array");
  return true;
}

float float_at(const Py_buffer& v, Py_ssize_t i) {
  if (v.itemsize == 4) return static_cast<const float*>(v.buf)[i];
  return float(static_cast<const double*>(v.buf)[i]);
}

// The number of boxes in an N x 4 array, or in a flat one of 4N values
// (array.array, bytes cast to floats); -1 with ValueError set otherwise.
Py_ssize_t box_count(const Py_buffer& b) {
  if (b.ndim == 1 && b.shape && b.shape[0] % 4 == 0) {
    if (!check_floats("boxes", b, -1, 0)) return -1;
    return b.shape[0] / 4;
  }
  if (b.ndim != 2) {
    // Only the layout is wrong: say what else would do.
    if (code_of(b) == 'f' || code_of(b) == 'd') {
      bad("boxes", "expected shape (N, 4) or 4N values, got " + shape_text(b));
      return -1;
    }
  }
  return check_floats("boxes", b, -1, 4) ? b.shape[0] : -1;
}

// A value refused: "boxes: row 2, width: -3.0 is negative".
bool bad_value(const char* arg, Py_ssize_t row, const char* column, double value,
               const char* what) {
  Ref number(PyFloat_FromDouble(value));
  if (!number) return false;
  if (*column) {
    PyErr_Format(PyExc_ValueError, "%s: row %zd, %s: %R %s", arg, row, column, number.get(), what);
  } else {
    PyErr_Format(PyExc_ValueError, "%s: row %zd: %R %s", arg, row, number.get(), what);
  }
  return false;
}

// Every box finite with a non-negative size; every confidence in [0, 1] or
// NaN (no confidence).
bool check_values(const Py_buffer& boxes, Py_ssize_t n, const Py_buffer* confidence) {
  static constexpr const char* kColumns[4] = {"x", "y", "width", "height"};
  for (Py_ssize_t i = 0; i < n; ++i) {
    for (int k = 0; k < 4; ++k) {
      const float v = float_at(boxes, 4 * i + k);
      if (!std::isfinite(v)) return bad_value("boxes", i, kColumns[k], v, "is not finite");
      if (k >= 2 && v < 0) return bad_value("boxes", i, kColumns[k], v, "is negative");
    }
  }
  if (!confidence) return true;
  for (Py_ssize_t i = 0; i < n; ++i) {
    const float c = float_at(*confidence, i);
    if (!std::isnan(c) && !(c >= 0 && c <= 1)) {
      return bad_value("confidence", i, "", c, "is outside [0, 1]");
    }
  }
  return true;
}

Ref add_objects(Metadata& metadata, Buffer boxes, std::optional<Buffer> confidence,
                 std::optional<std::vector<std::optional<std::string>>> labels,
                 std::optional<Buffer> class_ids, std::optional<CoordinateSpace> coordinate_space) {
  const Py_buffer& b = boxes.view();
  const Py_ssize_t n = box_count(b);
  if (n < 0) return Ref();
  if (confidence && !check_floats("confidence", confidence->view(), n, 0)) return Ref();
  if (labels && Py_ssize_t(labels->size()) != n) {
    bad("labels", "expected " + std::to_string(n) + " labels, one per box, got " +
                      std::to_string(labels->size()));
    return Ref();
  }
  if (class_ids) {
    const Py_buffer& c = class_ids->view();
    char code = code_of(c);
    if ((code != 'B' && code != 'b' && code != 'c') || c.itemsize != 1) {
      bad("class_ids", std::string("expected uint8 values, got format '") +
                           (c.format ? c.format : "B") + "'");
      return Ref();
    }
    if (c.ndim != 2 || c.shape[0] != n || c.shape[1] != 16) {
      bad("class_ids", "expected shape (" + std::to_string(n) + ", 16), got " + shape_text(c));
      return Ref();
    }
    if (!PyBuffer_IsContiguous(&c, 'C')) {
      bad("class_ids", "expected a C-contiguous array");
      return Ref();
    }
  }
  if (!check_values(b, n, confidence ? &confidence->view() : nullptr)) return Ref();
  CoordinateSpace space = coordinate_space ? *coordinate_space : BoundingBox{}.coordinate_space;
  static const std::uint8_t zero[16] = {};
  // Objects go straight to the end of the list, and are taken off again
  // should anything fail before the last one is in.
  records::ObjectAppender append(metadata, std::size_t(n));
  if (!append.ok()) return Ref(raise(append.error()));
  for (Py_ssize_t i = 0; i < n; ++i) {
    std::optional<float> score;
    if (confidence) {
      float c = float_at(confidence->view(), i);
      if (!std::isnan(c)) score = c;
    }
    std::optional<ClassId> cls;
    if (class_ids) {
      const auto* row = static_cast<const std::uint8_t*>(class_ids->view().buf) + 16 * i;
      if (std::memcmp(row, zero, 16) != 0) {
        cls.emplace();
        std::memcpy(cls->uuid.bytes.data(), row, 16);
      }
    }
    std::optional<std::string> label;
    if (labels) label = std::move((*labels)[std::size_t(i)]);
    if (!append.add(BoundingBox{float_at(b, 4 * i), float_at(b, 4 * i + 1),
                                float_at(b, 4 * i + 2), float_at(b, 4 * i + 3), space},
                    score, std::move(label), cls)) {
      return Ref(raise(append.failure()));
    }
  }
  append.commit();
  return Ref(Py_NewRef(Py_None));
}

}  // namespace

void add_columns_functions(std::vector<FunctionSpec>& functions) {
  functions.push_back(Function<&columns>("columns(metadata)",
                                         "The objects and tracks of one metadata, or of a list "
                                         "of them, as arrays."));
  functions.push_back(Function<&add_objects>(
      "add_objects(metadata, boxes, confidence=None, labels=None, class_ids=None, "
      "coordinate_space=None)",
      "Append one object per row of boxes."));
}

}  // namespace kelo::py
