#include "request/query.h"

#include <algorithm>
#include <utility>

namespace kestrune::request {
namespace {

core::Status CheckItemLength(std::string_view item) {
  if (item.size() >= kItemLimit) {
    return core::Status::InvalidInput(
        "the request parameter \"" + std::string(ItemName(item).substr(0, 40)) + "\" is " +
        std::to_string(item.size()) + " characters long as name=value; the limit is " +
        std::to_string(kItemLimit - 1) + " characters");
  }
  return core::Status::Ok();
}

core::Status TooLong(std::size_t length) {
  return core::Status::InvalidInput("the request would be " + std::to_string(length) +
                                    " bytes long at one of its stages; the limit is " +
                                    std::to_string(kRequestTextLimit - 1) + " bytes");
}

constexpr std::size_t kTypicalRequestSize = 1000;
// Room in a QueryItemList for the common items and a few action parameters.
constexpr std::size_t kTypicalQueryItems = 24;
constexpr std::size_t kTypicalItemBytes = 512;
// Longer lists are sorted by std::stable_sort, shorter ones by insertion.
constexpr std::size_t kInsertionSortLimit = 32;

core::Status TooManyActionParameters() {
  return core::Status::InvalidInput("a request takes at most " +
                                    std::to_string(kMaxActionParameters) + " action parameters");
}

}  // namespace

core::Status ActionParameterList::Append(std::string_view item) {
  std::size_t equals = item.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return core::Status::InvalidInput("a request parameter must have the form name=value (got \"" +
                                      std::string(item.substr(0, 40)) + "\")");
  }
  if (core::Status status = CheckItemLength(item); !status.ok()) return status;
  if (items_.size() >= kMaxActionParameters) return TooManyActionParameters();
  items_.emplace_back(item);
  return core::Status::Ok();
}

QueryItemList::QueryItemList() {
  entries_.reserve(kTypicalQueryItems);
  buffer_.reserve(kTypicalItemBytes);
}

core::Status QueryItemList::Append(std::string_view head, std::string_view tail, bool user_text) {
  const std::size_t length = head.size() + tail.size();
  if (length >= kItemLimit) {
    std::string item(head);
    item += tail;
    return CheckItemLength(item);
  }
  if (entries_.size() >= kMaxQueryItems) {
    return core::Status::InvalidInput("a request holds at most " + std::to_string(kMaxQueryItems) +
                                      " query items");
  }
  // Sorting moves entries only; the text stays where it was appended.
  std::size_t name_length = head.find('=');
  if (name_length == std::string_view::npos) {
    name_length = head.size() + std::min(tail.find('='), tail.size());
  }
  entries_.push_back(Entry{buffer_.size(), length, name_length, user_text});
  buffer_.append(head).append(tail);
  return core::Status::Ok();
}

core::Status QueryItemList::TakeActionParameters(const ActionParameterList& parameters,
                                                 std::size_t count) {
  if (count > parameters.size()) {
    return core::Status::Error("asked for " + std::to_string(count) +
                               " action parameters, but only " + std::to_string(parameters.size()) +
                               " are set");
  }
  if (count > kMaxActionParameters || entries_.size() + count > kMaxQueryItems) {
    return TooManyActionParameters();
  }
  const std::size_t entries_before = entries_.size();
  const std::size_t buffer_before = buffer_.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (core::Status status = Append(parameters.items()[i], true); !status.ok()) {
      entries_.resize(entries_before);  // take all or nothing
      buffer_.resize(buffer_before);
      return status;
    }
  }
  return core::Status::Ok();
}

std::string_view ItemName(std::string_view item) {
  return item.substr(0, std::min(item.find('='), item.size()));
}

std::string_view ItemValue(std::string_view item) {
  std::size_t equals = item.find('=');
  return equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
}

