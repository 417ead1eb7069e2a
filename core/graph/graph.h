// Pipeline graphs: elements and edges in insertion order, and the builders
// that assemble them.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "graph/edge.h"
#include "graph/element.h"
#include "graph/index.h"
#include "support/result.h"
#include "support/shared.h"

namespace kelo_core::graph {

namespace validation {
struct ValidationReport;
}

// Owns its elements and edges. Nothing is checked on insertion: duplicate
// ids, edges naming ports that no element has, edges of the wrong direction
// and cycles are findings of validation. The graph keeps its own flat copy
// of what it is given: element and port records in arrays of its own, names
// and contracts entered once each, so that an element costs a few dozen
// bytes and no allocation of its own. Reading an element or an edge back
// makes a value equal to the one added.
class Graph {
 public:
  std::size_t num_elements() const { return elements_.size(); }
  std::size_t num_edges() const { return edges_.size(); }
  // Copies, in insertion order.
  Element element(std::size_t i) const;
  Edge edge(std::size_t k) const;
  std::vector<Element> elements() const;
  std::vector<Edge> edges() const;
  const ElementId& element_id(std::size_t i) const { return elements_[i].id; }

  // Append at the end. All or nothing: when memory runs out, the graph
  // reads as before.
  void add_element(const Element& element);
  void add_element(const Shared<Element>& element) { add_element(*element); }
  void add_edge(const Edge& edge);
  // Room for this many more elements, edges and ports without growing.
  void reserve(std::size_t elements, std::size_t edges, std::size_t ports = 0);

  // The first element in insertion order with this id.
  std::optional<Element> find_element(const ElementId& id) const;

  // Defined with the validator (graph/validation.h).
  validation::ValidationReport validate() const;

  // The ids as dense indexes, as of the last addition. Element ids name
  // nodes (the first element with an id is the node of every element with
  // it); port ids name records (a repeated port id keeps one record,
  // describing the last port added under it, inputs before outputs); the
  // duplicates are kept in the order validation reports them.
  const Chunked<PortRecord>& records() const { return records_; }
  // The contract of the port behind a record.
  const DataContract& record_contract(std::uint32_t r) const {
    return contracts_[ports_[record_port_[r]].contract];
  }
  const std::vector<DuplicateFinding>& duplicates() const { return duplicates_; }
  // Edge ends are kept resolved: an end is kNone exactly when no port has
  // its id.
  const Chunked<EdgeEnds>& ends() const { return ends_; }
  // The dynamic-output edges' element names, in edge order. Names are
  // interned only once some dynamic-output edge has been added (then every
  // element's name, and every later one's, is entered).
  const std::vector<DynamicName>& dynamic_names() const { return dynamic_; }
  const std::vector<NameRecord>& names() const { return names_; }
  // Of edge k, without copying it.
  const PortId& edge_source(std::size_t k) const { return edges_[k].source; }
  const PortId& edge_target(std::size_t k) const { return edges_[k].target; }
  bool edge_late_binding(std::size_t k) const {
    const std::uint32_t kind = edges_[k].kind;
    if (kind == EdgeRecord::kPlain || kind == EdgeRecord::kLate) return kind == EdgeRecord::kLate;
    return named_edges_[kind].late_binding();
  }
  std::optional<std::string_view> edge_source_element(std::size_t k) const {
    const std::uint32_t kind = edges_[k].kind;
    if (kind == EdgeRecord::kPlain || kind == EdgeRecord::kLate) return std::nullopt;
    return named_edges_[kind].source_element();
  }

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
  struct ElementRecord {
    ElementId id;
    std::uint32_t type;        // into texts_
    std::uint32_t name;        // into text_
    std::uint32_t name_size;
    std::uint32_t ports;       // its first, into ports_
    std::uint32_t inputs;      // how many, then the outputs
    std::uint32_t outputs;
    std::uint32_t config;      // into configs_, kNone when empty
    ElementKind kind;
    bool indexed;  // the first with its id, the one element_ids_ holds
  };
  struct PortEntry {
    PortId id;
    std::uint32_t name;      // into texts_
    std::uint32_t contract;  // into contracts_
    PortDirection direction;
  };
  // A plain edge, a late-binding one or (whole, in named_edges_) one that
  // carries names.
  struct EdgeRecord {
    static constexpr std::uint32_t kPlain = IdTable::kNone, kLate = IdTable::kNone - 1;
    PortId source;
    PortId target;
    std::uint32_t kind;  // kPlain, kLate or an index into named_edges_
  };

