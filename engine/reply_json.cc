// The JSON form of replies, read with nlohmann-json. Parsing never throws
// (a malformed text becomes a discarded value); every other use checks the
// type first, and the catch blocks are the last guard that keeps a library
// exception inside this file.
#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "core/json_depth.h"
#include "core/spool.h"
#include "core/utf8.h"
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

// The end of the JSON string that starts at `at` (its opening quote), past
// its closing quote; npos when it never closes.
std::size_t StringEnd(std::string_view text, std::size_t at) {
  for (std::size_t i = at + 1; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

// The end of the JSON value that starts at `at`; npos when it is cut off.
std::size_t ValueEnd(std::string_view text, std::size_t at) {
  if (at >= text.size()) return std::string_view::npos;
  if (text[at] == '"') return StringEnd(text, at);
  if (text[at] != '{' && text[at] != '[') {
    const std::size_t end = text.find_first_of(",}] \t\r\n", at);
    return end == std::string_view::npos ? text.size() : end;
  }
  std::size_t depth = 0;
  for (std::size_t i = at; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == '"') {
      i = StringEnd(text, i);
      if (i == std::string_view::npos) return i;
      --i;
    } else if (ch == '{' || ch == '[') {
      ++depth;
    } else if ((ch == '}' || ch == ']') && --depth == 0) {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

std::size_t SkipSpace(std::string_view text, std::size_t at) {
  while (at < text.size() &&
         (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) {
    ++at;
  }
  return at;
}

// A value's text parsed. A long string without escapes or control
// characters is taken as it stands, once it is known to be UTF-8: the parser
// would hold two more copies of it while reading it.
Json ParseValue(std::string_view text) {
  constexpr std::size_t kLongString = std::size_t{1} << 16;
  if (text.size() >= kLongString && text.front() == '"' && text.back() == '"') {
    const std::string_view inner = text.substr(1, text.size() - 2);
    bool plain = true;
    for (std::size_t i = 0; i < inner.size() && plain;) {
      const auto byte = static_cast<unsigned char>(inner[i]);
      if (byte < 0x80) {
        plain = byte >= 0x20 && byte != '"' && byte != '\\';
        ++i;
      } else {
        char32_t code_point = 0;
        const std::size_t length = core::DecodeUtf8(inner.substr(i), code_point);
        plain = length > 0;
        i += length;
      }
    }
    if (plain) return Json(std::string(inner));
  }
  return Json::parse(text, nullptr, false);
}

// A page read member by member, keeping the members `wanted` takes: a large
// member is stepped over without being copied when it is not wanted, and
// parsed with no more than one copy when it is. A page whose outline cannot
// be followed so is parsed whole.
template <class Wanted>
Json ParseMembers(std::string_view text, const Wanted& wanted) {
  if (core::JsonNestsDeeperThan(text)) return Json(Json::value_t::discarded);
  // The parser reads a NUL as the end of its text: in a member's text alone
  // it would cut the member short where the whole page is malformed.
  if (text.find('\0') != std::string_view::npos) return Json::parse(text, nullptr, false);
  Json page = Json::object();
  std::size_t at = SkipSpace(text, 0);
  bool outlined = at < text.size() && text[at] == '{';
  at = SkipSpace(text, at + 1);
  if (outlined && at < text.size() && text[at] == '}') {
    if (SkipSpace(text, at + 1) == text.size()) return page;
    outlined = false;
  }
  while (outlined && at < text.size()) {
    const std::size_t key_end = text[at] == '"' ? StringEnd(text, at) : std::string_view::npos;
    if (key_end == std::string_view::npos) break;
    const Json key = Json::parse(text.substr(at, key_end - at), nullptr, false);
    at = SkipSpace(text, key_end);
    if (!key.is_string() || at >= text.size() || text[at] != ':') break;
    at = SkipSpace(text, at + 1);
    const std::size_t value_end = ValueEnd(text, at);
    if (value_end == std::string_view::npos) break;
    const auto& name = key.get_ref<const std::string&>();
    if (wanted(name)) {
      Json value = ParseValue(text.substr(at, value_end - at));
      if (value.is_discarded()) break;
      page[name] = std::move(value);
    }
    at = SkipSpace(text, value_end);
    if (at < text.size() && text[at] == ',') {
      at = SkipSpace(text, at + 1);
    } else if (at < text.size() && text[at] == '}' && SkipSpace(text, at + 1) == text.size()) {
      return page;
    } else {
      break;
    }
  }
  return Json::parse(text, nullptr, false);
}

// A later page, of which the walk needs only the records and a few facts.
Json ParseRecordsOf(std::string_view text, const std::string& list_element) {
  return ParseMembers(text, [&list_element](const std::string& name) {
    return name == list_element || name == "NextToken" || name == "TotalCount" ||
           name == "PageSize";
  });
}

// A first page, whole.
Json ParseFirstPage(std::string_view text) {
  return ParseMembers(text, [](const std::string&) { return true; });
}

// A random string no reply holds: where it stands in a dump, the records go.
std::string Marker() {
  std::string marker = "kestrune-records-";
  std::random_device random;
  for (int k = 0; k < 4; ++k) marker += std::to_string(random());
  return marker;
}

// The text between the ends of a record array as a two-space indented dump
// shows it, the records' own lines `indent` spaces in.
void AppendIndented(const Json& record, std::size_t indent, std::string& text) {
  const std::string dumped = record.dump(2, ' ', false, Json::error_handler_t::replace);
  text.append(indent, ' ');
  // A dump holds line ends only between its own lines: a string's are
  // escaped.
  std::size_t from = 0;
  for (std::size_t at = dumped.find('\n'); at != std::string::npos; at = dumped.find('\n', from)) {
    text.append(dumped, from, at + 1 - from);
    text.append(indent, ' ');
    from = at + 1;
  }
  text.append(dumped, from);
}

// A dump written out as it is made, in pieces, with `splice` called where
// the marker stands instead of the marker: so the document is never whole
// in memory, and a first page's large value is not copied to be printed.
class SplicingOutput final : public nlohmann::detail::output_adapter_protocol<char> {
 public:
  SplicingOutput(std::string_view marker, std::function<void()> splice,
                 const std::function<void(std::string_view)>& out)
      : marker_(marker), splice_(std::move(splice)), out_(out) {}

  void write_character(char c) override {
    buffer_ += c;
    if (buffer_.size() >= kPiece) Pass(false);
  }
  void write_characters(const char* s, std::size_t length) override {
    buffer_.append(s, length);
    if (buffer_.size() >= kPiece) Pass(false);
  }
  // Everything not yet passed on; false when the marker never came.
  bool Finish() {
    Pass(true);
    return spliced_;
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 16;

  void Pass(bool all) {
    if (!spliced_) {
      const std::size_t at = buffer_.find(marker_);
      if (at != std::string::npos) {
        out_(std::string_view(buffer_).substr(0, at));
        splice_();
        buffer_.erase(0, at + marker_.size());
        spliced_ = true;
      }
    }
    // Until the marker has come, its first part may be at the end.
    const std::size_t keep = all || spliced_ ? 0 : std::min(buffer_.size(), marker_.size() - 1);
    out_(std::string_view(buffer_).substr(0, buffer_.size() - keep));
    buffer_.erase(0, buffer_.size() - keep);
  }

  std::string marker_;
  std::function<void()> splice_;
  const std::function<void(std::string_view)>& out_;
  std::string buffer_;
  bool spliced_ = false;
};

}  // namespace

struct JsonWalk::State {
  std::string list_element;
  bool first = true;
  Json frame;  // the first page, its record array emptied
  std::string received;
  std::size_t count = 0;
  std::size_t compact_bytes = 0;  // the records joined as compact text
  std::size_t indent = 0;         // of the records' lines in the document
  core::Spool records;
};

JsonWalk::JsonWalk(std::string_view list_element) : state_(std::make_unique<State>()) {
  state_->list_element = std::string(list_element);
}
JsonWalk::~JsonWalk() = default;

bool JsonWalk::joined() const { return state_->frame.is_object(); }

PageFacts JsonWalk::Add(std::string body, std::size_t limit) {
  State& s = *state_;
  PageFacts facts;
  try {
    const bool first = s.first;
    s.first = false;
    Json page = first ? ParseFirstPage(body) : ParseRecordsOf(body, s.list_element);
    if (first && !page.is_object()) {
      s.received = std::move(body);
    } else {
      std::string().swap(body);
    }
    Json* records = RecordArray(page, s.list_element);
    facts.records = records != nullptr ? records->size() : 0;
    facts.next_token = ScalarText(page, "NextToken");
    facts.total_count = ScalarText(page, "TotalCount");
    facts.page_size = ScalarText(page, "PageSize");
    if (records == nullptr || (!first && RecordArray(s.frame, s.list_element) == nullptr)) {
      if (first && page.is_object()) s.frame = std::move(page);
      return facts;
    }
    // As a joined compact text would count them: commas between records.
    std::size_t added = 0;
    for (const Json& record : *records) {
      if (added > 0) ++added;
      added += record.dump(-1, ' ', false, Json::error_handler_t::replace).size();
    }
    if (!first) {
      if (added + 1 > limit || s.compact_bytes > limit - added - 1) {
        facts.over_limit = true;
        return facts;
      }
      if (s.compact_bytes > 0 && added > 0) ++s.compact_bytes;
    }
    s.compact_bytes += added;
    if (first) {
      // The list is a member of the document (two spaces in, its records
      // four) or of an object there (four, its records six).
      s.indent = page.find(s.list_element)->is_array() ? 4 : 6;
    }
    std::string text;
    for (const Json& record : *records) {
      text += s.count == 0 ? "[\n" : ",\n";
      AppendIndented(record, s.indent, text);
      ++s.count;
    }
    s.records.Append(text);
    if (first) {
      *records = Json::array();
      s.frame = std::move(page);
    }
  } catch (const Json::exception&) {
    // Not reached with the checks above; the page then adds nothing.
  }
  return facts;
}

std::string JsonWalk::Finish(std::string_view last_next_token) {
  State& s = *state_;
  if (!s.frame.is_object()) return std::move(s.received);
  try {
    for (const char* name : {"PageSize", "MaxResults"}) {
      const auto field = s.frame.find(name);
      if (field == s.frame.end()) continue;
      *field = field->is_string() ? Json(std::to_string(s.count)) : Json(s.count);
    }
    if (const auto token = s.frame.find("NextToken"); token != s.frame.end()) {
      *token = std::string(last_next_token);
    }
  } catch (const Json::exception&) {
  }
  return {};
}

bool JsonWalk::Write(std::span<const std::string> notes, std::optional<WalkBreak> partial,
                     const std::function<void(std::string_view)>& out) {
  State& s = *state_;
  if (!s.frame.is_object()) return true;
  bool whole = true;
  try {
    if (!notes.empty()) {
      Json listed = Json::array();
      for (const std::string& note : notes) listed.push_back(note);
      s.frame["KestruneNotes"] = std::move(listed);
    }
    if (partial) {
      Json walk = Json::object();
      walk["failedPage"] = partial->failed_page;
      walk["records"] = partial->records;
      s.frame["KestrunePartial"] = std::move(walk);
    }
    Json* records = RecordArray(s.frame, s.list_element);
    if (records == nullptr) {
      std::string text = s.frame.dump(2, ' ', false, Json::error_handler_t::replace);
      text += '\n';
      out(text);
      return true;
    }
    const std::string marker = Marker();
    *records = marker;
    const auto splice = [&] {
      if (s.count == 0) {
        out("[]");
        return;
      }
      whole = s.records.CopyTo(out);
      std::string close = "\n";
      close.append(s.indent - 2, ' ');
      close += ']';
      out(close);
    };
    auto output = std::make_shared<SplicingOutput>('"' + marker + '"', splice, out);
    nlohmann::detail::serializer<Json> dump(output, ' ', Json::error_handler_t::replace);
    dump.dump(s.frame, true, false, 2);
    if (!output->Finish()) whole = false;
    out("\n");
    *records = Json::array();
  } catch (const Json::exception&) {
    return false;
  }
  return whole;
}

namespace {

// The engine's side of a JsonWalk: a join whose document the caller writes.
class JsonWalkJoin final : public PageJoin {
 public:
  explicit JsonWalkJoin(JsonWalk& walk) : walk_(walk) {}
  PageFacts Add(std::string body, std::size_t limit) override {
    return walk_.Add(std::move(body), limit);
  }
  std::string Finish(std::string_view last_next_token) override {
    return walk_.Finish(last_next_token);
  }

 private:
  JsonWalk& walk_;
};

}  // namespace

std::unique_ptr<PageJoin> MakeJsonWalkJoin(JsonWalk& walk) {
  return std::make_unique<JsonWalkJoin>(walk);
}

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