void SortQueryItems(QueryItemList& list) {
  // std::string_view compares through char_traits<char>, which orders bytes as
  // unsigned values and puts a prefix before any longer text.
  auto before = [&list](const QueryItemList::Entry& a, const QueryItemList::Entry& b) {
    const std::string_view buffer(list.buffer_);
    const std::string_view name_a = buffer.substr(a.offset, a.name_length);
    const std::string_view name_b = buffer.substr(b.offset, b.name_length);
    if (name_a != name_b) return name_a < name_b;
    // Equal names: the values, the text after each "=" (empty without one).
    const std::size_t value_a = std::min(a.name_length + 1, a.length);
    const std::size_t value_b = std::min(b.name_length + 1, b.length);
    return buffer.substr(a.offset + value_a, a.length - value_a) <
           buffer.substr(b.offset + value_b, b.length - value_b);
  };
  // Stable: equal items keep their order. A typical list of a dozen items is
  // sorted by insertion, which needs no buffer; std::stable_sort allocates one.
  auto& entries = list.entries_;
  if (entries.size() > kInsertionSortLimit) {
    std::stable_sort(entries.begin(), entries.end(), before);
    return;
  }
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const QueryItemList::Entry entry = entries[i];
    std::size_t at = i;
    for (; at > 0 && before(entry, entries[at - 1]); --at) entries[at] = entries[at - 1];
    entries[at] = entry;
  }
}

RequestText::RequestText() {
  // Enough for a typical request; a larger one grows the buffers once or
  // twice. (Reserving the full limit costs more than it saves.)
  text_.reserve(kTypicalRequestSize);
  scratch_.reserve(kTypicalRequestSize);
}

core::Status RequestText::TakeScratch() {
  if (scratch_.size() >= kRequestTextLimit) return TooLong(scratch_.size());
  text_.swap(scratch_);
  return core::Status::Ok();
}

core::Status RequestText::Join(const QueryItemList& list, std::string_view separator,
                               EscapeForm form) {
  scratch_.clear();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0) scratch_ += separator;
    const std::string_view item = list.text(i);
    if (!list.user_text(i)) {
      scratch_ += item;
      continue;
    }
    const std::string_view name = ItemName(item);
    AppendUserComponent(scratch_, name, form);
    if (name.size() < item.size()) {
      scratch_ += '=';
      AppendUserComponent(scratch_, ItemValue(item), form);
    }
  }
  return TakeScratch();
}

core::Status RequestText::JoinEscaped(const QueryItemList& list, std::string_view separator,
                                      EscapeForm form, const EscapeTable& table,
                                      std::string_view prefix) {
  scratch_.clear();
  scratch_ += prefix;
  // Each table rule replaces one byte, so escaping every piece as it is
  // written gives what escaping the joined text would.
  auto append_user = [this, form, &table](std::string_view component) {
    if (TablesCover(component)) {
      AppendEscaped(scratch_, component, table);
    } else {
      std::string encoded;
      AppendUserComponent(encoded, component, form);
      AppendEscaped(scratch_, encoded, table);
    }
  };
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0) AppendEscaped(scratch_, separator, table);
    const std::string_view item = list.text(i);
    if (!list.user_text(i)) {
      AppendEscaped(scratch_, item, table);
      continue;
    }
    const std::string_view name = ItemName(item);
    append_user(name);
    if (name.size() < item.size()) {
      AppendEscaped(scratch_, "=", table);
      append_user(ItemValue(item));
    }
  }
  return TakeScratch();
}

core::Status RequestText::Replace(char ch, std::string_view replacement) {
  const EscapeRule rule[] = {{ch, replacement}};
  return ApplyEscapes(MakeEscapeTable(rule));
}

core::Status RequestText::ApplyEscapes(const EscapeTable& table) {
  scratch_.clear();
  AppendEscaped(scratch_, text_, table);
  return TakeScratch();
}

core::Status RequestText::EscapeAndPrepend(const EscapeTable& table, std::string_view prefix) {
  scratch_.clear();
  scratch_ += prefix;
  AppendEscaped(scratch_, text_, table);
  return TakeScratch();
}

core::Status RequestText::Prepend(std::string_view text) {
  scratch_.clear();
  scratch_ += text;
  scratch_ += text_;
  return TakeScratch();
}

core::Status RequestText::Append(std::string_view text) {
  if (text_.size() + text.size() >= kRequestTextLimit) return TooLong(text_.size() + text.size());
  text_ += text;
  return core::Status::Ok();
}

}  // namespace kestrune::request
