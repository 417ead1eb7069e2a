// Event types: parsing never fails, the text form round-trips wherever the
// text form can (it cannot name a reserved type whose name holds "/", nor a
// namespace holding "/"), and equal types hash alike.
#include <cstdlib>
#include <string_view>

#include "data/event_type.h"
#include "support/hash.h"

using kelo_core::HashStream;
using kelo_core::data::EventType;

namespace {

std::uint64_t hash_of(const EventType& t) {
  HashStream h;
  hash_into(h, t);
  return h.finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const EventType parsed = EventType::parse(text);
  const std::string printed = parsed.as_str();
  // Only a leading "kelo/" is dropped by the round trip.
  if (!text.starts_with("kelo/") && printed != text) std::abort();
  const EventType again = EventType::parse(printed);
  const bool printable = parsed.namespace_.find('/') == std::string::npos &&
                         !(parsed.is_reserved() && parsed.name.find('/') != std::string::npos);
  if (printable && (again != parsed || hash_of(again) != hash_of(parsed))) std::abort();

  // The same bytes split at an arbitrary point as (namespace, name).
  const std::size_t cut = size ? data[0] % (size + 1) : 0;
  const EventType split{std::string(text.substr(0, cut)), std::string(text.substr(cut))};
  if (split.is_reserved() != (split.namespace_ == "kelo")) std::abort();
  const EventType back = EventType::parse(split.as_str());
  const bool invertible = split.namespace_.find('/') == std::string::npos &&
                          !(split.is_reserved() && split.name.find('/') != std::string::npos);
  if (invertible && back != split) std::abort();
  return 0;
}
