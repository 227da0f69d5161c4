// JSON for scripts: the service's own reply documents, re-emitted through a
// parser so that what is printed is always one valid document, and the rows
// of the built-in samples as records. Internal to the cli module.
//
// A JsonDocument belongs to one command run; not thread-safe.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/result_list.h"

namespace kestrune::cli {

// Where a walk over pages failed: the page, and the records fetched before.
struct PartialWalk {
  int failed_page = 0;
  std::size_t records = 0;
};

// What a command prints with --format json: one item, or (for a command that
// makes several calls) an array of its items in order.
class JsonDocument {
 public:
  JsonDocument();
  ~JsonDocument();
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;

  // Adds a reply body as parsed, with `notes` (explanations of an error
  // reply) as a "KestruneNotes" array member when there are any and the reply
  // is an object. Returns why it cannot be shown (a line without the
  // program's name), adding a null in its place, when the body is not JSON
  // or nests deeper than any reply may (core/json_depth.h).
  // With `partial` (a walk over pages that failed), an object reply also
  // gets "KestrunePartial": {"failedPage": N, "records": M}, so that a script
  // cannot take the records fetched for the whole list.
  std::optional<std::string> AddReply(std::string_view body,
                                      std::span<const std::string> notes = {},
                                      std::optional<PartialWalk> partial = std::nullopt);
  // Adds a null, for a call that got no reply.
  void AddNothing();
  // Adds rows as an array of records: each a Field: Info object, split at
  // record breaks; a field repeated within a record gives an array.
  void AddRows(std::span<const report::Row> rows);

  // Adds {"region": region, "reply": the single item of `reply`}, or when it
  // holds no reply {"region": region, "error": {"code": code, "message":
  // message}}.
  void AddRegionReply(std::string_view region, const JsonDocument& reply, std::string_view code,
                      std::string_view message);

  std::size_t size() const;

  // The document with a line end: with `as_array` every item in one array,
  // else the single item ("" when it is null or there is none). Indented by
  // two spaces, UTF-8 kept as it is (a malformed byte becomes U+FFFD).
  std::string Render(bool as_array) const;

 private:
  struct Items;
  std::unique_ptr<Items> items_;
};

// What an error reply says, from its JSON or its XML form; empty fields where
// the reply has none.
struct ServiceErrorText {
  std::string code;
  std::string message;
  std::string request_id;
  std::string recommend;
};
ServiceErrorText ReadServiceError(std::string_view body);

// Every scalar of a JSON reply as a row (its key, its value as text), in
// document order, with a record break before each object of an array: the
// rows an XML reply would give, for code that reads rows. None for a body
// that is not JSON or nests too deeply.
std::vector<report::Row> JsonLeafRows(std::string_view body);

}  // namespace kestrune::cli
