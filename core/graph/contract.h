// Data contracts: what flows through a port, and whether a producer's
// contract can feed a consumer's.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "data/format.h"
#include "data/geometry.h"
#include "data/tensor.h"
#include "support/shared.h"

namespace kelo_core::graph {

// Eight independent format-level constraints; an absent field accepts
// anything. Any combination may be set, whatever the contract's category.
struct ContractSpec {
  std::optional<data::PixelFormat> pixel_format;
  std::optional<std::uint32_t> width;
  std::optional<std::uint32_t> height;
  std::optional<data::DType> dtype;
  std::optional<std::vector<std::uint64_t>> shape;  // outermost first
  std::optional<data::CoordinateSpaceKind> coordinate_space;
  std::optional<std::string> content_type;
  std::optional<std::vector<std::uint32_t>> class_ids;  // order and duplicates kept

  // Builders: the constraints with one field set to the given value. The &&
  // forms reuse the receiver, the const& forms work on a copy.
  ContractSpec with_pixel_format(data::PixelFormat v) &&;
  ContractSpec with_width(std::uint32_t v) &&;
  ContractSpec with_height(std::uint32_t v) &&;
  ContractSpec with_dtype(data::DType v) &&;
  ContractSpec with_shape(std::vector<std::uint64_t> v) &&;
  ContractSpec with_coordinate_space(data::CoordinateSpaceKind v) &&;
  ContractSpec with_content_type(std::string v) &&;
  ContractSpec with_class_ids(std::vector<std::uint32_t> v) &&;

  ContractSpec with_pixel_format(data::PixelFormat v) const&;
  ContractSpec with_width(std::uint32_t v) const&;
  ContractSpec with_height(std::uint32_t v) const&;
  ContractSpec with_dtype(data::DType v) const&;
  ContractSpec with_shape(std::vector<std::uint64_t> v) const&;
  ContractSpec with_coordinate_space(data::CoordinateSpaceKind v) const&;
  ContractSpec with_content_type(std::string v) const&;
  ContractSpec with_class_ids(std::vector<std::uint32_t> v) const&;

  // Whether a producer constrained by *this can feed a consumer constrained
  // by `consumer`. Every field present on both sides must agree; class ids
  // agree when each of ours occurs among the consumer's (so the test is not
  // symmetric).
  bool is_compatible_with(const ContractSpec& consumer) const;
  // The same, given the consumer's class ids sorted ascending (for a
  // consumer checked against many producers).
  bool is_compatible_with_sorted(const ContractSpec& consumer,
                                 const std::vector<std::uint32_t>& consumer_ids_sorted) const;

  // "pixel=NV12,w=1920,h=1080": one piece per present field, in field order,
  // joined by ","; "unconstrained" when every field is absent. Also the
  // display form.
  std::string summary() const;

  friend bool operator==(const ContractSpec&, const ContractSpec&) = default;
};

// A semantic category, narrowed by optional ContractSpec constraints (Frame
// ... Batch) or named by a tag (Custom). Copies share the immutable
// constraints or tag, so a contract costs a pointer and a byte however much
// it constrains.
class DataContract {
 public:
  enum class Category : std::uint8_t { Frame, Tensor, Metadata, Event, Batch, Custom };
  // The built-in categories as description files write them, by index
  // ("custom:<tag>" names a Custom one).
  static constexpr std::array<std::string_view, 5> kCategoryTexts = {"frame", "tensor", "metadata",
                                                                    "event", "batch"};

  // An unconstrained Frame contract.
  DataContract() = default;

  static DataContract frame(std::optional<ContractSpec> spec = std::nullopt);
  static DataContract tensor(std::optional<ContractSpec> spec = std::nullopt);
  static DataContract metadata(std::optional<ContractSpec> spec = std::nullopt);
  static DataContract event(std::optional<ContractSpec> spec = std::nullopt);
  static DataContract batch(std::optional<ContractSpec> spec = std::nullopt);
  static DataContract custom(std::string tag);
  // Metadata whose only constraint is the content type.
  static DataContract metadata_content(std::string content_type);

  Category category() const { return category_; }
  // "Frame", "Tensor", "Metadata", "Event", "Batch" or "Custom".
  std::string_view category_name() const;
  // The constraints, or null for a contract without any and for Custom.
  const ContractSpec* spec() const;
  // Custom's tag; empty for the other categories.
  std::string_view tag() const;
  // The constraints or tag as shared between copies, or null when there
  // are none: copies of one contract have the same identity.
  const void* identity() const { return payload_.get(); }

  // Whether *this (the source side of an edge) can feed `target`: the same
  // category, and then equal tags (Custom) or compatible constraints where
  // both sides carry them.
  bool is_compatible_with(const DataContract& target) const;

  // "Frame", "Frame[<summary>]" or "Custom(<tag>)".
  std::string str() const;

  // Same category and equal constraints or tag (not a rule of compatibility).
  friend bool operator==(const DataContract& a, const DataContract& b);

 private:
  using Payload = std::variant<ContractSpec, std::string>;
  DataContract(Category c, Shared<Payload> p)
      : payload_(std::move(p)), category_(c) {}
  static DataContract with(Category c, std::optional<ContractSpec> spec);

  // The pointer first: a holder may place a small field of its own in the
  // padding after the category (see Port).
  Shared<Payload> payload_;  // null: unconstrained
  Category category_ = Category::Frame;
};

}  // namespace kelo_core::graph
