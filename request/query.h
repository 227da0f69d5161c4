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

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
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
// Refuses, naming the limit, a request of kRequestTextLimit bytes or more.
core::Status CheckRequestSize(std::size_t length);

// Where an item's name ends, and whether the item is plain: free of every
// character that an escape table replaces or that user text must have
// encoded, but for the "=" after its name. Every form of a plain item is its
// name, the "=" in the form's escaping and its value, as they are.
struct ItemShape {
  std::size_t name_length = 0;  // the text before the first "=", or all of it
  bool plain = false;
};
// The bytes that keep an item from being plain, as 1: user text must need
// no encoding, the builder's own text (written in its final form) must
// merely hold nothing an escape table replaces.
constexpr std::array<std::uint8_t, 256> MakeNotPlainBytes(bool user_text) {
  std::array<std::uint8_t, 256> not_plain{};
  for (std::size_t c = 0; c < not_plain.size(); ++c) {
    not_plain[c] = user_text && !IsUnreserved(static_cast<unsigned char>(c)) ? 1 : 0;
  }
  for (const char c : kEscapableCharacters) not_plain[static_cast<unsigned char>(c)] = 1;
  return not_plain;
}
inline constexpr std::array<std::uint8_t, 256> kNotPlainUserBytes = MakeNotPlainBytes(true);
inline constexpr std::array<std::uint8_t, 256> kNotPlainBuilderBytes = MakeNotPlainBytes(false);

// Whether `text` (a name or a value, "=" included) holds only bytes a plain
// item may hold. It stops at the first byte that is not: that branch is
// almost never taken, and a loop that can stop is not vectorised, which for
// texts of a few dozen bytes would only cost.
constexpr bool IsPlainText(std::string_view text, bool user_text) {
  const std::array<std::uint8_t, 256>& not_plain =
      user_text ? kNotPlainUserBytes : kNotPlainBuilderBytes;
  for (const char c : text) {
    if (not_plain[static_cast<unsigned char>(c)] != 0) return false;
  }
  return true;
}

// The shape of the item `head` followed by `tail`.
constexpr ItemShape ShapeOf(std::string_view head, std::string_view tail, bool user_text) {
  ItemShape shape;
  if (const std::size_t equals = head.find('='); equals != std::string_view::npos) {
    shape.name_length = equals;
    shape.plain = IsPlainText(head.substr(0, equals), user_text) &&
                  IsPlainText(head.substr(equals + 1), user_text) && IsPlainText(tail, user_text);
  } else {
    const std::size_t in_tail = std::min(tail.find('='), tail.size());
    shape.name_length = head.size() + in_tail;
    shape.plain = IsPlainText(head, user_text) && IsPlainText(tail.substr(0, in_tail), user_text) &&
                  IsPlainText(tail.substr(std::min(in_tail + 1, tail.size())), user_text);
  }
  return shape;
}

// The action's parameters, in the order they were appended.
class ActionParameterList {
 public:
  void Clear() {
    items_.clear();
    shapes_.clear();
  }
  // Appends one "name=value" item. Refuses, leaving the list unchanged, an
  // item without "=" or with an empty name, an item of kItemLimit characters
  // or more, and a parameter beyond the kMaxActionParameters-th.
  core::Status Append(std::string_view item);
  std::size_t size() const { return items_.size(); }
  const std::vector<std::string>& items() const { return items_; }
  // The shape of each item as user text, worked out once when it was
  // appended rather than for every request built from it.
  const std::vector<ItemShape>& shapes() const { return shapes_; }

 private:
  std::vector<std::string> items_;
  std::vector<ItemShape> shapes_;
};

// The items of one builder pass, at most kMaxQueryItems of them, each
// shorter than kItemLimit characters. The common items are written in their
// final form; items carrying user text (the action parameters and the
// AccessKey id) are stored as given and encoded for their pass when the list
// is joined.
//
// An item is `head` followed by `tail`. Append copies its text into the
// list; AppendView and TakeActionParameters only refer to text that the
// caller keeps alive and unchanged while the list is used, so the builder's
// two passes copy no item text at all. Sorting moves entries, never text.
// Moving a list keeps what it refers to; copying is not offered.
class QueryItemList {
 public:
  // Reserves room for a typical request's items, so appends rarely allocate.
  QueryItemList();
  QueryItemList(QueryItemList&&) = default;
  QueryItemList& operator=(QueryItemList&&) = default;
  QueryItemList(const QueryItemList&) = delete;
  QueryItemList& operator=(const QueryItemList&) = delete;
  ~QueryItemList() = default;

  void Clear() {
    entries_.clear();
    owned_.clear();
  }
  // Appends a copy of one item, `head` followed by `tail`. Refuses, leaving
  // the list unchanged, an item of kItemLimit characters or more and an item
  // beyond the kMaxQueryItems-th.
  core::Status Append(std::string_view head, std::string_view tail, bool user_text);
  core::Status Append(std::string_view item, bool user_text = false) {
    return Append(item, {}, user_text);
  }
  // The same without a copy, for a caller that keeps `head` and `tail`
  // alive and already knows their shape (ShapeOf(head, tail, user_text)),
  // whose name must lie within `head`.
  core::Status AppendView(std::string_view head, std::string_view tail, bool user_text,
                          const ItemShape& shape);
  // Appends the first `count` action parameters in their order, as user
  // text, referring to them: `parameters` must outlive the list's use.
  // Refuses, appending nothing, when `count` exceeds the list's size or the
  // items do not fit.
  core::Status TakeActionParameters(const ActionParameterList& parameters, std::size_t count);
  core::Status TakeActionParameters(const ActionParameterList& parameters) {
    return TakeActionParameters(parameters, parameters.size());
  }
  std::size_t size() const { return entries_.size(); }
  // Item `index` (0-based, below size()), whole.
  std::string text(std::size_t index) const {
    std::string item(entries_[index].head);
    item += entries_[index].tail;
    return item;
  }
  // Its two parts: the name (and the "=", if any) lie within the head.
  std::string_view head(std::size_t index) const { return entries_[index].head; }
  std::string_view tail(std::size_t index) const { return entries_[index].tail; }
  bool user_text(std::size_t index) const { return entries_[index].user_text; }
  const ItemShape& shape(std::size_t index) const { return entries_[index].shape; }

 private:
  friend void SortQueryItems(QueryItemList& list);
  struct Entry {
    std::string_view head;
    std::string_view tail;
    ItemShape shape;
    bool user_text;
  };
  std::vector<Entry> entries_;
  // The copies Append makes, each in its own allocation, so views of them
  // stay valid as the list grows and when it moves.
  std::vector<std::unique_ptr<const std::string>> owned_;
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
  // Hands the text over and leaves it empty, for a text built in stages.
  std::string Take() { return std::exchange(text_, std::string()); }

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
