// Results of a kind the data model does not know, carried as text.
#pragma once

#include <string>

namespace kelo_core::data {

struct ExtensionMetadata {
  std::string name;     // who defines it, e.g. "acme/plates"
  std::string schema;   // the payload's format, e.g. "application/json"
  std::string payload;

  friend bool operator==(const ExtensionMetadata&, const ExtensionMetadata&) = default;
};

}  // namespace kelo_core::data
