#include "report/extractor.h"

#include <algorithm>

#include "core/find_substring.h"
#include "report/xml_text.h"

namespace kestrune::report {
namespace {

// Finds `pattern` at or behind `from`, in a text that ends at its first NUL
// (as the reply buffers always have); the bytes before `from` are known to
// hold none. Only the bytes up to the match are looked at for a NUL, so a
// search costs what the distance to its match costs.
std::size_t FindBeforeNul(std::string_view text, std::string_view pattern, std::size_t from) {
  const std::size_t found = core::FindSubstring(text, pattern, from);
  if (found == std::string_view::npos) return found;
  if (text.substr(from, found + pattern.size() - from).find('\0') != std::string_view::npos) {
    return std::string_view::npos;
  }
  return found;
}

}  // namespace

std::optional<std::string_view> FindElementValue(std::string_view source, std::string_view name) {
  if (name.empty() || name.size() > kMaxElementName) return std::nullopt;
  std::string opening_tag;
  opening_tag.append("<").append(name).append(">");
  std::string closing_tag;
  closing_tag.append("</").append(name).append(">");

  // The whole text is searched: a value far into a long reply (user data,
  // a late record) is as much the reply's as one at its start. Offsets are
  // 32-bit, so a text beyond that is searched no further than they reach.
  source = source.substr(0, kElementAbsent);
  const std::size_t opening = FindBeforeNul(source, opening_tag, 0);
  if (opening == std::string_view::npos) return std::nullopt;
  const std::size_t value_start = opening + opening_tag.size();

  // A NUL inside the value ends the text before any closing tag, so such a
  // value counts as unclosed.
  const std::size_t closing = FindBeforeNul(source, closing_tag, value_start);
  if (closing == std::string_view::npos) return std::nullopt;
  return source.substr(value_start, closing - value_start);
}

std::uint32_t CopyElementValue(std::string_view source, std::string_view name,
                               std::string& destination) {
  const std::optional<std::string_view> value = FindElementValue(source, name);
  if (!value) return kElementAbsent;
  destination.assign(*value);
  return static_cast<std::uint32_t>(value->data() + value->size() - source.data());
}

ElementSearch::ElementSearch(std::string_view text) : text_(text.substr(0, kElementAbsent)) {
  // The text ends at its first NUL: nothing behind it is ever found.
  text_ = text_.substr(0, text_.find('\0'));
}

std::size_t ElementSearch::Locate(Probe& probe, std::size_t from) const {
  // The last answer still holds when this start lies between that search's
  // start and what it found (or anywhere behind its start when it found none).
  const bool known = probe.from != std::string_view::npos && from >= probe.from &&
                     (probe.at == std::string_view::npos || from <= probe.at);
  if (!known) {
    probe.from = from;
    probe.at = core::FindSubstring(text_, probe.tag, from);
  }
  return probe.at;
}

std::optional<std::string_view> ElementSearch::Find(std::string_view name, std::size_t from) {
  if (name.empty() || name.size() > kMaxElementName || from > text_.size()) return std::nullopt;
  auto memo =
      std::find_if(memos_.begin(), memos_.end(), [&](const Memo& m) { return m.name == name; });
  if (memo == memos_.end()) {
    Memo added;
    added.name = name;
    added.opening.tag.append("<").append(name).append(">");
    added.closing.tag.append("</").append(name).append(">");
    memos_.push_back(std::move(added));
    memo = memos_.end() - 1;
  }
  const std::size_t opening = Locate(memo->opening, from);
  if (opening == std::string_view::npos) return std::nullopt;
  const std::size_t value_start = opening + memo->opening.tag.size();
  const std::size_t closing = Locate(memo->closing, value_start);
  if (closing == std::string_view::npos) return std::nullopt;
  return text_.substr(value_start, closing - value_start);
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

std::uint32_t Extractor::ShowElement(std::string_view label, ElementSearch& search,
                                     std::string_view name, std::size_t from) {
  const std::optional<std::string_view> value = search.Find(name, from);
  if (!value) {
    value_.clear();
    return kElementAbsent;
  }
  value_.assign(*value);
  ShowValue(label, value_);
  return static_cast<std::uint32_t>(search.EndOf(*value) - from);
}

bool Extractor::ShowValue(std::string_view label, std::string_view raw_value) {
  // The value is decoded straight into its trace line, which then becomes
  // the row's text: a long value is held once beside the reply.
  constexpr std::string_view kPrefix = "OneXmlBuf = ";
  constexpr std::string_view kSuffix = " (headreq, 739)";
  std::string line;
  line.reserve(kPrefix.size() + raw_value.size() + kSuffix.size());
  line += kPrefix;
  AppendDecodedXmlText(line, raw_value);
  if (display_.encoding() != DisplayEncoding::kUtf8) {
    const std::string shown = display_.Convert(std::string_view(line).substr(kPrefix.size()));
    line.resize(kPrefix.size());
    line += shown;
  }
  const std::size_t shown_size = line.size() - kPrefix.size();
  if (shown_size == 0) return false;
  std::string title;
  title.reserve(32 + label.size());
  title.append("strtitle = ").append(label).append(" (headreq, 738)");
  trace_.Line(title);
  line += kSuffix;
  trace_.Line(line);
  line.resize(kPrefix.size() + shown_size);
  line.erase(0, kPrefix.size());
  list_.InsertTopOwned(label, std::move(line));
  return true;
}

void Extractor::AddRecordBreak() { list_.InsertRecordBreak(); }

std::size_t ShowAllLeaves(std::string_view reply, Extractor& extractor) {
  std::size_t shown = 0;
  ForEachLeaf(reply, [&](const XmlLeaf& leaf) {
    if (extractor.ShowValue(leaf.name, leaf.raw_value)) ++shown;
  });
  return shown;
}

}  // namespace kestrune::report
