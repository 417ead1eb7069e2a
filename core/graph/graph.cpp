#include "graph/graph.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace kelo_core::graph {

namespace {

// Room for n more in a vector: by doubling, so that appends stay amortised
// O(1). May fail, changing nothing.
template <class T>
void make_room(std::vector<T>& v, std::size_t n) {
  if (v.capacity() - v.size() >= n) return;
  v.reserve(std::max<std::size_t>({v.size() + n, 2 * v.capacity(), 4}));
}

}  // namespace

std::uint32_t Graph::find_contract(const DataContract& c) const {
  if (const void* key = c.identity()) return shared_contracts_.find(key)->second;
  return plain_contracts_[std::size_t(c.category())];
}

std::uint32_t Graph::enter_contract(const DataContract& c, std::uint32_t hint) {
  if (hint != IdTable::kNone && contracts_[hint].identity() == c.identity() &&
      contracts_[hint].category() == c.category()) {
    return hint;
  }
  const auto at = std::uint32_t(contracts_.size());
  if (const void* key = c.identity()) {
    if (auto it = shared_contracts_.find(key); it != shared_contracts_.end()) return it->second;
    make_room(contracts_, 1);
    shared_contracts_.emplace(key, at);
  } else {
    std::uint32_t& plain = plain_contracts_[std::size_t(c.category())];
    if (plain != IdTable::kNone) return plain;
    make_room(contracts_, 1);
    plain = at;
  }
  contracts_.push_back(c);  // cannot fail: there is room, and a copy shares the payload
  return at;
}

void Graph::make_text_room(std::size_t n) {
  if (text_.capacity() - text_.size() >= n) return;
  text_.reserve(std::max<std::size_t>({text_.size() + n, 2 * text_.capacity(), 64}));
}

std::uint32_t Graph::keep_text(std::string_view text) noexcept {
  const auto at = std::uint32_t(text_.size());
  text_.append(text);  // within the capacity made
  return at;
}

void Graph::reserve_names(std::size_t n) {
  name_ids_.reserve(n, names_.size() + n, [&](auto put) {
    for (std::size_t i = 0; i < names_.size(); ++i) put(IdTable::fingerprint(name_text(i)), i);
  });
}

std::uint32_t Graph::find_name(std::uint32_t fp, std::string_view text) const {
  return name_ids_.find(fp, [&](std::uint32_t i) { return name_text(i) == text; });
}

std::uint32_t Graph::enter_name(std::uint32_t text, std::uint32_t size, bool element) noexcept {
  const std::string_view view = std::string_view(text_).substr(text, size);
  const std::uint32_t fp = IdTable::fingerprint(view);
  std::uint32_t i = find_name(fp, view);
  if (i == IdTable::kNone) {
    i = std::uint32_t(names_.size());
    name_ids_.insert(fp, i);
    names_.push_back({text, size, element});
  } else if (element) {
    names_[i].element = true;
  }
  return i;
}

