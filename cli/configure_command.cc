// `kestrune configure list|get|set|switch|delete`: the profiles of the vendor
// command line's ~/.aliyun/config.json, edited so that the vendor's tool
// still reads the file: every profile and field this program does not edit
// is written back with its value, the order of keys kept.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "catalogue/endpoints.h"
#include "cli/app.h"
#include "cli/commands.h"
#include "cli/home.h"
#include "cli/output.h"
#include "core/closest.h"
#include "core/json_depth.h"
#include "request/credential_files.h"
#include "request/signer_v3.h"
#include "request/small_file.h"

namespace kestrune::cli {
namespace {

// Keeps the file's order of keys, as a hand-edited file is read by people.
using Json = nlohmann::ordered_json;

// The modes a profile may be set to, one bit each.
enum ModeBit : unsigned {
  kAk = 1U << 0,
  kStsToken = 1U << 1,
  kRamRoleArn = 1U << 2,
  kChainable = 1U << 3,
  kEcsRamRole = 1U << 4,
  kOidc = 1U << 5,
  kCredentialsUri = 1U << 6,
  kExternal = 1U << 7,
};
constexpr unsigned kWithKey = kAk | kStsToken | kRamRoleArn;
constexpr unsigned kAssumesRole = kRamRoleArn | kChainable | kOidc;
constexpr unsigned kEveryMode = 0xFFU;

struct ModeName {
  std::string_view name;
  unsigned bit;
};
constexpr std::array<ModeName, 8> kModes = {{
    {"AK", kAk},
    {"StsToken", kStsToken},
    {"RamRoleArn", kRamRoleArn},
    {"ChainableRamRoleArn", kChainable},
    {"EcsRamRole", kEcsRamRole},
    {"OIDC", kOidc},
    {"CredentialsURI", kCredentialsUri},
    {"External", kExternal},
}};

// A field `set` writes: the modes that take it and the modes that cannot do
// without it. A secret is never printed and is read without echo when not
// given.
struct FieldRule {
  std::string_view name;
  unsigned takes;
  unsigned needs;
  bool secret;
};
// clang-format off
constexpr std::array<FieldRule, 20> kFields = {{
    {"access_key_id", kWithKey, kWithKey, false},
    {"access_key_secret", kWithKey, kWithKey, true},
    {"sts_token", kStsToken, kStsToken, true},
    {"ram_role_arn", kAssumesRole, kAssumesRole, false},
    {"ram_session_name", kAssumesRole, 0, false},
    {"expired_seconds", kAssumesRole, 0, false},
    {"policy", kAssumesRole, 0, false},
    {"external_id", kRamRoleArn | kChainable, 0, false},
    {"sts_region", kAssumesRole, 0, false},
    {"sts_endpoint", kAssumesRole, 0, false},
    {"source_profile", kChainable, kChainable, false},
    {"ram_role_name", kEcsRamRole, 0, false},
    {"oidc_provider_arn", kOidc, kOidc, false},
    {"oidc_token_file", kOidc, kOidc, false},
    {"credentials_uri", kCredentialsUri, kCredentialsUri, false},
    {"process_command", kExternal, kExternal, false},
    {"region_id", kEveryMode, 0, false},
    {"output_format", kEveryMode, 0, false},
    {"endpoint_type", kEveryMode, 0, false},
    {"signature_version", kEveryMode, 0, false},
}};
// clang-format on

// The role session lasts from 15 minutes to the longest a role may allow.
constexpr std::int64_t kShortestSession = 900;
constexpr std::int64_t kLongestSession = 43200;

const FieldRule* FindField(std::string_view name) {
  for (const FieldRule& rule : kFields) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

const ModeName* FindMode(std::string_view name) {
  for (const ModeName& mode : kModes) {
    if (mode.name == name) return &mode;
  }
  return nullptr;
}

// Fields of other modes of the vendor's tool (a key pair file's private key)
// hold secrets too.
bool IsSecret(std::string_view field) {
  if (const FieldRule* rule = FindField(field)) return rule->secret;
  return field.find("secret") != std::string_view::npos ||
         field.find("password") != std::string_view::npos ||
         field.find("private_key") != std::string_view::npos || field.ends_with("_token");
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  quoted += EscapeLine(text);
  quoted += '"';
  return quoted;
}

template <std::size_t N, typename Entry>
std::string Names(const std::array<Entry, N>& entries, unsigned mask = kEveryMode) {
  std::string names;
  for (const Entry& entry : entries) {
    if constexpr (std::is_same_v<Entry, FieldRule>) {
      if ((entry.takes & mask) == 0) continue;
    }
    if (!names.empty()) names += ", ";
    names += entry.name;
  }
  return names;
}

template <std::size_t N, typename Entry>
std::string ClosestOf(std::string_view given, const std::array<Entry, N>& entries) {
  std::vector<std::string_view> candidates;
  candidates.reserve(N);
  for (const Entry& entry : entries) candidates.push_back(entry.name);
  const std::vector<std::string> closest = core::ClosestWords(given, candidates);
  if (closest.empty()) return {};
  return "; did you mean " + core::JoinAlternatives(closest) + "?";
}

// The file and what it holds now: an empty document when it is not there.
struct ConfigFile {
  HomeFile file;
  HomeFile directory;
  Json document;
};

core::Status NotProfileFile(const std::string& shown, std::string_view why) {
  std::string message = shown;
  message += " is not a profile file of the Aliyun command line (";
  message += why;
  message += "); fix or move it, nothing was written";
  return core::Status::InvalidInput(std::move(message));
}

core::Result<ConfigFile> LoadConfig(const Console& console) {
  std::optional<HomeFile> file = FindHomeFile(console, ".aliyun/config.json");
  std::optional<HomeFile> directory = FindHomeFile(console, ".aliyun");
  if (!file || !directory) {
    return core::Status::InvalidInput(
        "no home directory to keep ~/.aliyun/config.json in (HOME, on Windows USERPROFILE, is "
        "not set)");
  }
  // A config.json kept elsewhere behind a link stays there: the link is
  // followed, not replaced by a file.
  std::error_code error;
  if (std::filesystem::is_symlink(file->path, error)) {
    const std::filesystem::path target = std::filesystem::canonical(file->path, error);
    if (error) {
      return core::Status::InvalidInput(file->shown + " is a link to nowhere (" + error.message() +
                                        ")");
    }
    file->path = target.string();
  }
  core::Result<std::optional<std::string>> content =
      request::ReadSmallFileIfPresent(file->path, request::kCredentialStoreLimit);
  if (!content.ok()) return content.status();
  ConfigFile config{std::move(*file), std::move(*directory), Json::object()};
  if (!content.value()) {
    config.document["current"] = "";
    config.document["profiles"] = Json::array();
    return config;
  }
  const std::string& text = **content;
  if (core::JsonNestsDeeperThan(text))
    return NotProfileFile(config.file.shown, "nested too deeply");
  config.document = Json::parse(text, nullptr, false);
  if (config.document.is_discarded()) return NotProfileFile(config.file.shown, "not JSON");
  if (!config.document.is_object()) return NotProfileFile(config.file.shown, "not a JSON object");
  Json& profiles = config.document["profiles"];
  if (profiles.is_null()) profiles = Json::array();
  if (!profiles.is_array()) return NotProfileFile(config.file.shown, "\"profiles\" is not a list");
  for (const Json& profile : profiles) {
    if (!profile.is_object() || !profile.contains("name") || !profile["name"].is_string()) {
      return NotProfileFile(config.file.shown, "a profile without a name");
    }
  }
  const auto current = config.document.find("current");
  if (current != config.document.end() && !current->is_string()) {
    return NotProfileFile(config.file.shown, "\"current\" is not a name");
  }
  return config;
}

core::Status SaveConfig(const ConfigFile& config) {
  if (core::Status made = request::CreatePrivateDirectory(config.directory.path); !made.ok()) {
    return made;
  }
  // Tab-indented, as the vendor's tool writes it.
  std::string text = config.document.dump(1, '\t');
  text += '\n';
  return request::WriteFileAtomically(config.file.path, text);
}

std::string Current(const Json& document) {
  const auto current = document.find("current");
  return current != document.end() && current->is_string() ? current->get<std::string>()
                                                           : std::string();
}

Json* FindProfile(Json& document, std::string_view name) {
  for (Json& profile : document["profiles"]) {
    if (profile["name"].get_ref<const std::string&>() == name) return &profile;
  }
  return nullptr;
}

std::string Text(const Json& profile, std::string_view field) {
  const auto found = profile.find(field);
  if (found == profile.end()) return {};
  return found->is_string() ? found->get<std::string>() : found->dump();
}

// A value as `get` shows it: a secret as stars, whatever its length.
std::string Shown(std::string_view field, const Json& value) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.empty()) return {};
    return IsSecret(field) ? "********" : EscapeLine(text);
  }
  return IsSecret(field) ? "********" : EscapeLine(value.dump());
}

