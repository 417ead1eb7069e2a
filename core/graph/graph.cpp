#include "graph/graph.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace kelo_core::graph {

void Graph::add_element(Element element) { add_element(Shared<Element>::of(std::move(element))); }

// All or nothing: every allocation comes first, then the commits, which
// cannot fail.
void Graph::add_element(Shared<Element> element) {
  index_.prepare_element(*element);
  elements_.reserve(elements_.size() + 1);
  elements_.push_back(std::move(element));
  index_.commit_element(elements_, std::uint32_t(elements_.size() - 1));
}

void Graph::add_edge(Edge edge) {
  index_.prepare_edge(edge, elements_);
  if (edges_.size() == edges_.capacity()) edges_.reserve(std::max<std::size_t>(16, 2 * edges_.size()));
  edges_.push_back(std::move(edge));
  // The names it interns point into the edge where the graph keeps it.
  index_.commit_edge(edges_.back(), std::uint32_t(edges_.size() - 1), elements_);
}

void Graph::reserve(std::size_t elements, std::size_t edges) {
  elements_.reserve(elements_.size() + elements);
  edges_.reserve(edges_.size() + edges);
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

const Element* Graph::find_element(const ElementId& id) const {
  for (const Element& e : elements_) {
    if (e.id == id) return &e;
  }
  return nullptr;
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
  auto top = std::make_shared<ElementNode>(top_, std::move(element));
  return SharedGraphBuilder(std::move(top), elements_ + 1, edges_);
}

SharedGraphBuilder SharedGraphBuilder::add_edge(Edge edge) const {
  auto top = std::make_shared<EdgeNode>(top_, std::move(edge));
  return SharedGraphBuilder(std::move(top), elements_, edges_ + 1);
}

Graph SharedGraphBuilder::build() const {
  std::vector<const Node*> chain;
  chain.reserve(elements_ + edges_);
  for (const Node* n = top_.get(); n; n = n->below.get()) chain.push_back(n);
  Graph g;
  g.reserve(elements_, edges_);
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
