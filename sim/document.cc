#include "sim/document.h"

#include <cstdio>
#include <utility>

namespace kestrune::sim {

Node Node::Object(std::string name) { return Node(Kind::kObject, std::move(name), {}); }

Node Node::List(std::string name, std::string item_name) {
  return Node(Kind::kList, std::move(name), std::move(item_name));
}

Node& Node::Add(Node child) {
  children_.push_back(std::move(child));
  return *this;
}

Node& Node::Str(std::string name, std::string value) {
  return Add(Node(Kind::kString, std::move(name), std::move(value)));
}

Node& Node::Num(std::string name, std::int64_t value) {
  return Add(Node(Kind::kNumber, std::move(name), std::to_string(value)));
}

Node& Node::Bool(std::string name, bool value) {
  return Add(Node(Kind::kBool, std::move(name), value ? "true" : "false"));
}

Node& Node::Item(std::string value) { return Add(Node(Kind::kString, text_, std::move(value))); }

Node& Node::NewItem() {
  children_.push_back(Node(Kind::kObject, text_, {}));
  return children_.back();
}

void AppendXmlEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out.push_back(c);
    }
  }
}

void AppendJsonEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (u < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out.push_back(c);
    }
  }
}

void Node::WriteXml(std::string& out) const {
  out.push_back('<');
  out += name_;
  out.push_back('>');
  switch (kind_) {
    case Kind::kString:
    case Kind::kNumber:
    case Kind::kBool:
      AppendXmlEscaped(out, text_);
      break;
    case Kind::kObject:
      for (const Node& child : children_) child.WriteXml(out);
      break;
    case Kind::kList:
      for (const Node& item : children_) {
        if (item.kind_ == Kind::kObject) {
          out.push_back('<');
          out += text_;
          out.push_back('>');
          for (const Node& child : item.children_) child.WriteXml(out);
          out += "</";
          out += text_;
          out.push_back('>');
        } else {
          out.push_back('<');
          out += text_;
          out.push_back('>');
          AppendXmlEscaped(out, item.text_);
          out += "</";
          out += text_;
          out.push_back('>');
        }
      }
      break;
  }
  out += "</";
  out += name_;
  out.push_back('>');
}

std::string Node::ToXml() const {
  std::string out = "<?xml version='1.0' encoding='UTF-8'?>";
  WriteXml(out);
  return out;
}

void Node::WriteJsonValue(std::string& out) const {
  switch (kind_) {
    case Kind::kString:
      out.push_back('"');
      AppendJsonEscaped(out, text_);
      out.push_back('"');
      break;
    case Kind::kNumber:
    case Kind::kBool:
      out += text_;
      break;
    case Kind::kObject: {
      out.push_back('{');
      bool first = true;
      for (const Node& child : children_) {
        if (!first) out.push_back(',');
        first = false;
        out.push_back('"');
        AppendJsonEscaped(out, child.name_);
        out += "\":";
        child.WriteJsonValue(out);
      }
      out.push_back('}');
      break;
    }
    case Kind::kList: {
      out += "{\"";
      AppendJsonEscaped(out, text_);
      out += "\":[";
      bool first = true;
      for (const Node& item : children_) {
        if (!first) out.push_back(',');
        first = false;
        item.WriteJsonValue(out);
      }
      out += "]}";
      break;
    }
  }
}

std::string Node::ToJson() const {
  // The JSON form drops the root element: its members are the top-level keys.
  std::string out;
  WriteJsonValue(out);
  return out;
}

}  // namespace kestrune::sim