// Lines of columns padded to the widest cell of each.
std::string Columns(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    }
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - DisplayWidth(row[i]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line;
    text += '\n';
  }
  return text;
}

int List(const CommandLine& line, Console& console, ConfigFile& config) {
  if (line.operands.size() > 1) return UsageError(console, "configure list takes no operand");
  const std::string current = Current(config.document);
  std::vector<std::vector<std::string>> rows = {{"", "Profile", "Mode", "Region"}};
  for (const Json& profile : config.document["profiles"]) {
    const std::string name = Text(profile, "name");
    rows.push_back({name == current ? "*" : "", EscapeLine(name), EscapeLine(Text(profile, "mode")),
                    EscapeLine(Text(profile, "region_id"))});
  }
  if (rows.size() == 1) {
    console.Err("kestrune: " + config.file.shown +
                " holds no profile; add one with kestrune configure set\n");
    return kExitOk;
  }
  console.Out(Columns(rows));
  return kExitOk;
}

int Get(const CommandLine& line, Console& console, ConfigFile& config) {
  if (line.operands.size() > 2) {
    return UsageError(console, "configure get takes at most one FIELD");
  }
  const std::string name = line.profile.value_or(Current(config.document));
  if (name.empty()) {
    return UsageError(console,
                      config.file.shown + " names no current profile; give --profile NAME");
  }
  const Json* profile = FindProfile(config.document, name);
  if (profile == nullptr) {
    return UsageError(console, "there is no profile " + Quoted(name) + " in " + config.file.shown);
  }
  if (line.operands.size() == 2) {
    const std::string& field = line.operands[1];
    const auto found = profile->find(field);
    if (found == profile->end()) {
      return UsageError(console, "profile " + Quoted(name) + " has no field " + Quoted(field));
    }
    console.Out(Shown(field, *found) + "\n");
    return kExitOk;
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& [field, value] : profile->items()) rows.push_back({field, Shown(field, value)});
  console.Out(Columns(rows));
  return kExitOk;
}

