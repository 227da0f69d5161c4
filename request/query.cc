#include "request/query.h"

#include <algorithm>
#include <utility>

namespace kestrune::request {
namespace {

core::Status CheckItemLength(std::string_view item) {
  if (item.size() >= kItemLimit) {
    return core::Status::Error("a request parameter is " + std::to_string(item.size()) +
                               " characters long; each name=value item must be shorter than " +
                               std::to_string(kItemLimit) + " characters (item starts \"" +
                               std::string(item.substr(0, 24)) + "...\")");
  }
  return core::Status::Ok();
}

core::Status TooLong(std::size_t length) {
  return core::Status::Error("the request text would be " + std::to_string(length) +
                             " bytes long; it must stay below " +
                             std::to_string(kRequestTextLimit) + " bytes");
}

}  // namespace

core::Status ActionParameterList::Append(std::string_view item) {
  if (core::Status status = CheckItemLength(item); !status.ok()) return status;
  if (items_.size() >= kMaxActionParameters) {
    return core::Status::Error("a request takes at most " + std::to_string(kMaxActionParameters) +
                               " action parameters");
  }
  items_.emplace_back(item);
  return core::Status::Ok();
}

core::Status QueryItemList::Append(std::string_view item) {
  if (core::Status status = CheckItemLength(item); !status.ok()) return status;
  if (items_.size() >= kMaxQueryItems) {
    return core::Status::Error("a request holds at most " + std::to_string(kMaxQueryItems) +
                               " query items");
  }
  items_.emplace_back(item);
  return core::Status::Ok();
}

core::Status QueryItemList::TakeActionParameters(const ActionParameterList& parameters,
                                                 std::size_t count) {
  if (count > parameters.size()) {
    return core::Status::Error("asked for " + std::to_string(count) +
                               " action parameters, but only " + std::to_string(parameters.size()) +
                               " are set");
  }
  if (items_.size() + count > kMaxQueryItems) {
    return core::Status::Error("a request takes at most " + std::to_string(kMaxActionParameters) +
                               " action parameters");
  }
  // Items in an ActionParameterList already passed the length check.
  items_.insert(items_.end(), parameters.items().begin(),
                parameters.items().begin() + static_cast<std::ptrdiff_t>(count));
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
  // unsigned values, and a prefix before any longer text.
  std::stable_sort(list.items_.begin(), list.items_.end(),
                   [](const std::string& a, const std::string& b) {
                     std::string_view name_a = ItemName(a);
                     std::string_view name_b = ItemName(b);
                     if (name_a != name_b) return name_a < name_b;
                     return ItemValue(a) < ItemValue(b);
                   });
}

core::Status RequestText::Assign(std::string candidate) {
  if (candidate.size() >= kRequestTextLimit) return TooLong(candidate.size());
  text_ = std::move(candidate);
  return core::Status::Ok();
}

core::Status RequestText::Join(const QueryItemList& list, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0) joined += separator;
    joined += list.items()[i];
  }
  return Assign(std::move(joined));
}

core::Status RequestText::Replace(char ch, std::string_view replacement) {
  std::string replaced;
  replaced.reserve(text_.size());
  for (char c : text_) {
    if (c == ch) {
      replaced += replacement;
    } else {
      replaced += c;
    }
  }
  return Assign(std::move(replaced));
}

core::Status RequestText::Prepend(std::string_view text) {
  std::string candidate(text);
  candidate += text_;
  return Assign(std::move(candidate));
}

core::Status RequestText::Append(std::string_view text) {
  std::string candidate = text_;
  candidate += text;
  return Assign(std::move(candidate));
}

}  // namespace kestrune::request
