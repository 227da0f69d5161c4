// The JSON form of replies, read with nlohmann-json. Parsing never throws
// (a malformed text becomes a discarded value); every other use checks the
// type first, and the catch blocks are the last guard that keeps a library
// exception inside this file.
#include <nlohmann/json.hpp>

#include "core/json_depth.h"
#include "engine/reply_forms.h"

namespace kestrune::engine {
namespace {

// Keys stay in the order the service wrote them.
using Json = nlohmann::ordered_json;

// A text nested deeper than any reply of the service is treated as one that
// is not JSON: kept as received, never walked.
Json Parse(std::string_view text) {
  if (core::JsonNestsDeeperThan(text)) return Json(Json::value_t::discarded);
  return Json::parse(text, nullptr, false);
}

// The record array of a page, or nullptr.
Json* RecordArray(Json& page, const std::string& list_element) {
  if (!page.is_object()) return nullptr;
  const auto list = page.find(list_element);
  if (list == page.end()) return nullptr;
  if (list->is_array()) return &*list;
  if (!list->is_object()) return nullptr;
  for (Json& member : *list) {
    if (member.is_array()) return &member;
  }
  return nullptr;
}

// A top-level string or number as text; "" for anything else.
std::string ScalarText(const Json& page, const char* name) {
  if (!page.is_object()) return {};
  const auto value = page.find(name);
  if (value == page.end()) return {};
  if (value->is_string()) return value->get<std::string>();
  if (value->is_number_integer()) return value->dump();
  return {};
}

class JsonPageJoin final : public PageJoin {
 public:
  explicit JsonPageJoin(std::string_view list_element) : list_element_(list_element) {}

  PageFacts Add(std::string body) override {
    PageFacts facts;
    try {
      Json page = Parse(body);
      Json* records = RecordArray(page, list_element_);
      facts.records = records != nullptr ? records->size() : 0;
      facts.next_token = ScalarText(page, "NextToken");
      facts.total_count = ScalarText(page, "TotalCount");
      facts.page_size = ScalarText(page, "PageSize");
      if (first_) {
        first_ = false;
        if (page.is_object()) {
          joined_ = std::move(page);
        } else {
          received_ = std::move(body);
        }
      } else if (Json* joined = RecordArray(joined_, list_element_);
                 joined != nullptr && records != nullptr) {
        for (Json& record : *records) joined->push_back(std::move(record));
      }
    } catch (const Json::exception&) {
      // Not reached with the checks above; the page then adds nothing.
    }
    return facts;
  }

  std::string Finish(std::string_view last_next_token) override {
    if (!joined_.is_object()) return std::move(received_);
    try {
      const Json* records = RecordArray(joined_, list_element_);
      const std::size_t count = records != nullptr ? records->size() : 0;
      for (const char* name : {"PageSize", "MaxResults"}) {
        const auto field = joined_.find(name);
        if (field == joined_.end()) continue;
        *field = field->is_string() ? Json(std::to_string(count)) : Json(count);
      }
      if (const auto token = joined_.find("NextToken"); token != joined_.end()) {
        *token = std::string(last_next_token);
      }
      return joined_.dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const Json::exception&) {
      return {};
    }
  }

 private:
  std::string list_element_;
  bool first_ = true;
  Json joined_;
  std::string received_;
};

}  // namespace

std::unique_ptr<PageJoin> MakeJsonPageJoin(std::string_view list_element) {
  return std::make_unique<JsonPageJoin>(list_element);
}

std::optional<std::string> JsonErrorCode(int http_status, std::string_view body) {
  if (http_status >= 200 && http_status <= 299) return std::nullopt;
  try {
    const Json reply = Parse(body);
    if (!reply.is_object()) return std::nullopt;
    const auto code = reply.find("Code");
    if (code == reply.end() || !code->is_string()) return std::nullopt;
    return code->get<std::string>();
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

}  // namespace kestrune::engine
