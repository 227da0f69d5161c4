// Finding elements of an XML reply by plain text search, and showing their
// values as rows of the result list.
//
// The reply is never parsed. An element is found by its opening tag
// "<Name>" and the first closing tag "</Name>" behind it; the value is the raw
// text between them. The whole text handed in is searched, however long (the
// exchange bounds a reply's size). Offsets returned
// are relative to the text handed in, so a caller walking repeated records
// adds them to its own cursor (see formatters.h).
//
// Shown values are decoded (predefined entities and character references)
// and converted to the display encoding; the search itself always runs over
// the raw text. Values are shown whole.
//
// An Extractor is used by one request at a time; not thread-safe.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/display_text.h"
#include "report/result_list.h"
#include "report/trace_sink.h"

namespace kestrune::report {

// Returned by every extraction that finds nothing; no end offset of a reply
// within the exchange's size limit comes near it.
inline constexpr std::uint32_t kElementAbsent = std::numeric_limits<std::uint32_t>::max();
// Longest element name the extraction accepts.
inline constexpr std::size_t kMaxElementName = 96;

// Copies into `destination` the raw value of the first element `name` of
// `source` (which ends at its first NUL, if any). Returns the end offset: the
// offset, from the start of `source`, of the "<" of the closing tag.
// Returns kElementAbsent, leaving `destination` untouched, when `source` has
// no opening tag, when no closing tag follows it, or when `name` is empty or
// longer than kMaxElementName.
std::uint32_t CopyElementValue(std::string_view source, std::string_view name,
                               std::string& destination);
// The same value as a view into `source`, without a copy; nullopt where
// CopyElementValue finds nothing.
std::optional<std::string_view> FindElementValue(std::string_view source, std::string_view name);

// Finds elements of one text from a start that moves forward, as a record
// walk does: each answer equals FindElementValue over the text from that start,
// but what a name's last search saw is remembered, so a name missing from the
// rest of the text, or found far ahead, is not searched for again at every
// step. The text is read once per name however many steps ask for it.
// The text must outlive the search.
class ElementSearch {
 public:
  explicit ElementSearch(std::string_view text);

  // The value of the first element `name` of the text from offset `from`, as
  // a view into the text; nullopt where FindElementValue finds nothing.
  std::optional<std::string_view> Find(std::string_view name, std::size_t from);

  // Offset of the closing tag behind `value`, a value Find returned.
  std::size_t EndOf(std::string_view value) const {
    return static_cast<std::size_t>(value.data() + value.size() - text_.data());
  }

 private:
  // One tag's last search: started at `from`, found at `at` (npos: absent).
  struct Probe {
    std::string tag;
    std::size_t from = std::string_view::npos;
    std::size_t at = std::string_view::npos;
  };
  struct Memo {
    std::string name;
    Probe opening;
    Probe closing;
  };
  std::size_t Locate(Probe& probe, std::size_t from) const;

  std::string_view text_;
  std::vector<Memo> memos_;
};

class Extractor {
 public:
  // All three must outlive the extractor.
  Extractor(ResultList& list, TraceSink& trace, const DisplayText& display)
      : list_(list), trace_(trace), display_(display) {}

  // Extracts the element into value() (empty when absent) and shows nothing.
  // Returns the end offset or kElementAbsent.
  std::uint32_t SeekElement(std::string_view source, std::string_view name);

  // Extracts the element into value() and shows it: when its decoded,
  // converted text is not empty, traces
  //   "strtitle = <label> (headreq, 738)" and
  //   "OneXmlBuf = <shown value> (headreq, 739)"
  // and inserts the row (label, shown value) at the top of the list. Returns
  // the end offset, also when the value is empty, or kElementAbsent (no row,
  // no trace).
  std::uint32_t ShowElement(std::string_view label, std::string_view source, std::string_view name);
  // The same for a value found by `search` from `from`; the end offset is
  // relative to `from`.
  std::uint32_t ShowElement(std::string_view label, ElementSearch& search, std::string_view name,
                            std::size_t from);

  // Shows a raw value found by other means exactly as ShowElement shows an
  // extracted one. Returns true when a row was inserted.
  bool ShowValue(std::string_view label, std::string_view raw_value);

  // Inserts a record break (on screen, the row of stars).
  void AddRecordBreak();

  // The raw value of the last extraction (empty after one that found nothing).
  const std::string& value() const { return value_; }

  ResultList& list() { return list_; }

 private:
  ResultList& list_;
  TraceSink& trace_;
  const DisplayText& display_;
  std::string value_;
};

// Shows every leaf element of `reply` that has a value, in document order,
// labelled with its element name, for replies that no formatter knows.
// Unlike the element search this scans the whole reply. Returns the number of
// rows inserted.
std::size_t ShowAllLeaves(std::string_view reply, Extractor& extractor);

}  // namespace kestrune::report
