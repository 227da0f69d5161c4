#include "report/all_fields.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "report/xml_text.h"

namespace kestrune::report {
namespace {

constexpr std::size_t kNoNode = static_cast<std::size_t>(-1);
constexpr std::string_view kCut = "\xE2\x80\xA6";  // U+2026, where names were left out

// One element of the reply. Node 0 stands above the root element, so that a
// reply of several top-level elements still makes one tree.
struct Node {
  std::string_view name;
  std::string_view value;  // a leaf's raw text
  bool leaf = false;
  std::size_t depth = 0;  // the root element's is 1
  std::size_t first_child = kNoNode;
  std::size_t last_child = kNoNode;
  std::size_t next = kNoNode;
};

class Tree {
 public:
  // The elements of `reply`, from its leaves: each leaf names the elements it
  // is in by views into the reply, so the same view is the same element.
  explicit Tree(std::string_view reply) {
    nodes_.emplace_back();
    std::vector<std::size_t> open{0};
    ForEachLeaf(reply, [&](const XmlLeaf& leaf) {
      // An element still open has the same ancestors as before, so the
      // elements kept are found from the deepest down: each one passed over
      // has closed, and is passed over once, however deep the reply nests.
      std::size_t kept = std::min(leaf.parents.size(), open.size() - 1);
      while (kept > 0 && !SameView(nodes_[open[kept]].name, leaf.parents[kept - 1])) --kept;
      open.resize(kept + 1);
      for (std::size_t k = kept; k < leaf.parents.size(); ++k) {
        open.push_back(Add(open.back(), leaf.parents[k], {}, false));
      }
      Add(open.back(), leaf.name, leaf.raw_value, true);
    });
  }

  const Node& operator[](std::size_t index) const { return nodes_[index]; }

  // Whether the node's children are all elements of one name that hold
  // elements; the root element and what stands above it never are.
  bool IsList(std::size_t index) const {
    const Node& node = nodes_[index];
    if (node.depth < 2 || node.first_child == kNoNode) return false;
    const std::string_view item = nodes_[node.first_child].name;
    for (std::size_t child = node.first_child; child != kNoNode; child = nodes_[child].next) {
      if (nodes_[child].leaf || nodes_[child].name != item) return false;
    }
    return true;
  }

 private:
  static bool SameView(std::string_view a, std::string_view b) {
    return a.data() == b.data() && a.size() == b.size();
  }

  std::size_t Add(std::size_t parent, std::string_view name, std::string_view value, bool leaf) {
    Node node;
    node.name = name;
    node.value = value;
    node.leaf = leaf;
    node.depth = nodes_[parent].depth + 1;
    const std::size_t index = nodes_.size();
    nodes_.push_back(node);
    Node& above = nodes_[parent];
    if (above.last_child == kNoNode) {
      above.first_child = index;
    } else {
      nodes_[above.last_child].next = index;
    }
    above.last_child = index;
    return index;
  }

