#include "cli/command_line.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "cli/output.h"
#include "cli/wait.h"
#include "core/closest.h"
#include "core/utf8.h"
#include "request/endpoint.h"
#include "transport/proxy.h"

namespace kestrune::cli {
namespace {

core::Status Error(std::string message) { return core::Status::InvalidInput(std::move(message)); }

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += EscapeLine(text);  // a message stays on one line
  quoted += '"';
  return quoted;
}

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// " (accepted: a, b, c)" and, when `given` looks like a slip, "; did you mean
// b?".
std::string AcceptedAndClosest(std::string_view given, std::span<const std::string_view> words) {
  std::string text = " (accepted: ";
  std::vector<std::string> spelled;
  for (std::string_view word : words) {
    if (!spelled.empty()) text += ", ";
    spelled.emplace_back(word);
    text += spelled.back();
  }
  text += ")";
  std::vector<std::string_view> candidates(spelled.begin(), spelled.end());
  const std::vector<std::string> closest = core::ClosestWords(given, candidates);
  if (!closest.empty()) text += "; did you mean " + core::JoinAlternatives(closest) + "?";
  return text;
}

std::vector<std::string_view> SubcommandNames() {
  std::vector<std::string_view> names;
  for (const SubcommandEntry& entry : Subcommands()) names.push_back(entry.name);
  return names;
}

// "unknown option "--formt" (see kestrune --help); did you mean --format?"
std::string UnknownOption(std::string_view typed) {
  std::string text = "unknown option " + Quoted(typed) + " (see kestrune --help)";
  std::vector<std::string> spelled;
  spelled.reserve(Options().size());
  for (const OptionEntry& entry : Options()) spelled.push_back("--" + std::string(entry.name));
  std::vector<std::string_view> candidates(spelled.begin(), spelled.end());
  const std::vector<std::string> closest = core::ClosestWords(typed, candidates);
  if (!closest.empty()) text += "; did you mean " + core::JoinAlternatives(closest) + "?";
  return text;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t code_point = 0;
    const std::size_t length = core::DecodeUtf8(text.substr(pos), code_point);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

// Names an argument by its place (1 is the first after the program's name)
// and, for an option's value, the option; the bytes themselves are never
// repeated, as a terminal could take them for commands.
core::Status NotUtf8(std::size_t index, std::string_view option = {}) {
  std::string text = "argument " + std::to_string(index + 1);
  if (!option.empty()) text += " (the value of --" + std::string(option) + ")";
  return Error(text + " is not valid UTF-8; give text in UTF-8");
}

core::Status ApplyOption(const OptionEntry& definition, std::string_view value, CommandLine& line) {
  switch (definition.option) {
    case Option::kEndpoint: {
      core::Status checked = CheckEndpoint(value);
      if (!checked.ok()) return checked;
      line.endpoint = std::string(value);
      break;
    }
    case Option::kEndpointType:
      line.endpoint_type = catalogue::ParseEndpointType(value);
      if (!line.endpoint_type) {
        return Error("unknown endpoint type " + Quoted(value) +
                     AcceptedAndClosest(value, ChoicesOf(definition)));
      }
      break;
    case Option::kSignature:
      line.signature = request::ParseSignatureVersion(value);
      if (!line.signature) {
        return Error("unknown signature version " + Quoted(value) +
                     AcceptedAndClosest(value, ChoicesOf(definition)));
      }
      break;
    case Option::kTls:
      line.tls = true;
      break;
    case Option::kProxy:
      if (!value.empty()) {
        // The refusal never quotes the URL: it may hold the proxy's password.
        core::Result<transport::ProxyServer> proxy = transport::ParseProxyUrl(value);
        if (!proxy.ok()) return Error("--proxy: " + proxy.status().message());
      }
      line.proxy = std::string(value);
      break;
    case Option::kCaFile:
      if (value.empty()) return Error("--ca-file needs the path of a PEM file");
      line.ca_file = std::string(value);
      break;
    case Option::kRegion:
      if (value.empty()) return Error("--region needs a region id, for example cn-shanghai");
      // The region chooses the host: refused here, before anything is sent.
      if (core::Status checked = catalogue::CheckRegionId(value); !checked.ok()) {
        return Error("--region: " + EscapeLine(checked.message()));
      }
      line.region = std::string(value);
      break;
    case Option::kRegions:
      if (value.empty()) return Error("--regions needs all or a list of region ids ID,ID,...");
      line.regions = std::string(value);
      break;
    case Option::kParallel: {
      int count = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || count > kMaxParallel) {
          count = kMaxParallel + 1;
          break;
        }
        count = count * 10 + (c - '0');
      }
      if (value.empty() || count < 1 || count > kMaxParallel) {
        return Error("--parallel needs a number of calls at once from 1 to " +
                     std::to_string(kMaxParallel) + ", not " + Quoted(value));
      }
      line.parallel = count;
      break;
    }
    case Option::kMaxBytes: {
      // Bytes, or with a K, M or G suffix (powers of 1024).
      std::uint64_t bytes = 0;
      std::size_t digits = 0;
      while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9' &&
             bytes <= kMaxMaxBytes) {
        bytes = bytes * 10 + static_cast<std::uint64_t>(value[digits++] - '0');
      }
      const std::string_view suffix = value.substr(digits);
      const int shift = suffix.empty()  ? 0
                        : suffix == "K" ? 10
                        : suffix == "M" ? 20
                        : suffix == "G" ? 30
                                        : -1;
      if (digits == 0 || shift < 0 || bytes == 0 || bytes > (kMaxMaxBytes >> shift)) {
        return Error("--max-bytes needs a size from 1 to 64G (bytes, or with K, M or G), not " +
                     Quoted(value));
      }
      line.max_bytes = bytes << shift;
      break;
    }
    case Option::kProfile:
      if (value.empty()) return Error("--profile needs a profile name of ~/.aliyun/config.json");
      line.profile = std::string(value);
      break;
    case Option::kMode:
      if (value.empty()) return Error("--mode needs a profile mode such as AK or RamRoleArn");
      line.mode = std::string(value);
      break;
    case Option::kFormat:
      if (value == "table") {
        line.format = OutputFormat::kTable;
      } else if (value == "tsv") {
        line.format = OutputFormat::kTsv;
      } else if (value == "json") {
        line.format = OutputFormat::kJson;
      } else {
        return Error("unknown format " + Quoted(value) +
                     AcceptedAndClosest(value, ChoicesOf(definition)));
      }
      break;
    case Option::kTimeout: {
      core::Result<std::chrono::milliseconds> timeout = ParseTimeout(value);
      if (!timeout.ok()) return timeout.status();
      line.timeout = *timeout;
      break;
    }
    case Option::kConnectTimeout:
    case Option::kReadTimeout: {
      core::Result<std::chrono::milliseconds> timeout = ParseTimeout(value);
      if (!timeout.ok()) return timeout.status();
      (definition.option == Option::kConnectTimeout ? line.connect_timeout : line.read_timeout) =
          *timeout;
      break;
    }
    case Option::kRetries: {
      int count = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || count > kMaxRetries) {
          count = kMaxRetries + 1;
          break;
        }
        count = count * 10 + (c - '0');
      }
      if (value.empty() || count > kMaxRetries) {
        return Error("--retries needs a number of retries from 0 (none) to " +
                     std::to_string(kMaxRetries) + ", not " + Quoted(value));
      }
      line.retries = count;
      break;
    }
    case Option::kWaitFor:
    case Option::kWaitFail: {
      // Checked for form here; the reply tells whether the field is there.
      const bool fail = definition.option == Option::kWaitFail;
      const core::Status form = fail ? ParseWaitValues("--wait-fail", value).status()
                                     : ParseWaitCondition(value, std::nullopt).status();
      if (!form.ok()) return form;
      (fail ? line.wait_fail : line.wait_for) = std::string(value);
      break;
    }
    case Option::kWaitInterval:
    case Option::kWaitTimeout: {
      core::Result<std::chrono::milliseconds> seconds = ParseTimeout(value);
      if (!seconds.ok()) {
        return Error("--" + std::string(definition.name) + ": " + seconds.status().message());
      }
      (definition.option == Option::kWaitInterval ? line.wait_interval : line.wait_timeout) =
          *seconds;
      break;
    }
    case Option::kRaw:
      line.raw = true;
      break;
    case Option::kDryRun:
      line.dry_run = true;
      break;
    case Option::kForce:
      line.force = true;
      break;
    case Option::kAllPages:
      line.all_pages = true;
      break;
    case Option::kAllFields:
      line.all_fields = true;
      break;
    case Option::kMethod:
      if (value != "GET" && value != "POST") {
        return Error("unknown method " + Quoted(value) +
                     AcceptedAndClosest(value, ChoicesOf(definition)));
      }
      line.method = std::string(value);
      break;
    case Option::kDebug:
      line.debug = true;
      break;
    case Option::kTrace:
      line.trace = true;
      break;
    case Option::kHelp:
      line.help = true;
      break;
    case Option::kVersion:
      line.version = true;
      break;
    case Option::kNames:
      line.names = true;
      break;
  }
  return core::Status::Ok();
}

