// The XML form of replies: the page join works on the text itself, so the
// first page stays byte for byte what the service sent, with the later
// pages' records inserted in its list.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "core/find_substring.h"
#include "engine/reply_forms.h"
#include "report/extractor.h"

namespace kestrune::engine {
namespace {

std::string ElementValue(std::string_view body, std::string_view name) {
  std::string value;
  report::CopyElementValue(body, name, value);
  return value;
}

// The records of one page: the text inside its list element, and how many
// records (children of the list element) that text holds.
struct PageRecords {
  std::size_t start = 0;  // offset in the body of the list's inner text
  std::size_t length = 0;
  std::size_t count = 0;
};

std::optional<PageRecords> FindRecords(std::string_view body, std::string_view list_element) {
  const std::optional<std::string_view> found = report::FindElementValue(body, list_element);
  if (!found) return std::nullopt;
  const std::string_view inner = *found;
  PageRecords records;
  records.length = inner.size();
  records.start = static_cast<std::size_t>(inner.data() - body.data());
  // The first child names the records; counting its opening tags counts them.
  const std::size_t open = inner.find('<');
  if (open != std::string_view::npos) {
    const std::size_t close = inner.find_first_of("> /", open + 1);
    if (close != std::string_view::npos && close > open + 1) {
      // Built by appending: MinGW's GCC 12 takes "<" + string for an
      // overlapping copy here (-Wrestrict).
      std::string tag(1, '<');
      tag.append(inner.substr(open + 1, close - open - 1)).push_back('>');
      for (std::size_t at = core::FindSubstring(inner, tag); at != std::string_view::npos;
           at = core::FindSubstring(inner, tag, at + tag.size())) {
        ++records.count;
      }
    }
  }
  return records;
}

PageFacts FactsOf(std::string_view body, const std::optional<PageRecords>& found) {
  PageFacts facts;
  facts.records = found ? found->count : 0;
  facts.next_token = ElementValue(body, "NextToken");
  facts.total_count = ElementValue(body, "TotalCount");
  facts.page_size = ElementValue(body, "PageSize");
  return facts;
}

class XmlPageJoin final : public PageJoin {
 public:
  explicit XmlPageJoin(std::string_view list_element) : list_element_(list_element) {}

  PageFacts Add(std::string body, std::size_t limit) override {
    const std::optional<PageRecords> found = FindRecords(body, list_element_);
    PageFacts facts = FactsOf(body, found);
    if (first_) {
      first_ = false;
      joined_ = std::move(body);
      insert_at_ = found ? found->start + found->length : joined_.size();
    } else if (found && found->count > 0) {
      if (found->length > limit || joined_.size() > limit - found->length) {
        facts.over_limit = true;
        return facts;
      }
      joined_.insert(insert_at_, body, found->start, found->length);
      insert_at_ += found->length;
    }
    return facts;
  }

  std::string Finish(std::string_view) override { return std::move(joined_); }

 private:
  std::string list_element_;
  bool first_ = true;
  std::string joined_;
  std::size_t insert_at_ = 0;  // where the next page's records go
};

constexpr std::string_view kBlanks = " \t\r\n";

}  // namespace

std::optional<std::string> UnclosedXmlRoot(std::string_view body) {
  std::size_t pos = body.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  // The declaration, comments and a document type come before the root.
  for (bool prolog = false;; prolog = true) {
    pos = body.find_first_not_of(kBlanks, pos);
    // After a declaration the root must follow; no name to give for it.
    if (pos == std::string_view::npos)
      return prolog ? std::optional<std::string>("") : std::nullopt;
    if (body[pos] != '<') return std::nullopt;
    const std::string_view rest = body.substr(pos);
    if (!rest.starts_with("<?") && !rest.starts_with("<!")) break;
    const std::size_t end = rest.starts_with("<!--") ? body.find("-->", pos) : body.find('>', pos);
    if (end == std::string_view::npos) return std::string();
    pos = end + 1;
  }
  const std::size_t name_end = body.find_first_of(" \t\r\n/>", pos + 1);
  const std::string name(body.substr(pos + 1, name_end - std::min(name_end, pos + 1)));
  if (name_end == std::string_view::npos) return name;  // cut inside its start tag
  if (name.empty()) return std::nullopt;
  const std::size_t tag_end = body.find('>', name_end);
  if (tag_end == std::string_view::npos) return name;
  if (body[tag_end - 1] == '/') return std::nullopt;  // <Root/>: nothing inside
  // The last tag must be the root's closing tag ("</Root>", "</Root >").
  const std::string_view whole = body.substr(0, body.find_last_not_of(kBlanks) + 1);
  const std::size_t last = whole.rfind("</");
  if (last != std::string_view::npos && last > tag_end && whole.ends_with('>') &&
      whole.substr(last + 2).starts_with(name)) {
    const std::string_view after = whole.substr(last + 2 + name.size());
    if (after.find_first_not_of(kBlanks) == after.size() - 1) return std::nullopt;
  }
  return name;
}

PageFacts ReadXmlPageFacts(std::string_view body, std::string_view list_element) {
  return FactsOf(body, FindRecords(body, list_element));
}

namespace {

// A value outside the list this long is the first page's alone: later pages
// are shown in the frame only for their records, so the frame keeps its
// element with the text left out.
constexpr std::size_t kLongFrameValue = 1024;

// `text` with every run of character data of kLongFrameValue bytes or more
// left out (only plain runs: no markup, no CDATA end inside).
std::string WithoutLongValues(std::string_view text) {
  std::string kept;
  std::size_t from = 0;
  for (std::size_t open = text.find('>'); open != std::string_view::npos;
       open = text.find('>', open + 1)) {
    const std::size_t close = text.find_first_of("<>]", open + 1);
    const std::size_t end = close == std::string_view::npos ? text.size() : close;
    if (end - open - 1 >= kLongFrameValue &&
        (close == std::string_view::npos || text[close] == '<')) {
      kept.append(text, from, open + 1 - from);
      from = end;
    }
  }
  kept.append(text, from);
  return kept;
}

}  // namespace

bool XmlPageFrame::SetFirst(std::string_view body) {
  const std::optional<PageRecords> found = FindRecords(body, list_element_);
  if (!found) return false;
  frame_ = WithoutLongValues(body.substr(0, found->start));
  insert_at_ = frame_.size();
  frame_ += WithoutLongValues(body.substr(found->start + found->length));
  return true;
}

std::string XmlPageFrame::Emptied(std::string_view body) const {
  const std::optional<PageRecords> found = FindRecords(body, list_element_);
  if (!found) return std::string(body);
  std::string emptied;
  emptied.reserve(body.size() - found->length);
  emptied.append(body.substr(0, found->start));
  emptied.append(body.substr(found->start + found->length));
  return emptied;
}

std::string XmlPageFrame::Framed(std::string body) const {
  const std::optional<PageRecords> found = FindRecords(body, list_element_);
  if (!found) return frame_;
  // In the page's own buffer: its tail, then its head, give way to the
  // frame's.
  body.replace(found->start + found->length, std::string::npos, frame_, insert_at_);
  body.replace(0, found->start, frame_, 0, insert_at_);
  return body;
}

std::unique_ptr<PageJoin> MakeXmlPageJoin(std::string_view list_element) {
  return std::make_unique<XmlPageJoin>(list_element);
}

}  // namespace kestrune::engine
