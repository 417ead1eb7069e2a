// Typed attribute values and attribute collections.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/attribute.h"
#include "data/topics.h"

namespace kelo::py {

using namespace kelo_core::data;

namespace {

template <class T>
AttributeValue of(T value) {
  return {std::move(value)};
}

}  // namespace

void add_attribute_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<AttributeValue>("PyAttributeValue", "A typed attribute value.")
          .def_static<&of<bool>>("of_bool(value)")
          .def_static<&of<std::int64_t>>("of_int(value)")
          .def_static<&of<double>>("of_float(value)")
          .def_static<&of<std::string>>("of_string(value)")
          .def_static<&of<Tensor>>("of_tensor(value)")
          .def_static<&of<Timestamp>>("of_timestamp(value)")
          .def_static<[](std::uint64_t ns) { return of(Duration::from_nanos(ns)); }>(
              "of_duration_ns(value)")
          .def<[](const AttributeValue& v) { return v.kind(); }>(
              "kind($self)",
              "The variant kind: `bool`, `int`, `float`, `string`, `tensor`,\n`timestamp` or "
              "`duration`.")
          .def<&AttributeValue::as<bool>>("as_bool($self)")
          .def<&AttributeValue::as<std::int64_t>>("as_int($self)")
          .def<&AttributeValue::as<double>>("as_float($self)")
          .def<&AttributeValue::as<std::string>>("as_string($self)")
          .def<&AttributeValue::as<Tensor>>("as_tensor($self)")
          .def<&AttributeValue::as<Timestamp>>("as_timestamp($self)")
          .def<[](const AttributeValue& v) -> std::optional<Nanos128> {
            if (auto d = v.as<Duration>()) return d->total_nanos();
            return std::nullopt;
          }>("as_duration_ns($self)", "The duration in nanoseconds, if this is a duration value.")
          .repr<[](const AttributeValue& v) {
            return "PyAttributeValue(" + std::string(v.kind()) + ")";
          }>());

  out.push_back(
      Class<Attributes>("PyAttributes()", "Typed key-value attributes attached to an object.")
          .init<[] { return Attributes{}; }>()
          .def<&Attributes::insert>("insert($self, key, value)")
          .def<[](const Attributes& a, std::string_view key) -> std::optional<AttributeValue> {
            if (const AttributeValue* v = a.get(key)) return *v;
            return std::nullopt;
          }>("get($self, key)")
          .def<&Attributes::keys>("keys($self)")
          .def<&Attributes::size>("len($self)")
          .len<&Attributes::size>()
          .repr<[](const Attributes& a) {
            return "PyAttributes(len=" + std::to_string(a.size()) + ")";
          }>());
}

}  // namespace kelo::py
