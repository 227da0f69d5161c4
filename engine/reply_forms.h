// What the engine reads from a reply in each of the service's two forms, XML
// and JSON: whether a JSON reply is an error, and how the pages of a list are
// joined into one reply for SendAllPages. Internal to the engine.
//
// A PageJoin belongs to one walk over the pages; not thread-safe.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/json_walk.h"

namespace kestrune::engine {

class PageJoin {
 public:
  virtual ~PageJoin() = default;
  // Reads one good page. The first becomes the joined reply; every later
  // page's records are added after the records already there, unless that
  // would take the joined reply past `limit` bytes (see PageFacts).
  virtual PageFacts Add(std::string body, std::size_t limit) = 0;
  // The joined reply. `last_next_token` is the NextToken of the last page
  // read (empty when the list is complete).
  virtual std::string Finish(std::string_view last_next_token) = 0;
};

// What one XML page says of itself (its list: the children of
// `list_element`).
PageFacts ReadXmlPageFacts(std::string_view body, std::string_view list_element);

// XML: the records are the children of `list_element` (e.g. "Instances");
// later pages' record texts are inserted before its closing tag, and nothing
// else of the first page changes.
std::unique_ptr<PageJoin> MakeXmlPageJoin(std::string_view list_element);
// JSON: the records are the array under `list_element` (directly, or as the
// first array member of the object there, as in {"Instances":{"Instance":[]}}).
// Finish sets the page fields as Engine::SendAllPages describes. A page that
// is not a JSON object adds nothing; a first page that is not one is kept as
// received. Later pages' records are kept as compact text, not as parsed
// values, so a long walk holds little more than the text it will print.
std::unique_ptr<PageJoin> MakeJsonPageJoin(std::string_view list_element);
// JSON, the document written by `walk` (which must outlive the join):
// Finish gives back only a first page that was no JSON object.
std::unique_ptr<PageJoin> MakeJsonWalkJoin(JsonWalk& walk);

// The records of one XML page shown apart from the rest of the walk: the
// first page with its list emptied is the frame, and each later page is
// shown inside that frame, so that its head rows (and any rows after the
// list) are the frame's and can be told from its records' rows. Used to
// hand each page's rows on as soon as the page has come, without keeping
// the pages. The frame leaves out the text of its long values (1 KiB or
// more): they are the first page's to show, and a frame holding them would
// copy them into every page.
class XmlPageFrame {
 public:
  explicit XmlPageFrame(std::string_view list_element) : list_element_(list_element) {}
  // Takes the first page as the frame; false when it has no such list.
  bool SetFirst(std::string_view body);
  // `body` with its list emptied, long values and all.
  std::string Emptied(std::string_view body) const;
  // The frame with `body`'s records in its list (the frame alone for a
  // body without the list), made in `body`'s own buffer.
  std::string Framed(std::string body) const;
  // The frame with an empty list.
  const std::string& empty() const { return frame_; }

 private:
  std::string list_element_;
  std::string frame_;
  std::size_t insert_at_ = 0;
};

// The name of the root element of an XML document that never closes it (a
// reply cut off on the way: without a length header the close of the
// connection alone ends it); nullopt for a whole document and for a body
// that is not XML at all.
std::optional<std::string> UnclosedXmlRoot(std::string_view body);

// The Code of a JSON error reply: a status outside 2xx and an object with a
// string "Code". nullopt for anything else.
std::optional<std::string> JsonErrorCode(int http_status, std::string_view body);

}  // namespace kestrune::engine
