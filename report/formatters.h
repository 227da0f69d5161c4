// Presentation of a good ECS reply: the formatters that show the reply's
// fields as rows, one per reply shape.
//
// Every formatter shows `RequestId` first, then its head rows, then one pass
// per record (each pass starting with a record break), and one more
// break when the records end. Rows go to the top of the extractor's
// list, so on screen the last row produced stands first. Formatters never
// clear the list.
//
// Record walks keep a cursor into the reply: fields are the first occurrence
// at or behind the cursor, and a step moves the cursor to the closing tag of
// the step element. DescribeInstances and DescribeInstanceTypes replies are
// walked record by record instead, with every field of a pass taken from its
// own record, so each record is shown once and completely.
//
// Stateless; runs on the caller's extractor (not thread-safe).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/reply_shape.h"
#include "report/extractor.h"

namespace kestrune::report {

// The formatters, one per reply shape the catalogue names.
using Formatter = core::ReplyShape;

// Shows `reply` (the raw reply text) with one formatter; kNone shows nothing.
void RunFormatter(Formatter formatter, std::string_view reply, Extractor& extractor);

struct FormatOutcome {
  // What the report text must hold afterwards: the action line when a
  // formatter ran, else empty (nothing was formatted, no row was added).
  std::string result_text;
  bool formatted = false;
};

// Formats a good reply (one without "<Error>") of the shape its action's
// record names, whose request carried `action_line` ("Action=" + action name).
FormatOutcome FormatReply(Formatter formatter, std::string_view action_line, std::string_view reply,
                          Extractor& extractor);

}  // namespace kestrune::report