// All or nothing: every allocation comes first, then the commits, which
// cannot fail. Texts and contracts entered before a failure stay entered,
// unused.
void Graph::add_element(const Element& e) {
  const std::size_t k = e.inputs.size() + e.outputs.size();
  // The id tables' slots are read last but fetched first: the work between
  // hides the wait on memory.
  const std::uint32_t fp = IdTable::fingerprint(e.id.uuid);
  element_ids_.prefetch(fp);
  std::uint32_t port_fps[kHints] = {};
  for (std::size_t i = 0; i < std::min(k, kHints); ++i) {
    const Port& p = i < e.inputs.size() ? e.inputs[i] : e.outputs[i - e.inputs.size()];
    port_fps[i] = IdTable::fingerprint(p.id.uuid);
    port_ids_.prefetch(port_fps[i]);
  }
  const std::uint32_t type = texts_.enter(e.type_id.text, type_hint_);
  // The first ports' names and contracts, as entered; any later port's are
  // looked up again when it is committed.
  std::uint32_t names[kHints] = {}, contracts[kHints] = {};
  std::size_t j = 0;
  auto enter_port = [&](const Port& p) {
    const std::size_t h = std::min(j, kHints - 1);
    const std::uint32_t name = texts_.enter(p.name, name_hints_[h]);
    const std::uint32_t contract = enter_contract(p.contract, contract_hints_[h]);
    if (j < kHints) {
      names[j] = name;
      contracts[j] = contract;
    }
    ++j;
  };
  for (const Port& p : e.inputs) enter_port(p);
  for (const Port& p : e.outputs) enter_port(p);
  make_text_room(e.name.size());
  reserve(1, 0, k);
  make_room(duplicates_, 1 + k);
  if (!dynamic_.empty()) {
    reserve_names(1);
    make_room(names_, 1);
  }
  std::uint32_t config = IdTable::kNone;
  if (!e.config.empty()) {
    make_room(configs_, 1);
    config = std::uint32_t(configs_.size());
    configs_.push_back(e.config);  // the last step that can fail
  }

  const auto index = std::uint32_t(elements_.size());
  elements_.push_back({e.id, type, keep_text(e.name), std::uint32_t(e.name.size()),
                       std::uint32_t(ports_.size()), std::uint32_t(e.inputs.size()),
                       std::uint32_t(e.outputs.size()), config, e.kind, false});
  std::uint32_t node =
      element_ids_.find(fp, [&](std::uint32_t i) { return elements_[i].id == e.id; });
  if (node == IdTable::kNone) {
    element_ids_.insert(fp, index);
    elements_[index].indexed = true;
    node = index;
  } else {
    duplicates_.push_back({e.id.uuid, false, node, index});
  }
  type_hint_ = type;
  j = 0;
  auto put = [&](const Port& p) {
    const DataContract& c = p.contract;
    const auto at = std::uint32_t(ports_.size());
    std::uint32_t pfp;
    if (j < kHints) {
      ports_.push_back({p.id, names[j], contracts[j], p.direction});
      name_hints_[j] = names[j];
      contract_hints_[j] = contracts[j];
      pfp = port_fps[j];
    } else {
      ports_.push_back({p.id, texts_.find(p.name), find_contract(c), p.direction});
      pfp = IdTable::fingerprint(p.id.uuid);
    }
    ++j;
    const PortRecord record{node, p.direction, c.category(),
                            c.category() != DataContract::Category::Custom && c.spec() == nullptr};
    const std::uint32_t r =
        port_ids_.find(pfp, [&](std::uint32_t i) { return ports_[record_port_[i]].id == p.id; });
    if (r == IdTable::kNone) {
      const auto fresh = std::uint32_t(records_.size());
      port_ids_.insert(pfp, fresh);
      records_.push_back(record);
      record_port_.push_back(at);
      if (!pending_.empty()) {
        const std::uint32_t w =
            pending_ids_.find(pfp, [&](std::uint32_t i) { return pending_[i].id == p.id.uuid; });
        for (std::uint32_t i = w; i != IdTable::kNone;) {
          Pending& end = pending_[i];
          if (!end.resolved) {
            (end.target ? ends_[end.edge].target : ends_[end.edge].source) = fresh;
            end.resolved = true;
          }
          i = end.next_plus_one - 1;
        }
      }
    } else {
      duplicates_.push_back({p.id.uuid, true, records_[r].node, node});
      records_[r] = record;
      record_port_[r] = at;
    }
  };
  for (const Port& p : e.inputs) put(p);
  for (const Port& p : e.outputs) put(p);
  if (!dynamic_.empty()) enter_name(elements_[index].name, elements_[index].name_size, true);
}