// Checks one value given to `set` for a field of `mode`.
core::Status CheckValue(const FieldRule& rule, std::string_view value) {
  for (const char ch : value) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F) {
      return core::Status::InvalidInput(std::string(rule.name) + " holds a control character");
    }
  }
  if (value.empty()) return core::Status::Ok();
  const std::string name(rule.name);
  if (name == "expired_seconds") {
    std::int64_t seconds = 0;
    for (const char ch : value) {
      if (ch < '0' || ch > '9' || seconds > kLongestSession) {
        seconds = -1;
        break;
      }
      seconds = seconds * 10 + (ch - '0');
    }
    if (seconds < kShortestSession || seconds > kLongestSession) {
      return core::Status::InvalidInput("expired_seconds needs a number of seconds from " +
                                        std::to_string(kShortestSession) + " to " +
                                        std::to_string(kLongestSession) + ", not " + Quoted(value));
    }
  } else if (name == "region_id") {
    if (core::Status checked = catalogue::CheckRegionId(value); !checked.ok()) {
      return core::Status::InvalidInput("region_id: " + checked.message());
    }
  } else if (name == "endpoint_type" && !catalogue::ParseEndpointType(value)) {
    return core::Status::InvalidInput("endpoint_type is public or vpc, not " + Quoted(value));
  } else if (name == "signature_version" && !request::ParseSignatureVersion(value)) {
    return core::Status::InvalidInput("signature_version is v1 or v3, not " + Quoted(value));
  } else if (name == "credentials_uri" && !value.starts_with("http://") &&
             !value.starts_with("https://")) {
    return core::Status::InvalidInput("credentials_uri needs an http:// or https:// address");
  }
  return core::Status::Ok();
}

