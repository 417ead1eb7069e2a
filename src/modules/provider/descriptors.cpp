// Provider identities, versions, capabilities, requirements, descriptors
// and the ABI check.
#include <string>
#include <utility>

#include "provider/abi.h"
#include "provider/capability.h"
#include "provider/descriptor.h"
#include "provider/topics.h"
#include "support/shared.h"

namespace kelo::py {

using namespace kelo_core::provider;
using kelo_core::graph::ElementTypeId;

namespace {

// One argument-less static constructor per capability kind but Custom,
// named by the kind: "cuda()", "fp16()", ...
template <std::size_t... I>
void def_plain_capabilities(Class<Capability>& c, std::index_sequence<I...>) {
  (c.def_static<[] { return Capability::of(static_cast<Capability::Kind>(I)); }>(
       (std::string(kCapabilityKinds[I]) + "()").c_str()),
   ...);
}

}  // namespace

void add_descriptor_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<ProviderId>("PyProviderId(s)",
                        "Provider identity \xe2\x80\x94 a string handle (e.g. `native.synthetic`).")
          .init<[](std::string s) { return ProviderId{std::move(s)}; }>()
          .def<[](const ProviderId& id) -> const std::string& { return id.text; }>("as_str($self)")
          .str<[](const ProviderId& id) -> const std::string& { return id.text; }>()
          .repr<[](const ProviderId& id) { return "PyProviderId('" + id.text + "')"; }>()
          .equality()
          .hash());

  out.push_back(
      Class<Version>("PyVersion(major, minor, patch)", "A semantic version.")
          .init<[](std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
            return Version{major, minor, patch};
          }>()
          .property<&Version::major>("major")
          .property<&Version::minor>("minor")
          .property<&Version::patch>("patch")
          .str<&Version::str>()
          .repr<[](const Version& v) { return "PyVersion('" + v.str() + "')"; }>()
          .equality()
          .hash());

  Class<Capability> capability("PyCapability", "An externally observable provider capability.");
  def_plain_capabilities(capability, std::make_index_sequence<kCapabilityKinds.size() - 1>{});
  out.push_back(
      capability
          .def_static<[](std::string tag) { return Capability::custom(std::move(tag)); }>(
              "custom(tag)", "A custom capability tag.")
          .def<[](const Capability& c) { return kind_name(c); }>(
              "kind($self)",
              "The capability kind: `cuda`, `fp16`, `int8`, `dynamic_shape`,\n`batching`, `h264`, "
              "`h265`, `nv12`, `metadata`,\n`async_execution` or `custom`.")
          .def<[](const Capability& c) -> std::optional<std::string_view> {
            if (!c.is_custom()) return std::nullopt;
            return c.tag;
          }>("custom_tag($self)", "The custom tag, if this is a custom capability.")
          .str<[](const Capability& c) { return text(c); }>()
          .repr<[](const Capability& c) { return "PyCapability(" + text(c) + ")"; }>()
          .equality()
          .hash());

  out.push_back(
      Class<Requirement>("PyRequirement", "A resource or condition a provider needs.")
          .def_static<&Requirement::cuda_required>("cuda_required()")
          .def_static<&Requirement::gpu_memory>(
              "gpu_memory(bytes)", "Require a provider with CUDA capability (`bytes` is advisory).")
          .def_static<&Requirement::accelerator>(
              "accelerator(name)",
              "Require a hardware accelerator (matched against\n`custom(\"accelerator:<name>\")` "
              "capabilities).")
          .def_static<&Requirement::operating_system>(
              "operating_system(name)", "Require a specific operating system (e.g. `macos`, `linux`).")
          .def_static<&Requirement::external_runtime>(
              "external_runtime(name)",
              "Require an external runtime (matched against\n`custom(\"runtime:<name>\")` "
              "capabilities).")
          .def_static<&Requirement::custom>("custom(tag)", "An opaque requirement (assumed satisfied).")
          .def<[](const Requirement& r) { return kind_name(r); }>("kind($self)", "The requirement kind.")
          .repr<[](const Requirement& r) {
            return "PyRequirement(" + std::string(kind_name(r)) + ")";
          }>()
          .equality()
          .hash());

  // A descriptor never changes once made, so instances, the registry and
  // the selections it answers share one value.
  using SharedDescriptor = kelo_core::Shared<ProviderDescriptor>;
  out.push_back(
      Class<SharedDescriptor>("PyProviderDescriptor(id, version)",
                              "Provider descriptor \xe2\x80\x94 what a provider implements.")
          .init<[](ProviderId id, Version version) {
            return SharedDescriptor::of(ProviderDescriptor::make(std::move(id), version));
          }>()
          .property<[](const SharedDescriptor& d) -> const ProviderId& { return d->id; }>("id")
          .property<[](const SharedDescriptor& d) { return d->version; }>("version")
          .property<[](const SharedDescriptor& d) -> const kelo_core::SharedList<ElementTypeId>& {
            return d->element_types;
          }>("element_types")
          .property<[](const SharedDescriptor& d) -> const kelo_core::SharedList<Capability>& {
            return d->capabilities;
          }>("capabilities")
          .property<[](const SharedDescriptor& d) -> const kelo_core::SharedList<Requirement>& {
            return d->requirements;
          }>("requirements")
          .property<[](const SharedDescriptor& d) { return d->priority; }>("priority")
          .def<[](const SharedDescriptor& d, ElementTypeId t) {
            return SharedDescriptor::of(d->with_element_type(std::move(t)));
          }>("with_element_type($self, type_id)", "Declare support for an element type (builder-style).")
          .def<[](const SharedDescriptor& d, Capability c) {
            return SharedDescriptor::of(d->with_capability(std::move(c)));
          }>("with_capability($self, cap)", "Declare a capability (builder-style).")
          .def<[](const SharedDescriptor& d, Requirement r) {
            return SharedDescriptor::of(d->with_requirement(std::move(r)));
          }>("with_requirement($self, req)", "Declare a requirement (builder-style).")
          .def<[](const SharedDescriptor& d, std::int32_t p) { return SharedDescriptor::of(d->with_priority(p)); }>(
              "with_priority($self, priority)", "Set the selection priority (builder-style).")
          .def<[](const SharedDescriptor& d, const ElementTypeId& t) { return d->supports(t); }>(
              "supports($self, type_id)", "Whether this provider implements the given element type.")
          .repr<[](const SharedDescriptor& d) {
            return "PyProviderDescriptor(" + d->id.text + ", v" + d->version.str() + ")";
          }>());
}

void add_abi_functions(std::vector<FunctionSpec>& out) {
  out.push_back(Function<[] { return kAbiVersion; }>(
      "abi_current_version()", "The current Kelo provider ABI version (RFC-004 \xc2\xa7" "24)."));
  out.push_back(Function<[](const Version& v) { return abi_is_compatible(v); }>(
      "abi_is_compatible(version)", "Whether `version` is compatible with the current ABI."));
}

}  // namespace kelo::py
