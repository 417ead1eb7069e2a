// In-place mutators are all or nothing: an allocation that fails anywhere
// inside one leaves its receiver as it was. The test binary's global
// operator new can be armed to fail its k-th allocation; each mutator is
// called with k = 0, 1, 2, ... until it succeeds, and the receiver is
// compared with a copy taken before every failed call.
#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "data/attribute.h"
#include "data/metadata.h"
#include "graph/config.h"
#include "graph/graph.h"
#include "provider/registry.h"
#include "support/shared_list.h"

namespace {

// Allocations left before the failing one; negative when disarmed.
std::atomic<long> countdown{-1};
// Blocks allocated and not yet freed.
std::atomic<long> live{0};

void* allocate(std::size_t n, std::size_t align) {
  if (countdown.load(std::memory_order_relaxed) >= 0 &&
      countdown.fetch_sub(1, std::memory_order_relaxed) == 0) {
    throw std::bad_alloc();  // the armed allocation; later ones succeed
  }
  if (n == 0) n = 1;
  void* p = align <= alignof(std::max_align_t)
                ? std::malloc(n)
                : std::aligned_alloc(align, (n + align - 1) / align * align);
  if (!p) throw std::bad_alloc();
  live.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void release(void* p) noexcept {
  if (p) live.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n, 0); }
void* operator new[](std::size_t n) { return allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate(n, std::size_t(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate(n, std::size_t(a)); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }

namespace kelo_core {
namespace {

// Calls mutate(r) failing its 0th, 1st, ... allocation until it succeeds;
// after each failure, view(r) must equal view of the copy taken before.
// Returns how many calls failed.
template <class R, class Mutate, class View>
int fail_each_allocation(R& r, Mutate mutate, View view) {
  for (int k = 0;; ++k) {
    const R before = r;
    const auto expected = view(before);
    countdown.store(k);
    bool failed = false;
    try {
      mutate(r);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    countdown.store(-1);
    if (!failed) return k;
    EXPECT_EQ(view(r), expected) << "changed by a call whose allocation " << k << " failed";
    if (view(r) != expected) return k;
  }
}

auto same = [](const auto& v) { return v; };

TEST(AllOrNothingTest, RegisteringAProvider) {
  using provider::ProviderDescriptor;
  using provider::ProviderRegistry;
  ProviderRegistry registry;
  const std::vector<std::string> types = {"a", "b", "c", "d", "e", "b"};
  registry.register_provider(ProviderDescriptor::make({"old"}, {1, 0, 0})
                                 .with_element_type({"b"})
                                 .with_element_type({"d"}));
  ProviderDescriptor d = ProviderDescriptor::make({"new"}, {1, 0, 0});
  for (const std::string& t : types) d = d.with_element_type({t});
  // What lookups see: the total and, per type, the providers' ids in order.
  auto view = [&](const ProviderRegistry& r) {
    std::vector<std::string> seen{std::to_string(r.len())};
    for (const std::string& t : types) {
      for (const auto& e : r.find({t})) seen.push_back(t + ":" + e.descriptor->id.text);
      seen.push_back("|");
    }
    return seen;
  };
  const int failures =
      fail_each_allocation(registry, [&](ProviderRegistry& r) { r.register_provider(d); }, view);
  EXPECT_GT(failures, 3);
  EXPECT_EQ(registry.len(), 8u);
  EXPECT_EQ(registry.find({"b"}).size(), 3u);
}

// Shared values free their blocks when the last holder goes, whether they were copied, changed
// after a copy, or left by a failed call.
TEST(AllOrNothingTest, GraphConfigAttributesAndMetadata) {
  using namespace graph;
  auto id = ElementId::fresh();  // process-wide state first: the random block, the serial key
  auto warm = data::Object::make(data::ObjectId{}, data::BoundingBox{});
  ASSERT_TRUE(id.ok());
  ASSERT_TRUE(warm.ok());
  const long before = live.load();
  {
    Config config;
    config.set("k", "v");
    const Element element =
        Element::make(*id, {"kelo.decode.h264"}, "decoder", ElementKind::Operator)
            .with_input(*Port::input("in", DataContract::frame()))
            .with_config(config);
    Graph g;
    for (int i = 0; i < 3; ++i) g.add_element(element);
    auto graph_view = [](const Graph& x) { return std::pair(x.elements(), x.edges()); };
    fail_each_allocation(g, [&](Graph& x) { x.add_element(element); }, graph_view);
    const Edge edge = *Edge::dynamic_output("decoder", "src_%u", element.inputs[0].id);
    for (int i = 0; i < 4; ++i) {
      fail_each_allocation(g, [&](Graph& x) { x.add_edge(edge); }, graph_view);
    }
    EXPECT_EQ(g.elements().size(), 4u);
    EXPECT_EQ(g.edges().size(), 4u);

    for (const char* key : {"a a long key that is not stored inline", "k", "z"}) {
      fail_each_allocation(config, [&](Config& c) { c.set(key, std::string(40, 'x')); }, same);
    }
    EXPECT_EQ(config.keys().size(), 3u);

    data::Attributes attributes;
    const char* long_key = "a long attribute key, not stored inline";
    for (const char* key : {long_key, "b", long_key}) {
      fail_each_allocation(attributes,
          [&](data::Attributes& a) { a.insert(key, {std::string(40, 'y')}); }, same);
    }
    EXPECT_EQ(attributes.keys().size(), 2u);
    data::Attributes changed = attributes;
    changed.insert("k", {std::int64_t(1)});

    data::Metadata metadata;
    auto object = data::Object::make(data::ObjectId{}, data::BoundingBox{1, 2, 3, 4});
    ASSERT_TRUE(object.ok());
    object->label = std::string(40, 'z');
    object->attributes = changed;
    object->related_mut().push_back(Uuid{});
    for (int i = 0; i < 5; ++i) {
      fail_each_allocation(metadata,
          [&](data::Metadata& m) { m.objects.push_back(*object); }, same);
    }
    EXPECT_EQ(metadata.objects.size(), 5u);
    data::Metadata copy = metadata;
    copy.objects.push_back(*object);
    copy.objects[0].label = "changed";
  }
  EXPECT_EQ(live.load(), before);
}

// An entry whose copy fails on demand.
struct Fragile {
  static inline int copies_left = -1;  // negative: copies always succeed
  static inline int alive = 0;
  int value;
  explicit Fragile(int v) : value(v) { ++alive; }
  Fragile(const Fragile& o) : value(o.value) {
    if (copies_left == 0) throw std::runtime_error("copy failed");
    if (copies_left > 0) --copies_left;
    ++alive;
  }
  ~Fragile() { --alive; }
  friend bool operator==(const Fragile&, const Fragile&) = default;
};

TEST(AllOrNothingTest, SharedListAppendsWhoseCopiesFail) {
  {
    SharedList<Fragile> list;
    for (int i = 0; i < 4; ++i) list.push_back(Fragile(i));  // capacity 4, full
    const SharedList<Fragile> older = list;
    SharedList<Fragile> branch = older;
    for (int k = 0; k < 5; ++k) {
      Fragile::copies_left = k;
      EXPECT_THROW(branch.push_back(Fragile(9)), std::runtime_error) << k;
      Fragile::copies_left = -1;
      EXPECT_TRUE(branch == older);
    }
    branch.push_back(Fragile(9));
    // A failed append in place leaves the slot to the next append.
    SharedList<Fragile> shorter;
    shorter.push_back(Fragile(0));
    shorter.push_back(Fragile(1));
    shorter.push_back(Fragile(2));  // capacity 4, one slot free
    const Fragile item(3);
    Fragile::copies_left = 1;  // the argument's copy succeeds, the entry's fails
    EXPECT_THROW(shorter.push_back(item), std::runtime_error);
    Fragile::copies_left = -1;
    SharedList<Fragile> after = shorter;
    after.push_back(Fragile(7));
    EXPECT_EQ(after.back().value, 7);
    EXPECT_EQ(after.size(), 4u);
  }
  EXPECT_EQ(Fragile::alive, 0);  // nothing leaked, nothing destroyed twice
}

}  // namespace
}  // namespace kelo_core