// An option given to a subcommand that does not take it is refused, so a
// mistyped command never runs with an option silently ignored; so are
// options that only make sense with another, or that contradict one.
core::Status CheckApplicable(const CommandLine& line, std::span<const char> given) {
  if (line.help || line.version) return core::Status::Ok();
  for (const OptionEntry& entry : Options()) {
    if (given[static_cast<std::size_t>(entry.option)] != 0 && !AppliesTo(entry, line.subcommand)) {
      return Error(NotApplicable(entry, line.subcommand));
    }
  }
  // Both print something other than rows, so the choice of rows would be
  // silently lost.
  if (line.all_fields && (line.raw || line.dry_run)) {
    return Error(std::string("--all-fields cannot be combined with ") +
                 (line.raw ? "--raw" : "--dry-run"));
  }
  if (line.parallel && !line.regions) return Error("--parallel applies to --regions only");
  if (line.max_bytes && !line.all_pages) return Error("--max-bytes applies to --all-pages only");
  if (line.regions && (line.region || line.raw || line.dry_run)) {
    return Error(std::string("--regions cannot be combined with ") + (line.region ? "--region"
                                                                      : line.raw  ? "--raw"
                                                                                  : "--dry-run"));
  }
  if (line.tls && line.endpoint) {
    return Error(
        "demo --tls starts a simulator of its own; for one already running give "
        "--endpoint https://HOST:PORT instead");
  }
  for (const auto& [present, name] : {std::pair{line.wait_fail.has_value(), "--wait-fail"},
                                      std::pair{line.wait_interval.has_value(), "--wait-interval"},
                                      std::pair{line.wait_timeout.has_value(), "--wait-timeout"}}) {
    if (present && !line.wait_for) return Error(std::string(name) + " applies to --wait-for only");
  }
  if (line.wait_for && (line.regions || line.all_pages || line.dry_run)) {
    return Error(std::string("--wait-for cannot be combined with ") + (line.regions ? "--regions"
                                                                       : line.all_pages
                                                                           ? "--all-pages"
                                                                           : "--dry-run"));
  }
  if (line.raw && line.dry_run) return Error("--raw and --dry-run cannot be combined");
  if ((line.raw || line.dry_run) && line.format != OutputFormat::kAuto) {
    return Error(std::string(line.raw ? "--raw" : "--dry-run") +
                 " prints the text as it stands; --format does not apply");
  }
  return core::Status::Ok();
}

}  // namespace

