#include "report/formatters.h"

#include <initializer_list>
#include <optional>

namespace kestrune::report {
namespace {

using Names = std::initializer_list<std::string_view>;

void ShowFields(Extractor& x, std::string_view text, Names names) {
  for (std::string_view name : names) x.ShowElement(name, text, name);
}

// Head rows are searched in the whole reply, before any record step.
void ShowHead(Extractor& x, std::string_view reply, Names head) {
  x.ShowElement("RequestId", reply, "RequestId");
  if (head.size() == 0) return;
  x.AddRecordBreak();
  ShowFields(x, reply, head);
}

// The cursor walk: each pass shows `fields` from the cursor and then moves the
// cursor to the closing tag of the next `step` element; the pass in which the
// step element is missing is the last.
// Every search of the walk goes through one ElementSearch, so a field
// missing from the later records costs one search, not one per pass.
void WalkByStep(Extractor& x, std::string_view reply, Names fields, std::string_view step) {
  ElementSearch search(reply);
  std::size_t cursor = 0;
  for (;;) {
    x.AddRecordBreak();
    for (std::string_view name : fields) x.ShowElement(name, search, name, cursor);
    const std::optional<std::string_view> found = search.Find(step, cursor);
    if (!found) return;
    cursor = search.EndOf(*found);
  }
}

// Finds the next `name` record at or behind `cursor`: stores its inner text in
// `record` and moves the cursor to its closing tag.
bool NextRecord(Extractor& x, std::string_view reply, std::size_t& cursor, std::string_view name,
                std::string_view& record) {
  std::string_view rest = reply.substr(cursor);
  std::uint32_t end = x.SeekElement(rest, name);
  if (end == kElementAbsent) return false;
  std::size_t length = x.value().size();
  record = rest.substr(end - length, length);
  cursor += end;
  return true;
}

void FormatRegions(Extractor& x, std::string_view reply) {
  ShowHead(x, reply, {});
  WalkByStep(x, reply, {"RegionId", "LocalName"}, "Region");
}

void FormatZones(Extractor& x, std::string_view reply) {
  ShowHead(x, reply, {});
  ElementSearch search(reply);
  std::size_t cursor = 0;
  for (;;) {
    x.AddRecordBreak();
    x.ShowElement("ZoneId", search, "ZoneId", cursor);
    std::uint32_t end = x.ShowElement("LocalName", search, "LocalName", cursor);
    if (end == kElementAbsent) return;
    cursor += end;
  }
}

void FormatInstanceStatus(Extractor& x, std::string_view reply) {
  ShowHead(x, reply, {"PageNumber", "TotalCount", "PageSize"});
  WalkByStep(x, reply, {"InstanceId", "Status"}, "InstanceStatus");
}

void FormatInstanceTypeFamilies(Extractor& x, std::string_view reply) {
  ShowHead(x, reply, {});
  WalkByStep(x, reply, {"InstanceTypeFamilyId", "Generation"}, "InstanceTypeFamily");
}

void FormatTasks(Extractor& x, std::string_view reply) {
  ShowHead(x, reply, {"PageNumber", "TotalCount", "PageSize", "RegionId"});
  WalkByStep(
      x, reply,
      {"CreationTime", "FinishedTime", "SupportCancel", "TaskAction", "TaskStatus", "TaskId"},
      "Task");
}

void FormatTaskAttribute(Extractor& x, std::string_view reply) {
  ShowHead(x, reply,
           {"TaskId", "TaskAction", "RegionId", "TaskStatus", "TaskProcess", "SupportCancel",
            "SuccessCount", "FailedCount", "CreationTime", "FinishedTime"});
}

void FormatVncUrl(Extractor& x, std::string_view reply) { ShowHead(x, reply, {"VncUrl"}); }

void FormatUserData(Extractor& x, std::string_view reply) {
  ShowHead(x, reply, {"UserData", "InstanceId", "RegionId"});
}

void FormatInstanceTypes(Extractor& x, std::string_view reply) {
  ShowHead(x, reply, {});
  std::size_t cursor = 0;
  std::string_view record;
  for (;;) {
    x.AddRecordBreak();
    if (!NextRecord(x, reply, cursor, "InstanceType", record)) return;
    ShowFields(x, record,
               {"InstanceTypeId", "InstanceTypeFamily", "GPUSpec", "MemorySize", "GPUAmount",
                "CpuCoreCount"});
  }
}

// One DescribeInstances record. The record's fields come in groups; a few
// steps move the pass's cursor past an element so that the repeated names
// (IpAddress three times, InternetChargeType twice) are taken from the part
// of the record that follows it.
void ShowInstanceRecord(Extractor& x, std::string_view record) {
  std::size_t cursor = 0;
  auto rest = [&] { return record.substr(cursor); };
  auto show = [&](Names names) { ShowFields(x, rest(), names); };
  auto move = [&](std::uint32_t end) {
    if (end != kElementAbsent) cursor += end;
  };

  show({"ImageId", "InstanceTypeFamily", "VlanId", "InstanceId"});
  x.AddRecordBreak();
  show({"IpAddress", "AllocationId", "InternetChargeType"});
  move(x.SeekElement(rest(), "EipAddress"));
  show({"InternetMaxBandwidthIn", "ZoneId", "InternetChargeType", "SpotStrategy", "SerialNumber",
        "IoOptimized", "Memory"});
  move(x.ShowElement("Cpu", rest(), "Cpu"));
  x.AddRecordBreak();
  show({"NatIpAddress", "IpAddress", "VSwitchId", "VpcId"});
  move(x.SeekElement(rest(), "VpcAttributes"));
  x.AddRecordBreak();
  show({"InternetMaxBandwidthOut", "DeviceAvailable", "SecurityGroupId", "AutoReleaseTime",
        "InstanceName", "Description"});
  move(x.ShowElement("InstanceNetworkType", rest(), "InstanceNetworkType"));
  x.AddRecordBreak();
  show({"IpAddress"});
  x.AddRecordBreak();
  show({"HostName", "InstanceType", "CreationTime", "Status", "ClusterId", "RegionId", "GPUSpec",
        "InstanceChargeType", "GPUAmount", "ExpiredTime"});
}

void FormatInstances(Extractor& x, std::string_view reply) {
  ShowHead(x, reply, {"PageNumber", "TotalCount", "PageSize"});
  std::size_t cursor = 0;
  std::string_view record;
  for (;;) {
    x.AddRecordBreak();
    if (!NextRecord(x, reply, cursor, "Instance", record)) return;
    ShowInstanceRecord(x, record);
  }
}

}  // namespace

void RunFormatter(Formatter formatter, std::string_view reply, Extractor& extractor) {
  switch (formatter) {
    case Formatter::kNone:
      return;
    case Formatter::kInstanceTypes:
      return FormatInstanceTypes(extractor, reply);
    case Formatter::kInstanceTypeFamilies:
      return FormatInstanceTypeFamilies(extractor, reply);
    case Formatter::kTasks:
      return FormatTasks(extractor, reply);
    case Formatter::kTaskAttribute:
      return FormatTaskAttribute(extractor, reply);
    case Formatter::kInstanceStatus:
      return FormatInstanceStatus(extractor, reply);
    case Formatter::kInstances:
      return FormatInstances(extractor, reply);
    case Formatter::kVncUrl:
      return FormatVncUrl(extractor, reply);
    case Formatter::kUserData:
      return FormatUserData(extractor, reply);
    case Formatter::kRegions:
      return FormatRegions(extractor, reply);
    case Formatter::kZones:
      return FormatZones(extractor, reply);
  }
}

FormatOutcome FormatReply(Formatter formatter, std::string_view action_line, std::string_view reply,
                          Extractor& extractor) {
  FormatOutcome outcome;
  if (formatter == Formatter::kNone) return outcome;
  outcome.result_text = std::string(action_line);
  outcome.formatted = true;
  RunFormatter(formatter, reply, extractor);
  return outcome;
}

}  // namespace kestrune::report