void Graph::add_edge(const Edge& edge) {
  edges_.make_room(1);
  ends_.make_room(1);
  pending_ids_.reserve(2, pending_.size() + 2, [&](auto put) {
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      if (pending_[i].head) put(IdTable::fingerprint(pending_[i].id), i);
    }
  });
  make_room(pending_, 2);
  const std::optional<std::string_view> name = edge.source_element();
  if (name) {
    // The first dynamic-output edge enters every element's name.
    const std::size_t k = 1 + (dynamic_.empty() ? elements_.size() : 0);
    reserve_names(k);
    make_room(names_, k);
    make_room(dynamic_, 1);
    make_text_room(name->size());
    make_room(named_edges_, 1);
    named_edges_.push_back(edge);  // cannot fail: there is room, and a copy shares the names
  }

  const auto index = std::uint32_t(edges_.size());
  const std::uint32_t kind = name ? std::uint32_t(named_edges_.size() - 1)
                                  : edge.late_binding() ? EdgeRecord::kLate : EdgeRecord::kPlain;
  edges_.push_back({edge.source, edge.target, kind});
  auto find_port = [&](const PortId& id) {
    return port_ids_.find(IdTable::fingerprint(id.uuid),
                          [&](std::uint32_t r) { return ports_[record_port_[r]].id == id; });
  };
  const EdgeEnds ends{find_port(edge.source), find_port(edge.target)};
  ends_.push_back(ends);
  auto wait = [&](const Uuid& id, bool target) {
    const std::uint32_t fp = IdTable::fingerprint(id);
    const auto at = std::uint32_t(pending_.size());
    const std::uint32_t first =
        pending_ids_.find(fp, [&](std::uint32_t i) { return pending_[i].id == id; });
    if (first == IdTable::kNone) {
      pending_.push_back({id, index, 0, target, false, true});
      pending_ids_.insert(fp, at);
    } else {
      // Second in the chain: the table keeps pointing at the first.
      pending_.push_back({id, index, pending_[first].next_plus_one, target, false, false});
      pending_[first].next_plus_one = at + 1;
    }
  };
  if (ends.source == IdTable::kNone) wait(edge.source.uuid, false);
  if (ends.target == IdTable::kNone) wait(edge.target.uuid, true);
  if (name) {
    if (dynamic_.empty()) {
      for (std::size_t i = 0; i < elements_.size(); ++i) {
        enter_name(elements_[i].name, elements_[i].name_size, true);
      }
    }
    const std::uint32_t at = keep_text(*name);
    dynamic_.push_back({index, enter_name(at, std::uint32_t(name->size()), false)});
  }
}

void Graph::reserve(std::size_t elements, std::size_t edges, std::size_t ports) {
  elements_.make_room(elements);
  edges_.make_room(edges);
  ends_.make_room(edges);
  ports_.make_room(ports);
  records_.make_room(ports);
  record_port_.make_room(ports);
  element_ids_.reserve(elements, elements_.size() + elements, [&](auto put) {
    for (std::size_t i = 0; i < elements_.size(); ++i) {
      if (elements_[i].indexed) put(IdTable::fingerprint(elements_[i].id.uuid), i);
    }
  });
  port_ids_.reserve(ports, records_.size() + ports, [&](auto put) {
    for (std::size_t r = 0; r < records_.size(); ++r) {
      put(IdTable::fingerprint(ports_[record_port_[r]].id.uuid), r);
    }
  });
}

Port Graph::port(std::size_t i) const {
  const PortEntry& p = ports_[i];
  return Port(p.id, texts_[p.name], p.direction, contracts_[p.contract]);
}

Element Graph::element(std::size_t i) const {
  const ElementRecord& r = elements_[i];
  const std::string_view name = std::string_view(text_).substr(r.name, r.name_size);
  Element e = Element::make(r.id, ElementTypeId{texts_[r.type]}, std::string(name), r.kind);
  for (std::uint32_t j = 0; j < r.inputs; ++j) e.inputs.push_back(port(r.ports + j));
  for (std::uint32_t j = 0; j < r.outputs; ++j) e.outputs.push_back(port(r.ports + r.inputs + j));
  if (r.config != IdTable::kNone) e.config = configs_[r.config];
  return e;
}

Edge Graph::edge(std::size_t k) const {
  const EdgeRecord& r = edges_[k];
  if (r.kind == EdgeRecord::kPlain) return Edge(r.source, r.target);
  if (r.kind == EdgeRecord::kLate) return Edge(r.source, r.target, true);
  return named_edges_[r.kind];
}

