// Contract summaries and compatibility on constraints decoded from the bytes:
// the summary is "unconstrained" exactly when nothing is set, the display form
// wraps it, constraints accept themselves and the unconstrained contract, and
// the summary names every field that is set.
#include <cstdlib>
#include <string>

#include "bytes.h"
#include "graph/contract.h"

namespace {

using namespace kelo_core;
using graph::ContractSpec;
using graph::DataContract;

template <class Open>
Open open_value(FuzzBytes& in) {
  const std::size_t i = in.below(Open::kCustomIndex + 1);
  if (i == Open::kCustomIndex) return Open::custom(in.text());
  return Open(static_cast<typename Open::Variant>(i));
}

ContractSpec decode(FuzzBytes& in) {
  ContractSpec s;
  const std::uint8_t set = in.byte();
  if (set & 1) s.pixel_format = open_value<data::PixelFormat>(in);
  if (set & 2) s.width = in.u32();
  if (set & 4) s.height = in.u32();
  if (set & 8) s.dtype = static_cast<data::DType>(in.below(kelo_core::VariantNames<data::DType>::names.size()));
  if (set & 16) {
    s.shape.emplace();
    for (std::size_t n = in.below(5); n > 0; --n) s.shape->push_back(std::uint64_t(in.u32()) << in.below(33));
  }
  if (set & 32) s.coordinate_space = open_value<data::CoordinateSpaceKind>(in);
  if (set & 64) s.content_type = in.text();
  if (set & 128) {
    s.class_ids.emplace();
    for (std::size_t n = in.below(5); n > 0; --n) s.class_ids->push_back(in.below(4));
  }
  return s;
}

// `s` with only field `i` (in field order) kept.
ContractSpec only(const ContractSpec& s, int i) {
  ContractSpec o;
  switch (i) {
    case 0: o.pixel_format = s.pixel_format; break;
    case 1: o.width = s.width; break;
    case 2: o.height = s.height; break;
    case 3: o.dtype = s.dtype; break;
    case 4: o.shape = s.shape; break;
    case 5: o.coordinate_space = s.coordinate_space; break;
    case 6: o.content_type = s.content_type; break;
    default: o.class_ids = s.class_ids; break;
  }
  return o;
}

constexpr const char* kLabels[] = {"pixel=", "w=",      "h=",      "dtype=",
                                   "shape=", "coords=", "content=", "classes="};

void check(const ContractSpec& s) {
  const std::string summary = s.summary();
  const bool none = s == ContractSpec{};
  if ((summary == "unconstrained") != none) std::abort();
  bool first = true;
  for (int i = 0; i < 8; ++i) {
    if (only(s, i) == ContractSpec{}) continue;
    const std::size_t at = summary.find(kLabels[i]);
    if (at == std::string::npos || (first && at != 0)) std::abort();
    first = false;
  }
  if (!s.is_compatible_with(s) || !s.is_compatible_with(ContractSpec{}) ||
      !ContractSpec{}.is_compatible_with(s))
    std::abort();
  const DataContract c = DataContract::tensor(s);
  if (c.str() != "Tensor[" + summary + "]") std::abort();
  if (!c.is_compatible_with(c) || !c.is_compatible_with(DataContract::tensor()) ||
      c.is_compatible_with(DataContract::frame(s)))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzBytes in{data, size};
  const ContractSpec a = decode(in);
  const ContractSpec b = decode(in);
  check(a);
  check(b);
  // Compatibility is decided field by field: a pair is compatible exactly when
  // each single-field restriction of the pair is.
  bool each = true;
  for (int i = 0; i < 8; ++i) each = each && only(a, i).is_compatible_with(only(b, i));
  if (a.is_compatible_with(b) != each) std::abort();
  const DataContract custom = DataContract::custom(in.text());
  if (!custom.is_compatible_with(custom) || custom.str().rfind("Custom(", 0) != 0) std::abort();
  return 0;
}
