// A small reply tree that renders as the service's XML or as its JSON form,
// so every action builds its data once and honours Format=XML|JSON.
//
// Value type; no shared state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::sim {

class Node {
 public:
  enum class Kind { kString, kNumber, kBool, kObject, kList };

  // An object element, e.g. the root "DescribeRegionsResponse".
  static Node Object(std::string name);
  // A list container, e.g. List("Regions", "Region"): XML repeats <Region>
  // inside <Regions>; JSON gives {"Regions":{"Region":[...]}}.
  static Node List(std::string name, std::string item_name);

  // Children of an object (or items of a list; an item's own name is ignored
  // for lists). Each returns *this for chaining.
  Node& Add(Node child);
  Node& Str(std::string name, std::string value);
  Node& Num(std::string name, std::int64_t value);
  Node& Bool(std::string name, bool value);
  // Appends a string item to a list (e.g. IpAddress entries).
  Node& Item(std::string value);
  // Appends an object item to a list and returns it.
  Node& NewItem();

  Kind kind() const { return kind_; }
  const std::string& name() const { return name_; }
  const std::vector<Node>& children() const { return children_; }

  // '<?xml version='1.0' encoding='UTF-8'?>' followed by this element, no
  // indentation.
  std::string ToXml() const;
  std::string ToJson() const;

 private:
  Node(Kind kind, std::string name, std::string text)
      : kind_(kind), name_(std::move(name)), text_(std::move(text)) {}
  void WriteXml(std::string& out) const;
  void WriteJsonValue(std::string& out) const;

  Kind kind_;
  std::string name_;
  std::string text_;  // scalar text, or the item name of a list
  std::vector<Node> children_;
};

// Escapes &, < and > (and quotes) for XML character data.
void AppendXmlEscaped(std::string& out, std::string_view text);
// Escapes a JSON string body (quotes, backslash, control bytes).
void AppendJsonEscaped(std::string& out, std::string_view text);

}  // namespace kestrune::sim