// Where a chain of source profiles starting at `source` leads back to
// `name`, the chain as text; empty when it ends.
std::string LoopThrough(Json& document, const std::string& name, std::string source) {
  std::string chain = Quoted(name);
  const std::size_t bound = document["profiles"].size() + 1;
  for (std::size_t step = 0; step < bound && !source.empty(); ++step) {
    chain += " -> ";
    chain += Quoted(source);
    if (source == name) return chain;
    const Json* next = FindProfile(document, source);
    if (next == nullptr || Text(*next, "mode") != "ChainableRamRoleArn") return {};
    source = Text(*next, "source_profile");
  }
  return {};
}

// The fields given as field=value: each one the mode takes, at most once,
// with a value of its form ("field=" removes it).
struct Assignments {
  std::vector<std::string> given;
  bool id_given = false;
};
core::Result<Assignments> Assign(std::span<const std::string> operands, const ModeName& mode,
                                 Json& profile) {
  Assignments assignments;
  for (const std::string& assignment : operands) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
      return core::Status::InvalidInput("configure set takes field=value, not " +
                                        Quoted(assignment));
    }
    const std::string field = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    const FieldRule* rule = FindField(field);
    const std::string mode_name(mode.name);
    if (rule == nullptr) {
      return core::Status::InvalidInput("unknown field " + Quoted(field) + " (accepted for mode " +
                                        mode_name + ": " + Names(kFields, mode.bit) + ")" +
                                        ClosestOf(field, kFields));
    }
    if ((rule->takes & mode.bit) == 0) {
      return core::Status::InvalidInput("mode " + mode_name + " does not take " + field +
                                        " (it takes " + Names(kFields, mode.bit) + ")");
    }
    if (std::find(assignments.given.begin(), assignments.given.end(), field) !=
        assignments.given.end()) {
      return core::Status::InvalidInput(field + " is given twice");
    }
    assignments.given.push_back(field);
    if (core::Status checked = CheckValue(*rule, value); !checked.ok()) return checked;
    assignments.id_given = assignments.id_given || field == "access_key_id";
    if (value.empty()) {
      profile.erase(field);
    } else if (field == "expired_seconds") {
      profile[field] = std::stoll(value);
    } else {
      profile[field] = value;
    }
  }
  return assignments;
}

// Reads each secret the mode needs that the command line did not give and
// the profile lacks, without echo. A secret belongs to its key id: a new id
// asks for its secret again.
core::Status ReadSecrets(Console& console, const ModeName& mode, const Assignments& assignments,
                         Json& profile) {
  for (const FieldRule& rule : kFields) {
    if (!rule.secret || (rule.needs & mode.bit) == 0) continue;
    const bool given = std::find(assignments.given.begin(), assignments.given.end(), rule.name) !=
                       assignments.given.end();
    if (given || (!assignments.id_given && !Text(profile, rule.name).empty())) continue;
    const std::string name(rule.name);
    core::Result<std::string> typed =
        console.ReadLine(name == "access_key_secret" ? "AccessKey secret: " : name + ": ", true);
    if (!typed.ok())
      return core::Status::InvalidInput("no " + name + ": " + typed.status().message());
    if (core::Status checked = CheckValue(rule, *typed); !checked.ok()) return checked;
    profile[name] = *typed;
  }
  return core::Status::Ok();
}