std::vector<Element> Graph::elements() const {
  std::vector<Element> out;
  out.reserve(elements_.size());
  for (std::size_t i = 0; i < elements_.size(); ++i) out.push_back(element(i));
  return out;
}

std::vector<Edge> Graph::edges() const {
  std::vector<Edge> out;
  out.reserve(edges_.size());
  for (std::size_t k = 0; k < edges_.size(); ++k) out.push_back(edge(k));
  return out;
}

std::optional<Element> Graph::find_element(const ElementId& id) const {
  const std::uint32_t i = element_ids_.find(IdTable::fingerprint(id.uuid),
                                            [&](std::uint32_t v) { return elements_[v].id == id; });
  if (i == IdTable::kNone) return std::nullopt;
  return element(i);
}

Graph::Scratch::Block* Graph::Scratch::take(std::size_t bytes) const {
  Block* block = block_.exchange(nullptr);
  if (!block || block->size < bytes) {
    release(block);
    void* raw = ::operator new(64 + bytes, std::align_val_t(64));
    block = ::new (raw) Block{bytes};
  }
  return block;
}

void Graph::Scratch::give(Block* block) const { release(block_.exchange(block)); }

void Graph::Scratch::release(Block* block) {
  if (block) ::operator delete(static_cast<void*>(block), std::align_val_t(64));
}

GraphBuilder GraphBuilder::add_element(Element element) && {
  graph_.add_element(std::move(element));
  return std::move(*this);
}

GraphBuilder GraphBuilder::add_edge(Edge edge) && {
  graph_.add_edge(std::move(edge));
  return std::move(*this);
}

GraphBuilder GraphBuilder::connect(PortId source, PortId target) && {
  return std::move(*this).add_edge(Edge::plain(source, target));
}

GraphBuilder GraphBuilder::connect_late(PortId source, PortId target) && {
  return std::move(*this).add_edge(Edge::late(source, target));
}

Result<GraphBuilder> GraphBuilder::connect_dynamic(std::string source_element,
                                                   std::string pad_name, PortId target) && {
  auto edge = Edge::dynamic_output(std::move(source_element), std::move(pad_name), target);
  if (!edge) return edge.error();
  return std::move(*this).add_edge(*std::move(edge));
}

Graph GraphBuilder::build() && { return std::move(graph_); }

// Releasing the top of a long chain would otherwise release the node below
// it from inside its own destructor, and so on down: unlink each node that
// no one else holds before it goes.
SharedGraphBuilder::Node::~Node() {
  std::shared_ptr<Node> next = std::move(below);
  while (next && next.use_count() == 1) {
    std::shared_ptr<Node> after = std::move(next->below);
    next = std::move(after);  // releases the unlinked node
  }
}

SharedGraphBuilder SharedGraphBuilder::add_element(Element element) const {
  return add_element(Shared<Element>::of(std::move(element)));
}

SharedGraphBuilder SharedGraphBuilder::add_element(Shared<Element> element) const {
  const std::size_t ports = element->inputs.size() + element->outputs.size();
  auto top = std::make_shared<ElementNode>(top_, std::move(element));
  return SharedGraphBuilder(std::move(top), elements_ + 1, edges_, ports_ + ports);
}

SharedGraphBuilder SharedGraphBuilder::add_edge(Edge edge) const {
  auto top = std::make_shared<EdgeNode>(top_, std::move(edge));
  return SharedGraphBuilder(std::move(top), elements_, edges_ + 1, ports_);
}

Graph SharedGraphBuilder::build() const {
  std::vector<const Node*> chain;
  chain.reserve(elements_ + edges_);
  for (const Node* n = top_.get(); n; n = n->below.get()) chain.push_back(n);
  Graph g;
  g.reserve(elements_, edges_, ports_);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if ((*it)->is_edge) {
      g.add_edge(static_cast<const EdgeNode*>(*it)->edge);
    } else {
      g.add_element(static_cast<const ElementNode*>(*it)->element);
    }
  }
  return g;
}

}  // namespace kelo_core::graph
