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

namespace kestrune::engine {

// What the page walk needs to know of one page; a value the page does not
// carry is empty.
struct PageFacts {
  std::size_t records = 0;  // in the page's record list
  std::string next_token;
  std::string total_count;
  std::string page_size;
};

class PageJoin {
 public:
  virtual ~PageJoin() = default;
  // Reads one good page. The first becomes the joined reply; every later
  // page's records are added after the records already there.
  virtual PageFacts Add(std::string body) = 0;
  // The joined reply. `last_next_token` is the NextToken of the last page
  // read (empty when the list is complete).
  virtual std::string Finish(std::string_view last_next_token) = 0;
};

// XML: the records are the children of `list_element` (e.g. "Instances");
// later pages' record texts are inserted before its closing tag, and nothing
// else of the first page changes.
std::unique_ptr<PageJoin> MakeXmlPageJoin(std::string_view list_element);
// JSON: the records are the array under `list_element` (directly, or as the
// first array member of the object there, as in {"Instances":{"Instance":[]}}).
// Finish sets the page fields as Engine::SendAllPages describes. A page that
// is not a JSON object adds nothing; a first page that is not one is kept as
// received.
std::unique_ptr<PageJoin> MakeJsonPageJoin(std::string_view list_element);

// The name of the root element of an XML document that never closes it (a
// reply cut off on the way: without a length header the close of the
// connection alone ends it); nullopt for a whole document and for a body
// that is not XML at all.
std::optional<std::string> UnclosedXmlRoot(std::string_view body);

// The Code of a JSON error reply: a status outside 2xx and an object with a
// string "Code". nullopt for anything else.
std::optional<std::string> JsonErrorCode(int http_status, std::string_view body);

}  // namespace kestrune::engine