// A chained profile's source must be another profile, and following the
// sources must not come back to it.
core::Status CheckSource(const ConfigFile& config, const std::string& name, const Json& profile) {
  const std::string source = Text(profile, "source_profile");
  Json document = config.document;
  if (FindProfile(document, source) == nullptr && source != name) {
    return core::Status::InvalidInput("source_profile " + Quoted(source) + " is not a profile of " +
                                      config.file.shown);
  }
  if (Json* slot = FindProfile(document, name)) {
    *slot = profile;
  } else {
    document["profiles"].push_back(profile);
  }
  if (const std::string loop = LoopThrough(document, name, source); !loop.empty()) {
    return core::Status::InvalidInput("source_profile makes a loop: " + loop);
  }
  return core::Status::Ok();
}

int Set(const CommandLine& line, Console& console, ConfigFile& config) {
  if (!line.profile) return UsageError(console, "configure set needs --profile NAME");
  const std::string& name = *line.profile;
  for (const char ch : name) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) {
      return UsageError(console, "a profile name holds no control character");
    }
  }
  Json* existing = FindProfile(config.document, name);
  const std::string mode_name = line.mode.value_or(existing ? Text(*existing, "mode") : "");
  if (mode_name.empty()) {
    return UsageError(console, "a new profile needs --mode MODE (" + Names(kModes) + ")");
  }
  const ModeName* mode = FindMode(mode_name);
  if (mode == nullptr) {
    return UsageError(console, "cannot set up mode " + Quoted(mode_name) + " (accepted: " +
                                   Names(kModes) + ")" + ClosestOf(mode_name, kModes));
  }
  Json profile = existing ? *existing : Json::object({{"name", name}, {"mode", mode_name}});
  profile["mode"] = mode_name;
  // A field the new mode does not take goes with the old mode: a key pair
  // left behind in an EcsRamRole profile would only wait to be leaked.
  std::vector<std::string> dropped;
  for (const FieldRule& rule : kFields) {
    if ((rule.takes & mode->bit) == 0 && profile.contains(rule.name)) {
      profile.erase(std::string(rule.name));
      dropped.emplace_back(rule.name);
    }
  }
  core::Result<Assignments> assigned = Assign(std::span(line.operands).subspan(1), *mode, profile);
  if (!assigned.ok()) return UsageError(console, assigned.status().message());
  if (core::Status read = ReadSecrets(console, *mode, *assigned, profile); !read.ok()) {
    return UsageError(console, read.message() + "; nothing was written");
  }
  for (const FieldRule& rule : kFields) {
    if ((rule.needs & mode->bit) != 0 && Text(profile, rule.name).empty()) {
      return UsageError(console, "mode " + mode_name + " needs " + std::string(rule.name) +
                                     "; nothing was written");
    }
  }
  if (mode->bit == kChainable) {
    if (core::Status checked = CheckSource(config, name, profile); !checked.ok()) {
      return UsageError(console, checked.message());
    }
  }
  if (existing != nullptr) {
    *existing = std::move(profile);
  } else {
    config.document["profiles"].push_back(std::move(profile));
  }
  const bool becomes_current = Current(config.document).empty();
  if (becomes_current) config.document["current"] = name;
  if (core::Status saved = SaveConfig(config); !saved.ok()) {
    return UsageError(console, "cannot write " + config.file.shown + ": " + saved.message());
  }
  std::string note = "kestrune: saved profile " + Quoted(name) + " (mode " + mode_name + ") in " +
                     config.file.shown;
  if (becomes_current) note += "; it is the current profile";
  if (!dropped.empty()) {
    note += "; dropped the fields mode " + mode_name + " does not take:";
    for (const std::string& field : dropped) note += " " + field;
  }
  console.Err(note + "\n");
  return kExitOk;
}

