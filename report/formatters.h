// Presentation of a good ECS reply: which formatter a (category, action)
// choice selects, and the formatters that show the reply's fields as rows.
//
// Every formatter shows `RequestId` first, then its head rows, then one pass
// per record (each pass starting with a separator row), and one more
// separator when the records end. Rows go to the top of the extractor's
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

#include "report/extractor.h"

namespace kestrune::report {

enum class Formatter {
  kNone,
  kInstanceTypes,
  kInstanceTypeFamilies,
  kTasks,
  kTaskAttribute,
  kInstanceStatus,
  kInstances,
  kVncUrl,
  kUserData,
  kRegions,
  kZones,
};

// The selector rules for ECS categories (both numbers 1-based):
//   1:  8 InstanceStatus, 9 Instances, 10-13 VncUrl, 15-17 UserData,
//       1-7 and 14 none;
//   11 and 24: 1 Regions, 2 Zones;
//   16: 1 and 5 InstanceTypes, 2 InstanceTypeFamilies, 3 Tasks,
//       4 TaskAttribute;
//   every other category or action: none.
Formatter SelectFormatter(std::uint32_t category, std::uint32_t action);

// Shows `reply` (the raw reply text) with one formatter; kNone shows nothing.
void RunFormatter(Formatter formatter, std::string_view reply, Extractor& extractor);

struct FormatOutcome {
  // What the report text must hold afterwards: the action line when a
  // formatter ran, else empty (nothing was formatted, no row was added).
  std::string result_text;
  bool formatted = false;
};

// Formats a good reply (one without "<Error>") of ECS `category`/`action`,
// whose request carried `action_line` ("Action=" + action name).
FormatOutcome FormatReply(std::uint32_t category, std::uint32_t action,
                          std::string_view action_line, std::string_view reply,
                          Extractor& extractor);

}  // namespace kestrune::report