core::Result<CommandLine> ParseCommandLine(std::span<const std::string> arguments) {
  CommandLine line;
  std::vector<char> given(Options().size(), 0);
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (!IsValidUtf8(argument)) {
      // "--name=value": the option's name is readable, its value is not.
      const std::size_t equals = argument.find('=');
      const bool option_value = !options_ended && argument.starts_with("--") &&
                                equals != std::string_view::npos &&
                                IsValidUtf8(argument.substr(0, equals));
      return NotUtf8(i, option_value ? argument.substr(2, equals - 2) : std::string_view());
    }
    const bool is_option = !options_ended && argument.size() > 1 && argument[0] == '-';
    if (!is_option) {
      if (line.subcommand == Subcommand::kNone && line.operands.empty()) {
        for (const SubcommandEntry& entry : Subcommands()) {
          if (entry.name == argument) line.subcommand = entry.subcommand;
        }
        if (line.subcommand == Subcommand::kNone) {
          return Error("unknown subcommand " + Quoted(argument) +
                       AcceptedAndClosest(argument, SubcommandNames()));
        }
        continue;
      }
      line.operands.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    if (argument.size() == 2 && FindShortOption(argument[1]) != nullptr) {
      const OptionEntry& entry = *FindShortOption(argument[1]);
      given[static_cast<std::size_t>(entry.option)] = 1;
      core::Status applied = ApplyOption(entry, {}, line);
      if (!applied.ok()) return applied;
      continue;
    }
    if (argument.size() < 3 || argument[1] != '-') return Error(UnknownOption(argument));
    std::string_view name = argument.substr(2);
    std::optional<std::string_view> inline_value;
    if (std::size_t equals = name.find('='); equals != std::string_view::npos) {
      inline_value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    const OptionEntry* definition = FindOption(name);
    if (definition == nullptr) return Error(UnknownOption("--" + std::string(name)));
    std::string_view value;
    if (!definition->argument.empty()) {
      if (inline_value) {
        value = *inline_value;
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
        if (!IsValidUtf8(value)) return NotUtf8(i, name);
      } else {
        return Error("--" + EscapeLine(name) + " needs a value");
      }
    } else if (inline_value) {
      return Error("--" + EscapeLine(name) + " takes no value");
    }
    given[static_cast<std::size_t>(definition->option)] = 1;
    core::Status applied = ApplyOption(*definition, value, line);
    if (!applied.ok()) return applied;
  }
  core::Status applicable = CheckApplicable(line, given);
  if (!applicable.ok()) return applicable;
  return line;
}

core::Status CheckEndpoint(std::string_view endpoint) {
  core::Result<request::EndpointOverride> parsed = request::ParseEndpointOverride(endpoint);
  // An empty text has nothing to quote: its message stands alone.
  if (parsed.ok() || endpoint.empty()) return parsed.status();
  return Error("bad endpoint " + Quoted(endpoint) + ": " + parsed.status().message());
}

core::Result<std::chrono::milliseconds> ParseTimeout(std::string_view seconds) {
  const std::string bad =
      "bad time-out " + Quoted(seconds) + ": expected seconds such as 5 or 0.5, at most 86400";
  std::uint64_t whole = 0;
  std::uint64_t millis = 0;
  std::size_t i = 0;
  std::size_t whole_digits = 0;
  for (; i < seconds.size() && IsDigit(seconds[i]); ++i, ++whole_digits) {
    if (whole > 86400) return Error(bad);
    whole = whole * 10 + static_cast<std::uint64_t>(seconds[i] - '0');
  }
  if (i < seconds.size()) {
    if (seconds[i] != '.') return Error(bad);
    ++i;
    std::size_t fraction_digits = 0;
    for (; i < seconds.size() && IsDigit(seconds[i]); ++i, ++fraction_digits) {
      if (fraction_digits >= 3) return Error(bad);
      millis = millis * 10 + static_cast<std::uint64_t>(seconds[i] - '0');
    }
    if (i < seconds.size() || fraction_digits == 0) return Error(bad);
    for (; fraction_digits < 3; ++fraction_digits) millis *= 10;
  }
  if (whole_digits == 0) return Error(bad);
  const std::uint64_t total = whole * 1000 + millis;
  if (total == 0 || total > 86400ULL * 1000) return Error(bad);
  return std::chrono::milliseconds(static_cast<std::int64_t>(total));
}

}  // namespace kestrune::cli
