#include "report/extractor.h"

#include <algorithm>

#include "report/xml_text.h"

namespace kestrune::report {
namespace {

// FindText over `text` reads no further than its window can match: candidates
// start in the first 8191 bytes, so a match ends before 8191 + pattern size.
// Cutting the text there keeps the result and spares measuring a long reply
// on every search of a record walk.
std::uint32_t FindInWindow(std::string_view text, std::string_view pattern) {
  return core::FindText(text.substr(0, core::kLongTextCap + pattern.size()), pattern);
}

}  // namespace

std::uint32_t CopyElementValue(std::string_view source, std::string_view name,
                               std::string& destination) {
  if (name.empty() || name.size() > kMaxElementName) return kElementAbsent;
  std::string opening_tag;
  opening_tag.append("<").append(name).append(">");
  std::string closing_tag;
  closing_tag.append("</").append(name).append(">");

  std::uint32_t opening = FindInWindow(source, opening_tag);
  if (opening == core::kNotFound) return kElementAbsent;
  // `opening` is 1-based, so this is the 0-based offset just behind its '>'.
  std::size_t value_start = opening + name.size() + 1;

  // A NUL inside the value ends the text before any closing tag, so such a
  // value counts as unclosed.
  std::uint32_t closing = FindInWindow(source.substr(value_start), closing_tag);
  if (closing == core::kNotFound) return kElementAbsent;
  std::size_t value_length = closing - 1;

  destination.assign(source.substr(value_start, value_length));
  return static_cast<std::uint32_t>(value_start + value_length);
}

std::uint32_t Extractor::SeekElement(std::string_view source, std::string_view name) {
  value_.clear();
  return CopyElementValue(source, name, value_);
}

std::uint32_t Extractor::ShowElement(std::string_view label, std::string_view source,
                                     std::string_view name) {
  std::uint32_t end = SeekElement(source, name);
  if (end != kElementAbsent) ShowValue(label, value_);
  return end;
}

bool Extractor::ShowValue(std::string_view label, std::string_view raw_value) {
  std::string shown = display_.Convert(DecodeXmlText(raw_value));
  if (shown.empty()) return false;
  std::string line;
  line.reserve(32 + std::max(label.size(), shown.size()));
  line.append("strtitle = ").append(label).append(" (headreq, 738)");
  trace_.Line(line);
  line.assign("OneXmlBuf = ").append(shown).append(" (headreq, 739)");
  trace_.Line(line);
  list_.InsertTop(label, shown);
  return true;
}

void Extractor::AddSeparatorRow() { list_.InsertTop(kSeparator, kSeparator); }

std::size_t ShowAllLeaves(std::string_view reply, Extractor& extractor) {
  std::size_t shown = 0;
  ForEachLeaf(reply, [&](const XmlLeaf& leaf) {
    if (extractor.ShowValue(leaf.name, leaf.raw_value)) ++shown;
  });
  return shown;
}

}  // namespace kestrune::report
