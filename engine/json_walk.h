// A walk over the pages of a JSON list written out as one document without
// keeping the pages: the first page's fields are kept (its record list
// emptied), each page's records are written, indented as the document will
// show them, to a scratch file (core/spool.h) as the page comes, and the page
// is let go. The document is put together only when the walk has ended,
// because fields before the list (PageSize, NextToken) take values only the
// end of the walk knows.
//
// A JsonWalk belongs to one walk; not thread-safe.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrune::engine {

// What the page walk needs to know of one page; a value the page does not
// carry is empty.
struct PageFacts {
  std::size_t records = 0;  // in the page's record list
  std::string next_token;
  std::string total_count;
  std::string page_size;
  // The page's records would have taken the joined reply past its limit:
  // nothing of the page was added.
  bool over_limit = false;
};

// Where a walk over pages broke off: the page, and the records before it.
struct WalkBreak {
  int failed_page = 0;
  std::size_t records = 0;
};

class JsonWalk {
 public:
  // The records are the array under `list_element` (directly, or as the
  // first array member of the object there, as in {"Instances":{"Instance":[]}}).
  explicit JsonWalk(std::string_view list_element);
  ~JsonWalk();
  JsonWalk(const JsonWalk&) = delete;
  JsonWalk& operator=(const JsonWalk&) = delete;

  // Reads one good page, as a joined reply would take it: the first page's
  // fields make the document; a later page adds only its records, and none
  // when the compact text of all the records would pass `limit` bytes.
  PageFacts Add(std::string body, std::size_t limit);
  // The walk is over; `last_next_token` is the NextToken of the last page
  // read. Returns the first page as received when it was not a JSON object
  // (then there is no document to write), else "".
  std::string Finish(std::string_view last_next_token);

  // True once a first page that is a JSON object has been read.
  bool joined() const;
  // Writes the document to `out` in pieces: the first page's fields with
  // PageSize and MaxResults set to the number of records and NextToken to
  // the last page's, every record in order, then `notes` as "KestruneNotes"
  // and `partial` as "KestrunePartial": {"failedPage": N, "records": M}.
  // Indented by two spaces, with a line end; a byte that is not UTF-8
  // becomes U+FFFD. False when the records could not be read back whole
  // (the document is still closed, so it stays one valid document).
  bool Write(std::span<const std::string> notes, std::optional<WalkBreak> partial,
             const std::function<void(std::string_view)>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kestrune::engine
