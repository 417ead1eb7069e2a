#include "graph/contract.h"

#include <algorithm>
#include <array>

#include "support/text.h"

namespace kelo_core::graph {

namespace {

template <class Field, class V>
ContractSpec set(ContractSpec s, std::optional<Field> ContractSpec::*field, V&& v) {
  s.*field = std::forward<V>(v);
  return s;
}

// Whether a field passes: absent on either side, or agreeing by `same`.
template <class T, class Same>
bool agree(const std::optional<T>& a, const std::optional<T>& b, Same same) {
  return !a || !b || same(*a, *b);
}

constexpr auto equal = [](const auto& a, const auto& b) { return a == b; };

// Whether every id of `ids` occurs in `among`, ignoring order and repeats.
bool all_among(const std::vector<std::uint32_t>& ids, const std::vector<std::uint32_t>& among) {
  if (ids.empty()) return true;
  if (ids.size() * among.size() <= 64) {
    return std::ranges::all_of(ids, [&](std::uint32_t id) {
      return std::ranges::find(among, id) != among.end();
    });
  }
  std::vector<std::uint32_t> sorted = among;
  std::ranges::sort(sorted);
  return std::ranges::all_of(
      ids, [&](std::uint32_t id) { return std::ranges::binary_search(sorted, id); });
}

constexpr std::array<std::string_view, 6> kCategoryNames = {"Frame", "Tensor", "Metadata",
                                                            "Event", "Batch",  "Custom"};

}  // namespace

ContractSpec ContractSpec::with_pixel_format(data::PixelFormat v) && {
  return set(std::move(*this), &ContractSpec::pixel_format, std::move(v));
}
ContractSpec ContractSpec::with_width(std::uint32_t v) && {
  return set(std::move(*this), &ContractSpec::width, v);
}
ContractSpec ContractSpec::with_height(std::uint32_t v) && {
  return set(std::move(*this), &ContractSpec::height, v);
}
ContractSpec ContractSpec::with_dtype(data::DType v) && {
  return set(std::move(*this), &ContractSpec::dtype, v);
}
ContractSpec ContractSpec::with_shape(std::vector<std::uint64_t> v) && {
  return set(std::move(*this), &ContractSpec::shape, std::move(v));
}
ContractSpec ContractSpec::with_coordinate_space(data::CoordinateSpaceKind v) && {
  return set(std::move(*this), &ContractSpec::coordinate_space, std::move(v));
}
ContractSpec ContractSpec::with_content_type(std::string v) && {
  return set(std::move(*this), &ContractSpec::content_type, std::move(v));
}
ContractSpec ContractSpec::with_class_ids(std::vector<std::uint32_t> v) && {
  return set(std::move(*this), &ContractSpec::class_ids, std::move(v));
}

ContractSpec ContractSpec::with_pixel_format(data::PixelFormat v) const& {
  return set(*this, &ContractSpec::pixel_format, std::move(v));
}
ContractSpec ContractSpec::with_width(std::uint32_t v) const& {
  return set(*this, &ContractSpec::width, v);
}
ContractSpec ContractSpec::with_height(std::uint32_t v) const& {
  return set(*this, &ContractSpec::height, v);
}
ContractSpec ContractSpec::with_dtype(data::DType v) const& {
  return set(*this, &ContractSpec::dtype, v);
}
ContractSpec ContractSpec::with_shape(std::vector<std::uint64_t> v) const& {
  return set(*this, &ContractSpec::shape, std::move(v));
}
ContractSpec ContractSpec::with_coordinate_space(data::CoordinateSpaceKind v) const& {
  return set(*this, &ContractSpec::coordinate_space, std::move(v));
}
ContractSpec ContractSpec::with_content_type(std::string v) const& {
  return set(*this, &ContractSpec::content_type, std::move(v));
}
ContractSpec ContractSpec::with_class_ids(std::vector<std::uint32_t> v) const& {
  return set(*this, &ContractSpec::class_ids, std::move(v));
}

bool ContractSpec::is_compatible_with(const ContractSpec& consumer) const {
  const ContractSpec& c = consumer;
  // Field order matters only for where the evaluation stops; pixel formats
  // and coordinate spaces compare custom names byte for byte.
  return agree(pixel_format, c.pixel_format, equal) && agree(width, c.width, equal) &&
         agree(height, c.height, equal) && agree(dtype, c.dtype, equal) &&
         agree(shape, c.shape, equal) && agree(coordinate_space, c.coordinate_space, equal) &&
         agree(content_type, c.content_type, equal) && agree(class_ids, c.class_ids, all_among);
}

bool ContractSpec::is_compatible_with_sorted(const ContractSpec& consumer,
                                             const std::vector<std::uint32_t>& consumer_ids_sorted) const {
  const ContractSpec& c = consumer;
  auto among_sorted = [&](const std::vector<std::uint32_t>& ids, const std::vector<std::uint32_t>&) {
    return std::ranges::all_of(
        ids, [&](std::uint32_t id) { return std::ranges::binary_search(consumer_ids_sorted, id); });
  };
  return agree(pixel_format, c.pixel_format, equal) && agree(width, c.width, equal) &&
         agree(height, c.height, equal) && agree(dtype, c.dtype, equal) &&
         agree(shape, c.shape, equal) && agree(coordinate_space, c.coordinate_space, equal) &&
         agree(content_type, c.content_type, equal) && agree(class_ids, c.class_ids, among_sorted);
}

std::string ContractSpec::summary() const {
  using text::debug;
  std::string out;
  auto piece = [&out](std::string_view label, const std::string& value) {
    if (!out.empty()) out += ',';
    out.append(label).append(value);
  };
  if (pixel_format) piece("pixel=", data::debug(*pixel_format));
  if (width) piece("w=", debug(*width));
  if (height) piece("h=", debug(*height));
  if (dtype) piece("dtype=", data::debug(*dtype));
  if (shape) piece("shape=", debug(*shape));
  if (coordinate_space) piece("coords=", data::debug(*coordinate_space));
  if (content_type) piece("content=", *content_type);
  if (class_ids) piece("classes=", debug(*class_ids));
  return out.empty() ? "unconstrained" : out;
}

DataContract DataContract::with(Category c, std::optional<ContractSpec> spec) {
  if (!spec) return DataContract(c, {});
  return DataContract(c, Shared<Payload>::make(std::in_place_index<0>, *std::move(spec)));
}

DataContract DataContract::frame(std::optional<ContractSpec> spec) {
  return with(Category::Frame, std::move(spec));
}
DataContract DataContract::tensor(std::optional<ContractSpec> spec) {
  return with(Category::Tensor, std::move(spec));
}
DataContract DataContract::metadata(std::optional<ContractSpec> spec) {
  return with(Category::Metadata, std::move(spec));
}
DataContract DataContract::event(std::optional<ContractSpec> spec) {
  return with(Category::Event, std::move(spec));
}
DataContract DataContract::batch(std::optional<ContractSpec> spec) {
  return with(Category::Batch, std::move(spec));
}
DataContract DataContract::custom(std::string tag) {
  return DataContract(Category::Custom,
                      Shared<Payload>::make(std::in_place_index<1>, std::move(tag)));
}
DataContract DataContract::metadata_content(std::string content_type) {
  return metadata(ContractSpec().with_content_type(std::move(content_type)));
}

std::string_view DataContract::category_name() const {
  return kCategoryNames[std::size_t(category_)];
}

const ContractSpec* DataContract::spec() const {
  return payload_ ? std::get_if<0>(payload_.get()) : nullptr;
}

std::string_view DataContract::tag() const {
  const std::string* tag = payload_ ? std::get_if<1>(payload_.get()) : nullptr;
  return tag ? std::string_view(*tag) : std::string_view();
}

bool DataContract::is_compatible_with(const DataContract& target) const {
  if (category_ != target.category_) return false;
  if (category_ == Category::Custom) return tag() == target.tag();
  const ContractSpec* a = spec();
  const ContractSpec* b = target.spec();
  return !a || !b || a->is_compatible_with(*b);
}

std::string DataContract::str() const {
  std::string out(category_name());
  if (category_ == Category::Custom) return out.append("(").append(tag()).append(")");
  if (const ContractSpec* s = spec()) out.append("[").append(s->summary()).append("]");
  return out;
}

bool operator==(const DataContract& a, const DataContract& b) {
  if (a.category_ != b.category_) return false;
  if (a.payload_ == b.payload_) return true;
  if (!a.payload_ || !b.payload_) return false;
  return *a.payload_ == *b.payload_;
}

}  // namespace kelo_core::graph
