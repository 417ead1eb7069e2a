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

TEST(RegistryTest, OneEntryPerDeclaredTypeStoredOnce) {
  ProviderRegistry r;
  EXPECT_TRUE(r.is_empty());
  r.register_provider(provider("none", 0, {}, {}));
  EXPECT_EQ(r.len(), 0u);
  r.register_provider(provider("a", 0, {}, {"x", "y", "x"}));
  r.register_provider(provider("b", 0, {}, {"y"}));
  EXPECT_EQ(r.len(), 4u);
  ASSERT_EQ(r.find({"x"}).size(), 2u);
  EXPECT_EQ(r.find({"x"})[0].descriptor.get(), r.find({"y"})[0].descriptor.get());  // shared, not copied
  ASSERT_EQ(r.find({"y"}).size(), 2u);
  EXPECT_EQ(r.find({"y"})[1].descriptor->id.text, "b");
  EXPECT_TRUE(r.find({"z"}).empty());
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

// The requirement rules (each kind against each kind of capability, the operating system's ASCII case
// folding) are checked against a model on random registries by the Python tests.
TEST(SelectionTest, PoliciesAndErrorsInOrder) {
  ProviderRegistry r;
  r.register_provider(provider("p1", 5));
  r.register_provider(provider("p2", 9, {C::of(C::Kind::Cuda)}));
  r.register_provider(provider("p3", 9));
  r.register_provider(provider("p2", 20));
  const ElementTypeId t{"t"};
  auto pick = [&](std::vector<R> reqs, SelectionPolicy policy) {
    Selection s = choose_provider(t, r, reqs, policy);
    // The explanation reaches the same answer, and calls exactly the chosen candidate chosen.
    SelectionExplanation x = explain_selection(t, r, reqs, policy);
    EXPECT_EQ(x.selection.chosen, s.chosen);
    EXPECT_EQ(x.selection.error, s.error);
    EXPECT_EQ(std::count_if(x.candidates.begin(), x.candidates.end(),
                            [](const CandidateVerdict& v) { return v.verdict == Verdict::Chosen; }),
              s ? 1 : 0);
    return s ? s.chosen->id.text + "/" + std::to_string(s.chosen->priority)
             : std::string(message(s.error));
  };
  using P = SelectionPolicy;
  EXPECT_EQ(pick({}, P::highest_priority()), "p2/20");
  EXPECT_EQ(pick({}, P::first_available()), "p1/5");
  EXPECT_EQ(pick({}, P::manual({"p2"})), "p2/9");
  EXPECT_EQ(pick({}, P::manual({"p3"})), "p3/9");
  EXPECT_EQ(pick({R::cuda_required()}, P::first_available()), "p2/9");
  EXPECT_EQ(pick({R::cuda_required()}, P::manual({"p1"})), "provider not found");
  EXPECT_EQ(pick({R::accelerator("x")}, P::manual({"p1"})), "no provider satisfies requirements");
  EXPECT_EQ(pick({}, P::manual({"P1"})), "provider not found");
  EXPECT_EQ(choose_provider({"u"}, r, {}, P::manual({"p1"})).error, SelectionError::NoProvidersFound);

  // Every candidate's verdict, in registry order ("p1 p2 p3 p2").
  auto verdicts = [&](std::vector<R> reqs, SelectionPolicy policy) {
    std::string out;
    for (const CandidateVerdict& v : explain_selection(t, r, reqs, policy).candidates) {
      out.append(verdict_name(v.verdict));
      if (v.verdict == Verdict::FailsRequirement) {
        out.push_back('#');
        out.append(std::to_string(v.requirement));
      }
      out.push_back(' ');
    }
    return out;
  };
  EXPECT_EQ(verdicts({}, P::highest_priority()), "outranked outranked outranked chosen ");
  EXPECT_EQ(verdicts({R::custom("x"), R::cuda_required()}, P::first_available()),
            "fails_requirement#1 chosen fails_requirement#1 fails_requirement#1 ");
  EXPECT_EQ(verdicts({}, P::manual({"p2"})), "not_manual_choice chosen not_manual_choice outranked ");
  EXPECT_EQ(verdicts({R::cuda_required()}, P::manual({"p1"})),
            "fails_requirement#0 not_manual_choice fails_requirement#0 fails_requirement#0 ");
  EXPECT_TRUE(explain_selection({"u"}, r, {}, P::first_available()).candidates.empty());

  ProviderRegistry ties;
  ties.register_provider(provider("a", -3));
  ties.register_provider(provider("b", -1));
  ties.register_provider(provider("c", -1));
  ties.register_provider(provider("d", -2));
  auto best = select_provider(t, ties, {}, P::highest_priority());
  ASSERT_TRUE(best.ok());
  EXPECT_EQ(best->id.text, "c");
  auto none = select_provider({"u"}, ties, {}, P::highest_priority());
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(none.error().kind, Error::Kind::Value);
  EXPECT_EQ(none.error().message, "no providers found");
}

// Which requirements a candidate meets only by assumption: the kinds no capability bears out, among the
// requirements it was tested against (those before the one it fails).
TEST(SelectionTest, RequirementsMetByAssumption) {
  const std::vector<std::pair<R::Kind, Basis>> bases = {
      {R::Kind::CudaRequired, Basis::Evidence},     {R::Kind::GpuMemory, Basis::Assumption},
      {R::Kind::Accelerator, Basis::Evidence},      {R::Kind::OperatingSystem, Basis::Assumption},
      {R::Kind::ExternalRuntime, Basis::Evidence},  {R::Kind::Custom, Basis::Assumption}};
  for (const auto& [kind, want] : bases) EXPECT_EQ(basis(kind), want) << kind_name(R{kind, 0, {}});

  ProviderRegistry r;
  r.register_provider(provider("plain", 1));
  r.register_provider(provider("gpu", 2, {C::of(C::Kind::Cuda), C::custom("runtime:onnx")}));
  const std::vector<R> reqs = {R::custom("x"), R::external_runtime("onnx"), R::gpu_memory(1 << 30),
                               R::operating_system(std::string(kOperatingSystem)), R::cuda_required()};
  const SelectionExplanation x = explain_selection({"t"}, r, reqs, SelectionPolicy::highest_priority());
  ASSERT_EQ(x.candidates.size(), 2u);
  EXPECT_EQ(x.candidates[0].assumed, (std::vector<std::size_t>{0}));  // fails #1, the runtime
  EXPECT_EQ(x.candidates[1].assumed, (std::vector<std::size_t>{0, 2, 3}));
}

TEST(RegistryTest, ManyElementTypesInOneDescriptor) {
  constexpr std::size_t n = 100000;
  auto big = ProviderDescriptor::make({"big"}, {0, 1, 0});
  for (std::size_t i = 0; i < n; ++i) big.element_types.push_back({"kelo.stress." + std::to_string(i)});
  ProviderRegistry r;
  r.register_provider(big);
  r.register_provider(big);
  EXPECT_EQ(r.len(), 2 * n);
  const ElementTypeId first{"kelo.stress.0"}, last{"kelo.stress.99999"};
  ASSERT_EQ(r.find(last).size(), 2u);
  EXPECT_EQ(r.find(first)[0].descriptor.get(), r.find(last)[0].descriptor.get());
  EXPECT_NE(r.find(first)[0].descriptor.get(), r.find(first)[1].descriptor.get());
  EXPECT_EQ(r.find(last)[1].descriptor->element_types.size(), n);
  auto chosen = select_provider(last, r, {}, SelectionPolicy::first_available());
  ASSERT_TRUE(chosen.ok());
  EXPECT_EQ(chosen->element_types.size(), n);
  EXPECT_EQ(chosen->element_types.back(), last);
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
