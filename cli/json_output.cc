// nlohmann-json stays inside this file. Parsing never throws (a malformed
// text becomes a discarded value) and rendering replaces what is not UTF-8;
// the remaining uses check types first, and the catch blocks keep any library
// exception from leaving the module.
#include "cli/json_output.h"

#include <nlohmann/json.hpp>

#include "cli/output.h"
#include "core/json_depth.h"
#include "report/extractor.h"
#include "report/xml_text.h"

namespace kestrune::cli {
namespace {

// Keys in the order the service wrote them, as a person reading the reply
// expects (a plain json object would sort them).
using OrderedJson = nlohmann::ordered_json;

std::string Scalar(const OrderedJson& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return {};
  return value.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

void CollectLeaves(const OrderedJson& value, std::string_view key, std::vector<report::Row>& rows) {
  if (value.is_object()) {
    for (const auto& [name, member] : value.items()) CollectLeaves(member, name, rows);
  } else if (value.is_array()) {
    for (const OrderedJson& item : value) {
      if (item.is_object()) rows.push_back(report::Row::Break());
      CollectLeaves(item, key, rows);
    }
  } else {
    rows.push_back({std::string(key), Scalar(value)});
  }
}

// The text inside a CDATA section, or the text decoded as XML character data.
std::string XmlValue(std::string_view body, std::string_view name) {
  std::string raw;
  if (report::CopyElementValue(body, name, raw) == report::kElementAbsent) return {};
  constexpr std::string_view kOpen = "<![CDATA[";
  constexpr std::string_view kClose = "]]>";
  if (raw.starts_with(kOpen) && raw.ends_with(kClose) &&
      raw.size() >= kOpen.size() + kClose.size()) {
    return raw.substr(kOpen.size(), raw.size() - kOpen.size() - kClose.size());
  }
  return report::DecodeXmlText(raw);
}

}  // namespace

struct JsonDocument::Items {
  std::vector<OrderedJson> items;
};

JsonDocument::JsonDocument() : items_(std::make_unique<Items>()) {}
JsonDocument::~JsonDocument() = default;

std::optional<std::string> JsonDocument::AddReply(std::string_view body,
                                                  std::span<const std::string> notes,
                                                  std::optional<PartialWalk> partial) {
  std::string complaint;
  OrderedJson parsed;
  if (core::JsonNestsDeeperThan(body)) {
    complaint = "the reply nests arrays and objects more than " +
                std::to_string(core::kJsonDepthLimit) +
                " levels deep; refusing to show it (--raw prints it as received)";
  } else {
    try {
      parsed = OrderedJson::parse(body);
    } catch (const OrderedJson::exception& error) {
      complaint = std::string("the reply is not JSON: ") + error.what();
    }
  }
  if (complaint.empty() && !notes.empty() && parsed.is_object()) {
    OrderedJson listed = OrderedJson::array();
    for (const std::string& note : notes) listed.push_back(note);
    parsed["KestruneNotes"] = std::move(listed);
  }
  if (complaint.empty() && partial && parsed.is_object()) {
    OrderedJson walk = OrderedJson::object();
    walk["failedPage"] = partial->failed_page;
    walk["records"] = partial->records;
    parsed["KestrunePartial"] = std::move(walk);
  }
  items_->items.push_back(complaint.empty() ? std::move(parsed) : OrderedJson());
  if (complaint.empty()) return std::nullopt;
  return complaint;
}

void JsonDocument::AddRegionReply(std::string_view region, const JsonDocument& reply,
                                  std::string_view code, std::string_view message) {
  OrderedJson item = OrderedJson::object();
  item["region"] = std::string(region);
  if (reply.items_->items.empty() || reply.items_->items.front().is_null()) {
    OrderedJson error = OrderedJson::object();
    // A good reply that is no JSON document: its complaint went to the
    // error stream already.
    error["code"] = message.empty() ? std::string("InvalidReply") : std::string(code);
    error["message"] =
        message.empty() ? std::string("the reply is not a JSON document") : std::string(message);
    item["error"] = std::move(error);
  } else {
    item["reply"] = reply.items_->items.front();
  }
  items_->items.push_back(std::move(item));
}

void JsonDocument::AddNothing() { items_->items.emplace_back(); }

void JsonDocument::AddRows(std::span<const report::Row> rows) {
  OrderedJson records = OrderedJson::array();
  OrderedJson record = OrderedJson::object();
  auto close_record = [&]() {
    if (!record.empty()) records.push_back(std::move(record));
    record = OrderedJson::object();
  };
  for (const report::Row& row : rows) {
    if (row.record_break) {
      close_record();
      continue;
    }
    auto found = record.find(row.field);
    if (found == record.end()) {
      record[row.field] = row.info;
    } else {
      if (!found->is_array()) *found = OrderedJson::array({*found});
      found->push_back(row.info);
    }
  }
  close_record();
  items_->items.push_back(std::move(records));
}

std::size_t JsonDocument::size() const { return items_->items.size(); }

std::string JsonDocument::Render(bool as_array) const {
  // A single document is written where it stands: a large reply is never
  // copied to be printed.
  OrderedJson whole;
  if (as_array) {
    whole = OrderedJson::array();
    for (const OrderedJson& item : items_->items) whole.push_back(item);
  }
  const OrderedJson* shown = &whole;
  if (!as_array && !items_->items.empty()) shown = &items_->items.front();
  if (shown->is_null()) return {};
  try {
    std::string text = shown->dump(2, ' ', false, OrderedJson::error_handler_t::replace);
    text += '\n';
    return text;
  } catch (const OrderedJson::exception&) {
    return {};
  }
}

ServiceErrorText ReadServiceError(std::string_view body) {
  ServiceErrorText text;
  if (core::JsonNestsDeeperThan(body)) return text;
  const OrderedJson parsed = OrderedJson::parse(body, nullptr, false);
  if (parsed.is_object()) {
    auto field = [&parsed](const char* name) {
      const auto found = parsed.find(name);
      return found == parsed.end() ? std::string() : Scalar(*found);
    };
    text.code = field("Code");
    text.message = field("Message");
    text.request_id = field("RequestId");
    text.recommend = field("Recommend");
    return text;
  }
  text.code = XmlValue(body, "Code");
  text.message = XmlValue(body, "Message");
  text.request_id = XmlValue(body, "RequestId");
  text.recommend = XmlValue(body, "Recommend");
  return text;
}

std::vector<report::Row> JsonLeafRows(std::string_view body) {
  std::vector<report::Row> rows;
  if (core::JsonNestsDeeperThan(body)) return rows;
  const OrderedJson parsed = OrderedJson::parse(body, nullptr, false);
  if (!parsed.is_discarded()) CollectLeaves(parsed, {}, rows);
  return rows;
}

}  // namespace kestrune::cli
