// The provider registry, selection policies and select_provider.
#include <string>
#include <vector>

#include "provider/registry.h"
#include "provider/selection.h"
#include "provider/topics.h"

namespace kelo::py {

using namespace kelo_core::provider;
using kelo_core::graph::ElementTypeId;

void add_selection_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<ProviderRegistry>("PyProviderRegistry()",
                              "Registry of provider descriptors, indexed by element type.")
          .init<[] { return ProviderRegistry{}; }>()
          .def<[](ProviderRegistry& r, const kelo_core::Shared<ProviderDescriptor>& d) {
            r.register_provider(d);
          }>(
              "register($self, descriptor)", "Register a provider descriptor.")
          .def<[](const ProviderRegistry& r, const ElementTypeId& t) {
            std::vector<kelo_core::Shared<ProviderDescriptor>> found;
            for (const ProviderRegistry::Entry& e : r.find(t)) found.push_back(e.descriptor);
            return found;
          }>("find($self, element_type)", "All providers implementing an element type.")
          .def<&ProviderRegistry::len>("len($self)", "Total number of registered provider entries.")
          .len<&ProviderRegistry::len>()
          .def<&ProviderRegistry::is_empty>("is_empty($self)")
          .repr<[](const ProviderRegistry& r) {
            return "PyProviderRegistry(entries=" + std::to_string(r.len()) + ")";
          }>());

  out.push_back(
      Class<SelectionPolicy>("PySelectionPolicy", "Policy for choosing among candidate providers.")
          .def_static<&SelectionPolicy::highest_priority>(
              "highest_priority()", "Select the provider with the highest priority (the default).")
          .def_static<&SelectionPolicy::first_available>("first_available()",
                                                         "Select the first available provider.")
          .def_static<&SelectionPolicy::manual>("manual(provider_id)", "Select a specific provider by ID.")
          .repr<[](const SelectionPolicy& p) -> std::string {
            switch (p.kind) {
              case SelectionPolicy::Kind::HighestPriority: return "PySelectionPolicy(HighestPriority)";
              case SelectionPolicy::Kind::FirstAvailable: return "PySelectionPolicy(FirstAvailable)";
              case SelectionPolicy::Kind::Manual: break;
            }
            return "PySelectionPolicy(Manual(" + p.id.text + "))";
          }>());
}

void add_selection_functions(std::vector<FunctionSpec>& out) {
  // The element type, the registry and the requirements are read in place
  // under shared borrows, held while the later arguments are converted; the chosen
  // descriptor is shared, not copied (it never changes, and the registry
  // only ever appends).
  out.push_back(Function<[](Held<ElementTypeId> element_type, const ProviderRegistry& registry,
                            const ReadList<Requirement>& requirements, const SelectionPolicy& policy) {
    // The type's lookup hash, worked out on its first selection.
    std::uint32_t& hash = element_type.memo();
    if (hash == 0) hash = ProviderRegistry::type_hash(element_type.value());
    return select_shared(element_type.value(), hash, registry, requirements.values(), policy);
  }>("select_provider(element_type, registry, requirements, policy)",
     "Select a provider for an element type (RFC-004 \xc2\xa7" "20).\n\nRaises `ValueError` when no "
     "provider is found, no provider\nsatisfies the requirements, or a manually-selected provider "
     "is\nabsent."));
}

}  // namespace kelo::py
