// The JSON form of replies, read with nlohmann-json. Parsing never throws
// (a malformed text becomes a discarded value); every other use checks the
// type first, and the catch blocks are the last guard that keeps a library
// exception inside this file.
#include <nlohmann/json.hpp>
#include <random>
#include <string>

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

// Records as compact text, one after another with commas between: the
// form Finish splices into the document.
void AppendRecords(Json& records, std::string& text) {
  for (const Json& record : records) {
    if (!text.empty()) text += ',';
    text += record.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
}

class JsonPageJoin final : public PageJoin {
 public:
  explicit JsonPageJoin(std::string_view list_element) : list_element_(list_element) {}

  PageFacts Add(std::string body, std::size_t limit) override {
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
          if (Json* kept = RecordArray(joined_, list_element_)) {
            AppendRecords(*kept, records_);
            count_ = kept->size();
            *kept = Json::array();
          }
        } else {
          received_ = std::move(body);
        }
      } else if (RecordArray(joined_, list_element_) != nullptr && records != nullptr) {
        std::string added;
        AppendRecords(*records, added);
        if (added.size() + 1 > limit || records_.size() > limit - added.size() - 1) {
          facts.over_limit = true;
          return facts;
        }
        if (!records_.empty() && !added.empty()) records_ += ',';
        records_ += added;
        count_ += records->size();
      }
    } catch (const Json::exception&) {
      // Not reached with the checks above; the page then adds nothing.
    }
    return facts;
  }

  std::string Finish(std::string_view last_next_token) override {
    if (!joined_.is_object()) return std::move(received_);
    try {
      for (const char* name : {"PageSize", "MaxResults"}) {
        const auto field = joined_.find(name);
        if (field == joined_.end()) continue;
        *field = field->is_string() ? Json(std::to_string(count_)) : Json(count_);
      }
      if (const auto token = joined_.find("NextToken"); token != joined_.end()) {
        *token = std::string(last_next_token);
      }
      // The records go where a marker string stands in the dump: one no
      // reply can hold, as it is made of random digits here and now.
      Json* records = RecordArray(joined_, list_element_);
      if (records == nullptr) return joined_.dump(-1, ' ', false, Json::error_handler_t::replace);
      std::string marker = "kestrune-records-";
      std::random_device random;
      for (int k = 0; k < 4; ++k) marker += std::to_string(random());
      *records = marker;
      std::string text = joined_.dump(-1, ' ', false, Json::error_handler_t::replace);
      const std::string quoted = '"' + marker + '"';
      const std::size_t at = text.find(quoted);
      if (at == std::string::npos) return {};
      std::string whole;
      whole.reserve(text.size() + records_.size() + 2);
      whole.append(text, 0, at).append(1, '[').append(records_).append(1, ']');
      whole.append(text, at + quoted.size());
      std::string().swap(records_);
      return whole;
    } catch (const Json::exception&) {
      return {};
    }
  }

 private:
  std::string list_element_;
  bool first_ = true;
  Json joined_;  // the first page, its record array emptied
  std::string records_;
  std::size_t count_ = 0;
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
