// Element extraction and every formatter over arbitrary reply bytes.
//
// The first byte picks the display encoding (the GBK conversion runs through
// iconv and sees every shown value); the rest is the reply. Each input goes
// through every (category, action) choice the ECS selector knows, and through
// the leaf walk used for replies no formatter knows. Besides the sanitizers'
// checks, the rows must keep the promises of the extractor's contract.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/diagnosis.h"
#include "report/extractor.h"
#include "report/formatters.h"
#include "report/result_list.h"
#include "report/trace_sink.h"
#include "request/http_message.h"

namespace {

using kestrune::report::DisplayEncoding;
using kestrune::report::DisplayText;
using kestrune::report::Extractor;
using kestrune::report::FormatOutcome;
using kestrune::report::FormatReply;
using kestrune::report::Formatter;
using kestrune::report::RecordingResultList;
using kestrune::report::RecordingTraceSink;
using kestrune::report::ShowAllLeaves;

// Every formatter, kNone first.
constexpr auto kLastFormatter = static_cast<int>(Formatter::kZones);

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "contract broken: %s\n", what);
  std::abort();
}

void CheckRows(const RecordingResultList& list, std::size_t reply_size) {
  for (const auto& row : list.produced()) {
    if (row.record_break) {
      if (!row.field.empty() || !row.info.empty()) Fail("a record break with a text");
      continue;
    }
    if (row.field.empty()) Fail("a row without a field name");
    // A shown value is decoded from the reply, never longer than four times
    // its raw text (an entity or a byte of GBK input gives at most that).
    if (row.info.size() > 4 * reply_size + 16) Fail("a value longer than the reply could give");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const DisplayText display((data[0] & 1) != 0 ? DisplayEncoding::kGbk : DisplayEncoding::kUtf8);
  const std::string_view reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string action_line = "Action=FuzzedAction";

  for (int number = 0; number <= kLastFormatter; ++number) {
    const auto formatter = static_cast<Formatter>(number);
    RecordingResultList list;
    RecordingTraceSink trace;
    Extractor extractor(list, trace, display);
    const FormatOutcome outcome = FormatReply(formatter, action_line, reply, extractor);
    if (outcome.formatted && outcome.result_text != action_line) {
      Fail("a formatted reply whose report text is not the action line");
    }
    if (outcome.formatted != (formatter != Formatter::kNone)) {
      Fail("the outcome disagrees with the formatter");
    }
    if (!outcome.formatted && (!outcome.result_text.empty() || !list.produced().empty())) {
      Fail("rows or a report text from a choice without a formatter");
    }
    // Two trace lines for every shown row, none otherwise.
    const std::size_t separators =
        static_cast<std::size_t>(std::count_if(list.produced().begin(), list.produced().end(),
                                               [](const auto& row) { return row.record_break; }));
    if (trace.lines().size() != 2 * (list.produced().size() - separators)) {
      Fail("trace lines do not match the shown rows");
    }
    CheckRows(list, reply.size());
  }

  RecordingResultList list;
  RecordingTraceSink trace;
  Extractor extractor(list, trace, display);
  const std::size_t shown = ShowAllLeaves(reply, extractor);
  if (shown != list.produced().size()) Fail("the leaf walk miscounted its rows");
  CheckRows(list, reply.size());

  // The plain element search on names taken from the reply itself.
  std::string value;
  const std::uint32_t end = kestrune::report::CopyElementValue(reply, "RequestId", value);
  if (end != kestrune::report::kElementAbsent && end > reply.size()) {
    Fail("an end offset beyond the reply");
  }

  // A refused signature's message and a reply's Date header, as the service
  // would send them: any diagnosis names a parameter taken from one of the
  // two strings and always says something.
  constexpr std::string_view kOurs =
      "GET&%2F&AccessKeyId%3Did%26Action%3DDescribeRegions%26RegionId%3Dcn-hangzhou";
  const std::optional<std::string> message = kestrune::engine::ErrorElement(reply, "Message");
  const kestrune::engine::SignatureDiagnosis diagnosis =
      kestrune::engine::DiagnoseSignature(kOurs, message.value_or(std::string(reply)));
  if (diagnosis.notes.empty()) Fail("a diagnosis without a note");
  if (!diagnosis.parameter.empty() && kOurs.find(diagnosis.parameter) == std::string_view::npos &&
      reply.find(diagnosis.parameter) == std::string_view::npos &&
      (!message || message->find(diagnosis.parameter) == std::string::npos)) {
    Fail("a diagnosis names a parameter found in neither string");
  }
  if (const auto head = kestrune::request::ParseHttpHead(reply)) {
    (void)kestrune::engine::ClockOffset(*head, std::chrono::system_clock::time_point());
  }
  return 0;
}
