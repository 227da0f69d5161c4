#include "request/query.h"

#include <algorithm>
#include <utility>

namespace kestrune::request {
namespace {

core::Status CheckItemLength(std::string_view item) {
  if (item.size() >= kItemLimit) {
    return core::Status::Error(
        "the request parameter \"" + std::string(ItemName(item).substr(0, 40)) + "\" is " +
        std::to_string(item.size()) + " characters long as name=value; the limit is " +
        std::to_string(kItemLimit - 1) + " characters");
  }
  return core::Status::Ok();
}

core::Status TooLong(std::size_t length) {
  return core::Status::Error("the request would be " + std::to_string(length) +
                             " bytes long at one of its stages; the limit is " +
                             std::to_string(kRequestTextLimit - 1) + " bytes");
}

core::Status TooManyActionParameters() {
  return core::Status::Error("a request takes at most " + std::to_string(kMaxActionParameters) +
                             " action parameters");
}

}  // namespace

core::Status ActionParameterList::Append(std::string_view item) {
  std::size_t equals = item.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return core::Status::Error("a request parameter must have the form name=value (got \"" +
                               std::string(item.substr(0, 40)) + "\")");
  }
  if (core::Status status = CheckItemLength(item); !status.ok()) return status;
  if (items_.size() >= kMaxActionParameters) return TooManyActionParameters();
  items_.emplace_back(item);
  return core::Status::Ok();
}

core::Status QueryItemList::Append(std::string_view item, bool user_text) {
  if (core::Status status = CheckItemLength(item); !status.ok()) return status;
  if (items_.size() >= kMaxQueryItems) {
    return core::Status::Error("a request holds at most " + std::to_string(kMaxQueryItems) +
                               " query items");
  }
  items_.push_back(QueryItem{std::string(item), user_text});
  return core::Status::Ok();
}

core::Status QueryItemList::TakeActionParameters(const ActionParameterList& parameters,
                                                 std::size_t count) {
  if (count > parameters.size()) {
    return core::Status::Error("asked for " + std::to_string(count) +
                               " action parameters, but only " + std::to_string(parameters.size()) +
                               " are set");
  }
  if (count > kMaxActionParameters || items_.size() + count > kMaxQueryItems) {
    return TooManyActionParameters();
  }
  // Items in an ActionParameterList already passed the length check.
  for (std::size_t i = 0; i < count; ++i) {
    items_.push_back(QueryItem{parameters.items()[i], true});
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
  std::stable_sort(list.items_.begin(), list.items_.end(),
                   [](const QueryItem& a, const QueryItem& b) {
                     std::string_view name_a = ItemName(a.text);
                     std::string_view name_b = ItemName(b.text);
                     if (name_a != name_b) return name_a < name_b;
                     return ItemValue(a.text) < ItemValue(b.text);
                   });
}

core::Status RequestText::Assign(std::string candidate) {
  if (candidate.size() >= kRequestTextLimit) return TooLong(candidate.size());
  text_ = std::move(candidate);
  return core::Status::Ok();
}

core::Status RequestText::Join(const QueryItemList& list, std::string_view separator,
                               EscapeForm form) {
  std::string joined;
  joined.reserve(1024);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0) joined += separator;
    const QueryItem& item = list.items()[i];
    if (!item.user_text) {
      joined += item.text;
      continue;
    }
    std::string_view name = ItemName(item.text);
    AppendUserComponent(joined, name, form);
    if (name.size() < item.text.size()) {
      joined += '=';
      AppendUserComponent(joined, ItemValue(item.text), form);
    }
  }
  return Assign(std::move(joined));
}

core::Status RequestText::Replace(char ch, std::string_view replacement) {
  std::string candidate = text_;
  ReplaceChar(candidate, ch, replacement);
  return Assign(std::move(candidate));
}

core::Status RequestText::ApplyEscapes(std::span<const EscapeRule> table) {
  std::string candidate = text_;
  request::ApplyEscapes(candidate, table);
  return Assign(std::move(candidate));
}

core::Status RequestText::Prepend(std::string_view text) {
  std::string candidate;
  candidate.reserve(text.size() + text_.size());
  candidate += text;
  candidate += text_;
  return Assign(std::move(candidate));
}

core::Status RequestText::Append(std::string_view text) {
  std::string candidate;
  candidate.reserve(text.size() + text_.size());
  candidate += text_;
  candidate += text;
  return Assign(std::move(candidate));
}

}  // namespace kestrune::request