int Switch(const CommandLine& line, Console& console, ConfigFile& config) {
  if (line.operands.size() != 2) return UsageError(console, "configure switch takes one NAME");
  const std::string& name = line.operands[1];
  if (FindProfile(config.document, name) == nullptr) {
    return UsageError(console, "there is no profile " + Quoted(name) + " in " + config.file.shown);
  }
  config.document["current"] = name;
  if (core::Status saved = SaveConfig(config); !saved.ok()) {
    return UsageError(console, "cannot write " + config.file.shown + ": " + saved.message());
  }
  console.Err("kestrune: the current profile is " + Quoted(name) + "\n");
  return kExitOk;
}

int Delete(const CommandLine& line, Console& console, ConfigFile& config) {
  if (line.operands.size() != 2) return UsageError(console, "configure delete takes one NAME");
  const std::string& name = line.operands[1];
  Json& profiles = config.document["profiles"];
  std::size_t position = profiles.size();
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    if (Text(profiles[i], "name") == name) position = i;
  }
  if (position == profiles.size()) {
    return UsageError(console, "there is no profile " + Quoted(name) + " in " + config.file.shown);
  }
  for (const Json& profile : profiles) {
    if (Text(profile, "mode") == "ChainableRamRoleArn" && Text(profile, "source_profile") == name &&
        Text(profile, "name") != name) {
      return UsageError(console, "profile " + Quoted(Text(profile, "name")) + " starts from " +
                                     Quoted(name) + " (source_profile); change or delete it first");
    }
  }
  const bool was_current = Current(config.document) == name;
  if (was_current && profiles.size() > 1) {
    return UsageError(console, Quoted(name) +
                                   " is the current profile; make another current first "
                                   "(kestrune configure switch NAME)");
  }
  profiles.erase(position);
  if (was_current) config.document["current"] = "";
  if (core::Status saved = SaveConfig(config); !saved.ok()) {
    return UsageError(console, "cannot write " + config.file.shown + ": " + saved.message());
  }
  std::string note = "kestrune: deleted profile " + Quoted(name);
  if (was_current) note += "; no profile is current now";
  console.Err(note + "\n");
  return kExitOk;
}

struct Verb {
  std::string_view name;
  int (*run)(const CommandLine&, Console&, ConfigFile&);
};
constexpr std::array<Verb, 5> kVerbs = {{
    {"list", List},
    {"get", Get},
    {"set", Set},
    {"switch", Switch},
    {"delete", Delete},
}};

}  // namespace

int RunConfigure(const CommandLine& line, Console& console) {
  if (line.operands.empty()) {
    return UsageError(console,
                      "configure needs list, get, set, switch or delete (see kestrune "
                      "configure --help)");
  }
  const Verb* verb = nullptr;
  for (const Verb& candidate : kVerbs) {
    if (candidate.name == line.operands[0]) verb = &candidate;
  }
  if (verb == nullptr) {
    return UsageError(console, "unknown configure verb " + Quoted(line.operands[0]) +
                                   " (accepted: " + Names(kVerbs) + ")" +
                                   ClosestOf(line.operands[0], kVerbs));
  }
  if (line.mode && verb->name != "set") return UsageError(console, "--mode applies to set only");
  if (line.profile && verb->name != "set" && verb->name != "get") {
    return UsageError(console, "--profile applies to configure get and set only");
  }
  core::Result<ConfigFile> config = LoadConfig(console);
  if (!config.ok()) return UsageError(console, config.status().message());
  return verb->run(line, console, config.value());
}

}  // namespace kestrune::cli