  std::vector<Node> nodes_;
};

// The names of `path` from `base` on, then `leaf`, joined by dots; past
// kMaxFieldPath bytes only the last names that fit, after kCut. Costs what the
// names kept cost, however deep the path.
std::string PathLabel(const std::vector<std::string_view>& path, std::size_t base,
                      std::string_view leaf) {
  if (leaf.size() > kMaxFieldPath) {
    std::size_t start = leaf.size() - kMaxFieldPath;
    // A name is cut between characters, never inside one.
    while (start < leaf.size() && (static_cast<unsigned char>(leaf[start]) & 0xC0) == 0x80) {
      ++start;
    }
    return std::string(kCut) + std::string(leaf.substr(start));
  }
  std::size_t first = path.size();
  std::size_t size = leaf.size();
  while (first > base && size + 1 + path[first - 1].size() <= kMaxFieldPath) {
    size += 1 + path[first - 1].size();
    --first;
  }
  std::string label;
  label.reserve(size + kCut.size());
  if (first > base) label += kCut;
  for (std::size_t k = first; k < path.size(); ++k) label.append(path[k]).append(".");
  label += leaf;
  return label;
}

struct Field {
  std::string label;
  std::string_view raw;
  std::size_t record = 0;  // 0: outside every record; else the record's number
};

// The tree's leaves in document order, each named by its path below its
// record or below the root element. Walked without recursion: a reply may
// nest far deeper than a stack.
std::vector<Field> CollectFields(const Tree& tree) {
  std::vector<Field> fields;
  std::size_t records = 0;
  std::vector<std::string_view> path;  // names below the root element down to here
  struct Frame {
    std::size_t node;
    std::size_t base;    // where the names of the label start in `path`
    std::size_t record;  // the record this node is in (0: none)
    bool items_are_records;
  };
  std::vector<Frame> stack;
  // The children of `parent`, last first, so that they come off the stack in
  // document order.
  auto push_children = [&](std::size_t parent, std::size_t base, std::size_t record,
                           bool items_are_records) {
    std::vector<std::size_t> children;
    for (std::size_t c = tree[parent].first_child; c != kNoNode; c = tree[c].next) {
      children.push_back(c);
    }
    for (auto c = children.rbegin(); c != children.rend(); ++c) {
      stack.push_back(Frame{*c, base, record, items_are_records});
    }
  };
  push_children(0, 0, 0, false);
  // A frame of kNoNode marks where a node's names end in `path`.
  while (!stack.empty()) {
    const Frame frame = stack.back();
    stack.pop_back();
    if (frame.node == kNoNode) {
      path.pop_back();
      continue;
    }
    const Node& node = tree[frame.node];
    std::size_t base = frame.base;
    std::size_t record = frame.record;
    if (frame.items_are_records) {
      record = ++records;
      base = path.size() + (node.depth >= 2 ? 1 : 0);
    }
    if (node.leaf) {
      // A root element that is a leaf is named by its own name.
      fields.push_back(Field{PathLabel(path, base, node.name), node.value, record});
      continue;
    }
    if (node.depth >= 2) {
      path.push_back(node.name);
      stack.push_back(Frame{kNoNode, 0, 0, false});
    }
    std::size_t list = frame.node;
    const bool starts_records = record == 0 && tree.IsList(list);
    if (starts_records) {
      // A list whose one item is a list stands for that inner list.
      while (tree[list].first_child == tree[list].last_child &&
             tree.IsList(tree[list].first_child)) {
        list = tree[list].first_child;
        path.push_back(tree[list].name);
        stack.push_back(Frame{kNoNode, 0, 0, false});
      }
    }
    push_children(list, base, record, starts_records);
  }
  return fields;
}

}  // namespace

std::size_t ShowAllFields(std::string_view reply, Extractor& extractor) {
  const std::vector<Field> fields = CollectFields(Tree(reply));
  std::size_t shown = 0;
  // RequestId stands alone first, as every formatter shows it.
  const Field* request_id = nullptr;
  for (const Field& field : fields) {
    if (field.record == 0 && field.label == "RequestId" && !field.raw.empty()) {
      request_id = &field;
      break;
    }
  }
  bool separate = false;  // a row stands before the next group, which needs a separator
  if (request_id != nullptr && extractor.ShowValue(request_id->label, request_id->raw)) {
    ++shown;
    separate = true;
  }
  std::size_t group = kNoNode;  // the group of the last row shown
  auto show = [&](const Field& field, std::size_t field_group) {
    if (field.raw.empty()) return;
    if (field_group != group && separate) extractor.AddRecordBreak();
    if (extractor.ShowValue(field.label, field.raw)) {
      ++shown;
      separate = true;
      group = field_group;
    }
  };
  for (const Field& field : fields) {
    if (field.record == 0 && &field != request_id) show(field, 0);
  }
  for (const Field& field : fields) {
    if (field.record != 0) show(field, field.record);
  }
  return shown;
}

}  // namespace kestrune::report
