// `kestrune sample ACTION [ACTION ...]`: the built-in sample responses, one
// SampleState for the whole call, so a stop followed by a status shows the
// stopped instance.
#include <string>

#include "cli/app.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "core/ascii.h"
#include "report/display_text.h"
#include "report/samples.h"

namespace kestrune::cli {
namespace {

std::string SampleNames() {
  std::string names;
  for (const report::NamedSampleAction& named : report::SampleActions()) {
    if (!names.empty()) names += ", ";
    names += named.name;
  }
  return names;
}

std::optional<report::SampleAction> FindSample(std::string_view name) {
  for (const report::NamedSampleAction& named : report::SampleActions()) {
    if (core::EqualsIgnoreCase(named.name, name)) return named.action;
  }
  return std::nullopt;
}

}  // namespace

int RunSample(const CommandLine& line, Console& console) {
  if (line.operands.empty()) {
    return UsageError(console, "sample needs an action: " + SampleNames());
  }
  std::vector<report::SampleAction> actions;
  for (const std::string& name : line.operands) {
    std::optional<report::SampleAction> action = FindSample(name);
    if (!action) {
      std::vector<std::string_view> accepted;
      for (const report::NamedSampleAction& named : report::SampleActions()) {
        accepted.push_back(named.name);
      }
      return UsageError(console, UnknownWord("sample action", name, accepted));
    }
    actions.push_back(*action);
  }
  report::SampleState state;
  if (line.region) {
    const core::StringListView regions = catalogue::Regions();
    bool found = false;
    for (std::size_t i = 0; i < regions.Count() && !found; ++i) {
      if (regions.Entry(i + 1) == *line.region) {
        state.SelectRegionPosition(static_cast<std::uint32_t>(i));
        found = true;
      }
    }
    if (!found) {
      std::string accepted;
      for (std::size_t i = 1; i <= regions.Count(); ++i) {
        accepted += (i > 1 ? ", " : "") + std::string(regions.Entry(i));
      }
      return UsageError(console, "no sample region \"" + EscapeLine(*line.region) +
                                     "\" (accepted: " + accepted + ")");
    }
  }
  const OutputFormat format = ResolveFormat(line.format, console.OutputIsTerminal());
  // Rows stay UTF-8 inside; ForDisplay converts the whole text at the end.
  const report::DisplayText utf8(report::DisplayEncoding::kUtf8);
  report::RecordingResultList list;
  std::string out;
  JsonDocument json;
  for (std::size_t i = 0; i < actions.size(); ++i) {
    report::ShowSample(actions[i], state, list, utf8);
    if (format == OutputFormat::kJson) {
      json.AddRows(list.produced());
      continue;
    }
    if (format == OutputFormat::kTable && actions.size() > 1) {
      if (i > 0) out += '\n';
      out += "== " + std::string(report::SampleActionName(actions[i])) + " ==\n";
    }
    // Tab-separated: an empty line keeps one action's last record apart from
    // the next action's first.
    if (format == OutputFormat::kTsv && i > 0) out += '\n';
    out += RenderRows(format, list.produced(), {}, {});
  }
  // Several actions are several replies: one array of them.
  if (format == OutputFormat::kJson) out = json.Render(actions.size() > 1);
  console.Out(ForDisplay(console, format, std::move(out)));
  return kExitOk;
}

}  // namespace kestrune::cli
