// Pipeline graphs: elements and edges in insertion order, and the builders
// that assemble them.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "graph/edge.h"
#include "graph/element.h"
#include "graph/index.h"
#include "support/result.h"
#include "support/shared.h"
#include "support/shared_vector.h"

namespace kelo_core::graph {

namespace validation {
struct ValidationReport;
}

// Owns its elements and edges. Nothing is checked on insertion: duplicate
// ids, edges naming ports that no element has, edges of the wrong direction
// and cycles are findings of validation. Elements are immutable values that
// the graph shares with whoever else holds them (builders, Python objects):
// adding one costs a reference count.
class Graph {
 public:
  const SharedVector<Element>& elements() const { return elements_; }
  const std::vector<Edge>& edges() const { return edges_; }
  std::size_t num_elements() const { return elements_.size(); }
  std::size_t num_edges() const { return edges_.size(); }

  // Append at the end.
  void add_element(Element element);
  void add_element(Shared<Element> element);
  void add_edge(Edge edge);
  // Room for this many more of each without reallocating.
  void reserve(std::size_t elements, std::size_t edges);

  // The first element in insertion order with this id, or null.
  const Element* find_element(const ElementId& id) const;

  // Defined with the validator (graph/validation.h).
  validation::ValidationReport validate() const;

  // The ids as dense indexes, as of the last addition.
  const GraphIndex& index() const { return index_; }

  // Validation's working memory, kept between runs so that validating a
  // large graph again does not fault fresh pages in each time. A run takes
  // it (another run at the same time makes its own) and puts it back.
  class Scratch {
   public:
    Scratch() = default;
    Scratch(const Scratch&) {}
    Scratch& operator=(const Scratch&) { return *this; }
    ~Scratch() { release(block_.exchange(nullptr)); }

    // A block of memory aligned to 64, holding what the last run left in it.
    struct Block {
      std::size_t size;  // usable bytes
      std::byte* data() { return reinterpret_cast<std::byte*>(this) + 64; }
    };
    Block* take(std::size_t bytes) const;
    void give(Block* block) const;
    static void release(Block* block);

   private:
    mutable std::atomic<Block*> block_{nullptr};
  };
  const Scratch& scratch() const { return scratch_; }

 private:
  SharedVector<Element> elements_;
  std::vector<Edge> edges_;
  GraphIndex index_;
  Scratch scratch_;
};

// Assembles a graph step by step; each step consumes the builder and
// returns it:  Graph g = GraphBuilder().add_element(a).connect(x, y).build();
class GraphBuilder {
 public:
  GraphBuilder add_element(Element element) &&;
  GraphBuilder add_edge(Edge edge) &&;
  GraphBuilder connect(PortId source, PortId target) &&;
  GraphBuilder connect_late(PortId source, PortId target) &&;
  // Fails only when the operating system's random source does.
  Result<GraphBuilder> connect_dynamic(std::string source_element, std::string pad_name,
                                       PortId target) &&;
  Graph build() &&;

 private:
  Graph graph_;
};

// A builder whose steps leave the receiver as it was: each step adds one
// immutable node on top of the receiver's chain and shares everything
// below it, so a builder can be the common prefix of many graphs and a step
// costs O(1) however long the chain. build() copies the items out in
// order; neither it nor releasing a chain recurses.
class SharedGraphBuilder {
 public:
  SharedGraphBuilder() = default;

  SharedGraphBuilder add_element(Element element) const;
  SharedGraphBuilder add_element(Shared<Element> element) const;
  SharedGraphBuilder add_edge(Edge edge) const;

  std::size_t num_elements() const { return elements_; }
  std::size_t num_edges() const { return edges_; }

  Graph build() const;

 private:
  // A node is an element or an edge, each allocated at its own size.
  struct Node {
    Node(std::shared_ptr<Node> b, bool e) : below(std::move(b)), is_edge(e) {}
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    ~Node();

    std::shared_ptr<Node> below;
    bool is_edge;
  };
  struct ElementNode : Node {
    ElementNode(std::shared_ptr<Node> b, Shared<Element> e)
        : Node(std::move(b), false), element(std::move(e)) {}
    Shared<Element> element;
  };
  struct EdgeNode : Node {
    EdgeNode(std::shared_ptr<Node> b, Edge e) : Node(std::move(b), true), edge(std::move(e)) {}
    Edge edge;
  };

  SharedGraphBuilder(std::shared_ptr<Node> top, std::size_t elements, std::size_t edges)
      : top_(std::move(top)), elements_(elements), edges_(edges) {}

  std::shared_ptr<Node> top_;  // the last item added, or null
  std::size_t elements_ = 0;
  std::size_t edges_ = 0;
};

}  // namespace kelo_core::graph
