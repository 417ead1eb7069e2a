#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "provider/abi.h"
#include "provider/capability.h"
#include "provider/descriptor.h"
#include "provider/registry.h"
#include "provider/selection.h"
#include "support/seeded_hash.h"

namespace kelo_core::provider {
namespace {

using graph::ElementTypeId;
using R = Requirement;
using C = Capability;

std::uint64_t hash_of(const auto& v) {
  HashStream h;
  hash_into(h, v);
  return h.finish();
}

// The bytes each provider value feeds the hash stream are checked, kind by kind, through Python's hash() by
// the Python tests.

ProviderDescriptor provider(std::string id, std::int32_t priority, std::vector<C> caps = {},
                            std::vector<std::string> types = {"t"}) {
  auto d = ProviderDescriptor::make({std::move(id)}, {0, 1, 0}).with_priority(priority);
  for (auto& t : types) d.element_types.push_back({t});
  for (auto& c : caps) d.capabilities.push_back(std::move(c));
  return d;
}

// Past a short list, a candidate's custom tags are looked up in a hash
// table: each of many is found, colliding ones included, and no other.
// Past the registry's numbered tags, they are looked for only in the
// candidates that have some tag without a number.
TEST(SelectionTest, ManyCustomTags) {
  std::vector<C> caps;
  for (int i = 0; i < 300; ++i) caps.push_back(C::custom(std::string("accelerator:a").append(std::to_string(i))));
  ProviderRegistry r;
  r.register_provider(provider("many", 1, caps));
  r.register_provider(provider("few", 1, {C::custom("accelerator:a0"), C::custom("runtime:a100")}));
  const auto policy = SelectionPolicy::first_available();
  for (int i = 0; i <= 300; ++i) {
    const std::vector<R> wanted = {R::accelerator(std::string("a").append(std::to_string(i)))};
    EXPECT_EQ(bool(choose_provider({"t"}, r, wanted, policy)), i < 300) << i;
    const Selection few = choose_provider({"t"}, r, wanted, SelectionPolicy::manual({"few"}));
    EXPECT_EQ(bool(few), i == 0) << i;
  }
}

// Choices and their errors are checked against a model on random registries, and verdicts on one
// registry, by the Python tests; these add repeated ids, candidates after the chosen one, and the
// explanation agreeing with the choice.
TEST(SelectionTest, VerdictsInRegistryOrder) {
  ProviderRegistry r;
  r.register_provider(provider("p1", 5));
  r.register_provider(provider("p2", 9, {C::of(C::Kind::Cuda)}));
  r.register_provider(provider("p3", 9));
  r.register_provider(provider("p2", 20));
  using P = SelectionPolicy;
  const struct { std::vector<R> reqs; P policy; std::string verdicts; } cases[] = {
      {{}, P::highest_priority(), "outranked outranked outranked chosen "},
      {{R::custom("x"), R::cuda_required()}, P::first_available(),
       "fails_requirement#1 chosen fails_requirement#1 fails_requirement#1 "},
      {{}, P::manual({"p2"}), "not_manual_choice chosen not_manual_choice outranked "},
      {{R::cuda_required()}, P::manual({"p1"}),
       "fails_requirement#0 not_manual_choice fails_requirement#0 fails_requirement#0 "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.verdicts);
    const SelectionExplanation x = explain_selection({"t"}, r, c.reqs, c.policy);
    std::string out;
    const ProviderDescriptor* chosen = nullptr;
    for (const CandidateVerdict& v : x.candidates) {
      out.append(verdict_name(v.verdict));
      if (v.verdict == Verdict::FailsRequirement) {
        out.push_back('#');
        out.append(std::to_string(v.requirement));
      }
      out.push_back(' ');
      if (v.verdict == Verdict::Chosen) chosen = v.descriptor;
    }
    EXPECT_EQ(out, c.verdicts);
    const Selection s = choose_provider({"t"}, r, c.reqs, c.policy);
    EXPECT_EQ(x.selection.chosen, s.chosen);
    EXPECT_EQ(x.selection.error, s.error);
    EXPECT_EQ(chosen, s.chosen);
  }
  EXPECT_TRUE(explain_selection({"u"}, r, {}, P::first_available()).candidates.empty());
}

// Which requirements a candidate meets only by assumption (checked through the Python tests)
// follows each kind's basis: the kinds no capability bears out.
TEST(SelectionTest, RequirementBases) {
  const std::vector<std::pair<R::Kind, Basis>> bases = {
      {R::Kind::CudaRequired, Basis::Evidence},     {R::Kind::GpuMemory, Basis::Assumption},
      {R::Kind::Accelerator, Basis::Evidence},      {R::Kind::OperatingSystem, Basis::Assumption},
      {R::Kind::ExternalRuntime, Basis::Evidence},  {R::Kind::Custom, Basis::Assumption}};
  for (const auto& [kind, want] : bases) EXPECT_EQ(basis(kind), want) << kind_name(R{kind, 0, {}});
}

// One stored descriptor serves all its entries; registering it again stores another.
TEST(RegistryTest, ManyElementTypesInOneDescriptor) {
  constexpr std::size_t n = 100000;
  auto big = ProviderDescriptor::make({"big"}, {0, 1, 0});
  for (std::size_t i = 0; i < n; ++i) big.element_types.push_back({"kelo.stress." + std::to_string(i)});
  big.element_types.push_back({"kelo.stress.0"});  // declared twice: two entries
  ProviderRegistry r;
  r.register_provider(big);
  r.register_provider(big);
  EXPECT_EQ(r.len(), 2 * n + 2);
  const ElementTypeId first{"kelo.stress.0"}, last{"kelo.stress.99999"};
  ASSERT_EQ(r.find(first).size(), 4u);
  EXPECT_EQ(r.find(first)[1].descriptor.get(), r.find(last)[0].descriptor.get());
  EXPECT_NE(r.find(first)[0].descriptor.get(), r.find(first)[2].descriptor.get());
  auto chosen = select_provider(last, r, {}, SelectionPolicy::first_available());
  ASSERT_TRUE(chosen.ok());
  EXPECT_EQ(chosen->element_types, big.element_types);
}

TEST(SeededHashTest, EqualKeysHashAlike) {
  SeededHash h;
  EXPECT_EQ(h(ElementTypeId{"kelo.decode.h264"}), h(ElementTypeId{"kelo.decode.h264"}));
  EXPECT_NE(h(ElementTypeId{"a"}), h(ElementTypeId{"b"}));
  // Keyed per process: not the unkeyed stream hash.
  EXPECT_NE(h(ElementTypeId{"a"}), std::size_t(hash_of(ElementTypeId{"a"})));
}

}  // namespace
}  // namespace kelo_core::provider