  std::uint32_t enter_contract(const DataContract& c, std::uint32_t hint);
  std::uint32_t find_contract(const DataContract& c) const;
  Port port(std::size_t i) const;
  std::uint32_t find_name(std::uint32_t fp, std::string_view text) const;
  std::string_view name_text(std::uint32_t i) const {
    return std::string_view(text_).substr(names_[i].text, names_[i].size);
  }
  // Keeps text in text_; returns where. After room was made.
  std::uint32_t keep_text(std::string_view text) noexcept;
  void make_text_room(std::size_t n);
  // Enters a name after room was made; returns its record.
  std::uint32_t enter_name(std::uint32_t text, std::uint32_t size, bool element) noexcept;
  void reserve_names(std::size_t n);

  Chunked<ElementRecord> elements_;
  Chunked<PortEntry> ports_;  // every element's inputs then outputs, element after element
  Chunked<EdgeRecord> edges_;
  std::string text_;          // element names and dynamic-output names, back to back
  TextPool texts_;            // type ids and port names
  std::vector<DataContract> contracts_;
  std::uint32_t plain_contracts_[6] = {IdTable::kNone, IdTable::kNone, IdTable::kNone,
                                       IdTable::kNone, IdTable::kNone, IdTable::kNone};
  std::unordered_map<const void*, std::uint32_t> shared_contracts_;  // by their shared payload
  std::vector<Config> configs_;
  std::vector<Edge> named_edges_;
  // What the last element added used, tried first: a graph repeats a few
  // types, port names and contracts over and over.
  static constexpr std::size_t kHints = 4;  // ports, the last one standing for any later
  std::uint32_t type_hint_ = IdTable::kNone;
  std::uint32_t name_hints_[kHints] = {IdTable::kNone, IdTable::kNone, IdTable::kNone,
                                       IdTable::kNone};
  std::uint32_t contract_hints_[kHints] = {IdTable::kNone, IdTable::kNone, IdTable::kNone,
                                           IdTable::kNone};

  IdTable element_ids_;
  IdTable port_ids_;
  Chunked<PortRecord> records_;
  Chunked<std::uint32_t> record_port_;  // into ports_
  std::vector<DuplicateFinding> duplicates_;
  Chunked<EdgeEnds> ends_;
  // Edge ends whose port was not there when the edge was added, by port id:
  // a port added later resolves them.
  struct Pending {
    Uuid id;
    std::uint32_t edge;
    std::uint32_t next_plus_one;  // another end waiting for the same id
    bool target;
    bool resolved;
    bool head;  // the first waiting for its id, the one pending_ids_ holds
  };
  IdTable pending_ids_;
  std::vector<Pending> pending_;
  IdTable name_ids_;
  std::vector<NameRecord> names_;
  std::vector<DynamicName> dynamic_;
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

  SharedGraphBuilder(std::shared_ptr<Node> top, std::size_t elements, std::size_t edges,
                     std::size_t ports)
      : top_(std::move(top)), elements_(elements), edges_(edges), ports_(ports) {}

  std::shared_ptr<Node> top_;  // the last item added, or null
  std::size_t elements_ = 0;
  std::size_t edges_ = 0;
  std::size_t ports_ = 0;  // of all the elements, so that build() can make room at once
};

}  // namespace kelo_core::graph
