// The parameter lists a signed request is assembled from, and the text they
// are joined into.
//
// An ActionParameterList holds the "name=value" items of the chosen action, in
// the order the dispatch appends them. A QueryItemList holds the items of one
// builder pass (common items first, then the action's), is sorted and joined
// into a RequestText, which the builder then edits into the string to sign and
// the request that goes on the wire.
//
// Every limit the wire format imposes is checked here and reported as an
// error naming it; nothing is ever truncated.
//
// All types are plain values; separate objects may be used from separate
// threads, one object from one thread at a time.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/status.h"
#include "request/escape.h"

namespace kestrune::request {

// Limits that fit what the service takes, not a buffer of ours. Each is
// refused with a message naming it; nothing is ever truncated.
//
// An item ("name=value") must be shorter than this many characters: room for
// the largest value the service documents (RunInstances' UserData, 32 KB of
// Base64) with a wide margin.
inline constexpr std::size_t kItemLimit = 65536;
// A request carries at most this many action parameters (Tag.N, filters and
// repeated lists included), beside the common items the builder writes.
inline constexpr std::size_t kMaxActionParameters = 256;
inline constexpr std::size_t kCommonQueryItems = 10;
inline constexpr std::size_t kMaxQueryItems = kMaxActionParameters + kCommonQueryItems;
// Every stage of the RequestText (joined query, string to sign, request) must
// be shorter than this many bytes.
inline constexpr std::size_t kRequestTextLimit = 1024 * 1024;

// The action's parameters, in the order they were appended.
class ActionParameterList {
 public:
  void Clear() { items_.clear(); }
  // Appends one "name=value" item. Refuses, leaving the list unchanged, an
  // item without "=" or with an empty name, an item of kItemLimit characters
  // or more, and a parameter beyond the kMaxActionParameters-th.
  core::Status Append(std::string_view item);
  std::size_t size() const { return items_.size(); }
  const std::vector<std::string>& items() const { return items_; }

 private:
  std::vector<std::string> items_;
};

// The items of one builder pass, at most kMaxQueryItems of them, each
// shorter than kItemLimit characters. The common items are written in their
// final form; items carrying user text (the action parameters and the
// AccessKey id) are stored as given and encoded for their pass when the list
// is joined. All items share one buffer, and Clear keeps its capacity, so a
// list reused for the second pass rarely allocates.
class QueryItemList {
 public:
  // Reserves room for a typical request's items, so appends rarely allocate.
  QueryItemList();
  void Clear() {
    buffer_.clear();
    entries_.clear();
  }
  // Appends one item, `head` followed by `tail`. Refuses, leaving the list
  // unchanged, an item of kItemLimit characters or more and an item beyond
  // the kMaxQueryItems-th.
  core::Status Append(std::string_view head, std::string_view tail, bool user_text);
  core::Status Append(std::string_view item, bool user_text = false) {
    return Append(item, {}, user_text);
  }
  // Appends the first `count` action parameters in their order, as user text.
  // Refuses, appending nothing, when `count` exceeds the list's size or the
  // items do not fit.
  core::Status TakeActionParameters(const ActionParameterList& parameters, std::size_t count);
  core::Status TakeActionParameters(const ActionParameterList& parameters) {
    return TakeActionParameters(parameters, parameters.size());
  }
  std::size_t size() const { return entries_.size(); }
  // Item `index` (0-based, below size()).
  std::string_view text(std::size_t index) const {
    return std::string_view(buffer_).substr(entries_[index].offset, entries_[index].length);
  }
  bool user_text(std::size_t index) const { return entries_[index].user_text; }

 private:
  friend void SortQueryItems(QueryItemList& list);
  struct Entry {
    std::size_t offset;
    std::size_t length;
    std::size_t name_length;  // the text before the first "=", or all of it
    bool user_text;
  };
  std::string buffer_;
  std::vector<Entry> entries_;
};

// The parameter name of an item: the text before its first "=" (the whole
// item when it has none).
std::string_view ItemName(std::string_view item);
// The value of an item: the text after its first "=" (empty when it has none).
std::string_view ItemValue(std::string_view item);

// Sorts the items ascending by parameter name, then by value, both compared
// byte-wise as unsigned values (a prefix sorts first). The service orders the
// canonical query by name, so "Tag=y" must come before "Tag2=x" even though the
// whole texts compare the other way. Stable: equal items keep their order.
void SortQueryItems(QueryItemList& list);

// The request text under construction; each edit is refused, leaving the
// text unchanged, when the result would reach kRequestTextLimit bytes.
class RequestText {
 public:
  // Reserves room for a typical request, so edits rarely allocate.
  RequestText();

  // Replaces the text by the items joined with `separator` (no separator
  // before the first or after the last item). User-text items are written in
  // the form `form` asks for (see AppendUserComponent).
  core::Status Join(const QueryItemList& list, std::string_view separator, EscapeForm form);
  // The same as Join, then ApplyEscapes(table), then Prepend(prefix), in one
  // pass over the items.
  core::Status JoinEscaped(const QueryItemList& list, std::string_view separator, EscapeForm form,
                           const EscapeTable& table, std::string_view prefix);
  // Replaces every `ch` by `replacement`.
  core::Status Replace(char ch, std::string_view replacement);
  // Applies the rules of a table in order.
  core::Status ApplyEscapes(const EscapeTable& table);
  // Applies `table`, then puts `prefix` in front, in one step.
  core::Status EscapeAndPrepend(const EscapeTable& table, std::string_view prefix);
  core::Status Prepend(std::string_view text);
  core::Status Append(std::string_view text);

  const std::string& text() const { return text_; }
  std::size_t size() const { return text_.size(); }
  // Hands the text over; the object is then empty.
  std::string Release() && { return std::move(text_); }

 private:
  // Makes scratch_ the text if it is short enough.
  core::Status TakeScratch();
  std::string text_;
  std::string scratch_;
};

// Free-function spelling of the RequestText edits, for callers that follow
// the builder's step names.
inline core::Status JoinQueryItems(const QueryItemList& list, std::string_view separator,
                                   EscapeForm form, RequestText& text) {
  return text.Join(list, separator, form);
}
inline core::Status ReplaceInRequestText(RequestText& text, char ch, std::string_view replacement) {
  return text.Replace(ch, replacement);
}

}  // namespace kestrune::request
