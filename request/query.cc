#include "request/query.h"

#include <algorithm>
#include <array>
#include <cstdint>
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
constexpr std::size_t kTypicalQueryItems = 16;
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
  shapes_.push_back(ShapeOf(item, {}, true));
  return core::Status::Ok();
}

QueryItemList::QueryItemList() { entries_.reserve(kTypicalQueryItems); }

core::Status QueryItemList::Append(std::string_view head, std::string_view tail, bool user_text) {
  if (head.size() + tail.size() >= kItemLimit) {
    std::string item(head);
    item += tail;
    return CheckItemLength(item);
  }
  auto item = std::make_unique<std::string>(head);
  *item += tail;
  const std::string_view text = *item;
  owned_.push_back(std::move(item));
  core::Status status = AppendView(text, {}, user_text, ShapeOf(text, {}, user_text));
  if (!status.ok()) owned_.pop_back();
  return status;
}

core::Status QueryItemList::AppendView(std::string_view head, std::string_view tail, bool user_text,
                                       const ItemShape& shape) {
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
  if (shape.name_length > head.size()) {
    return core::Status::Error("a query item's name must lie within its head");
  }
  entries_.push_back(Entry{head, tail, shape, user_text});
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
  // Each was checked against kItemLimit when it was appended.
  for (std::size_t i = 0; i < count; ++i) {
    entries_.push_back(Entry{parameters.items()[i], {}, parameters.shapes()[i], true});
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
  using Entry = QueryItemList::Entry;
  auto before = [](const Entry& a, const Entry& b) {
    const std::string_view name_a = a.head.substr(0, a.shape.name_length);
    const std::string_view name_b = b.head.substr(0, b.shape.name_length);
    // Names mostly differ in their first byte: settled without a library call.
    if (!name_a.empty() && !name_b.empty() && name_a.front() != name_b.front()) {
      return static_cast<unsigned char>(name_a.front()) <
             static_cast<unsigned char>(name_b.front());
    }
    if (name_a != name_b) return name_a < name_b;
    // Equal names: the values, the text after each "=" (empty without one).
    const auto value_of = [](const Entry& e) {
      std::string value(e.head.substr(std::min(e.shape.name_length + 1, e.head.size())));
      value += e.tail;
      return value;
    };
    return value_of(a) < value_of(b);
  };
  // Stable: equal items keep their order. A typical list of a dozen items is
  // sorted by insertion, which needs no buffer; std::stable_sort allocates one.
  auto& entries = list.entries_;
  if (entries.size() > kInsertionSortLimit) {
    std::stable_sort(entries.begin(), entries.end(), before);
    return;
  }
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const Entry entry = entries[i];
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
  return JoinEscaped(list, separator, form, kNoEscapes, {});
}

core::Status RequestText::JoinEscaped(const QueryItemList& list, std::string_view separator,
                                      EscapeForm form, const EscapeTable& table,
                                      std::string_view prefix) {
  scratch_.clear();
  scratch_ += prefix;
  // Each table rule replaces one byte, so escaping every piece as it is
  // written gives what escaping the joined text would.
  std::string encoded;
  {
    EscapingAppender out(scratch_, table);
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i != 0) {
        if (separator.size() == 1) {
          out.PutByte(separator.front());
        } else {
          out.Put(separator);
        }
      }
      const std::string_view head = list.head(i);
      const std::string_view tail = list.tail(i);
      const ItemShape& shape = list.shape(i);
      if (shape.plain) {
        // The name lies within the head.
        out.PutVerbatim(head.substr(0, shape.name_length));
        if (shape.name_length < head.size()) {
          out.PutByte('=');
          out.PutVerbatim(head.substr(shape.name_length + 1));
        }
        out.PutVerbatim(tail);
        continue;
      }
      if (!list.user_text(i)) {
        out.Put(head);
        out.Put(tail);
        continue;
      }
      const std::string item = list.text(i);
      if (TablesCover(item)) {
        out.Put(item);
        continue;
      }
      const std::string_view name = ItemName(item);
      encoded.clear();
      AppendUserComponent(encoded, name, form);
      if (name.size() < item.size()) {
        encoded += '=';
        AppendUserComponent(encoded, ItemValue(item), form);
      }
      out.Put(encoded);
    }
  }
  return TakeScratch();
}

core::Status RequestText::Replace(char ch, std::string_view replacement) {
  scratch_ = text_;
  ReplaceChar(scratch_, ch, replacement);
  return TakeScratch();
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

core::Status CheckRequestSize(std::size_t length) {
  return length >= kRequestTextLimit ? TooLong(length) : core::Status::Ok();
}

}  // namespace kestrune::request
