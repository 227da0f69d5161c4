// The subcommands and options of `kestrune`, each declared once: the parser,
// the help texts, "did you mean" and the shell completion scripts all read
// them from here, so a new option is one line and cannot drift between them.
//
// Constant tables and stateless functions; safe from any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/status.h"

namespace kestrune::cli {

enum class Subcommand {
  kNone,
  kList,
  kCall,
  kSample,
  kCredentials,
  kDemo,
  kDoctor,
  kConfigure,
  kHelp,
  kCompletion
};

enum class Option {
  kEndpoint,
  kEndpointType,
  kSignature,
  kCaFile,
  kProxy,
  kTls,
  kRegion,
  kRegions,
  kParallel,
  kProfile,
  kMode,
  kFormat,
  kRaw,
  kDryRun,
  kAllPages,
  kAllFields,
  kMaxBytes,
  kForce,
  kMethod,
  kDebug,
  kTrace,
  kTimeout,
  kConnectTimeout,
  kReadTimeout,
  kRetries,
  kWaitFor,
  kWaitFail,
  kWaitInterval,
  kWaitTimeout,
  kHelp,
  kVersion,
  kNames,
};

// What a shell may offer as an option's value.
enum class ValueKind {
  kNone,         // the option takes no value
  kText,         // anything; nothing to offer
  kChoice,       // one of `choices`
  kFile,         // a file name
  kProfileName,  // a profile name of ~/.aliyun/config.json
};

// A set of subcommands, one bit each.
using SubcommandSet = unsigned;
constexpr SubcommandSet SubcommandBit(Subcommand subcommand) {
  return 1U << static_cast<unsigned>(subcommand);
}

struct OptionEntry {
  std::string_view name;  // without the leading "--"
  Option option;
  char short_form;            // '\0': none
  std::string_view argument;  // "SECONDS"; "" for an option without a value
  ValueKind value;
  std::string_view choices;  // kChoice: the words, separated by spaces
  SubcommandSet subcommands;
  std::string_view help;  // one paragraph, wrapped where it is shown
  bool hidden;            // left out of the help (for the completion scripts)
};

struct SubcommandEntry {
  std::string_view name;
  Subcommand subcommand;
  std::string_view operands;  // "SERVICE ACTION [Name=Value ...]"
  std::string_view summary;   // one paragraph
};

std::span<const OptionEntry> Options();
std::span<const SubcommandEntry> Subcommands();

// The option named (without "--"), or nullptr.
const OptionEntry* FindOption(std::string_view name);
// The option of a short form ('h'), or nullptr.
const OptionEntry* FindShortOption(char short_form);
const OptionEntry& SpecOf(Option option);
bool AppliesTo(const OptionEntry& entry, Subcommand subcommand);
// The words of a kChoice option's `choices`.
std::vector<std::string_view> ChoicesOf(const OptionEntry& entry);

// The subcommand's name as typed ("call"); "" for kNone.
std::string_view SubcommandName(Subcommand subcommand);

// "--raw applies to call only, not with list": the refusal of an option
// given to a subcommand that does not take it.
std::string NotApplicable(const OptionEntry& entry, Subcommand subcommand);

// The "Subcommands:" and "Options:" parts of the program's help.
std::string SubcommandsHelp();
std::string OptionsHelp();
// "Options: --endpoint URL, --region ID, ...": those the subcommand takes,
// wrapped to 80 columns.
std::string OptionsLine(Subcommand subcommand);

// The shells `kestrune completion` writes a script for.
inline constexpr std::string_view kCompletionShells = "bash zsh fish powershell";

// The completion script of `shell` (a word of kCompletionShells); services,
// sample actions and the subcommands' options come from this program's
// tables, action and parameter names from the program itself at completion
// time, profiles from ~/.aliyun/config.json.
core::Result<std::string> CompletionScript(std::string_view shell);

}  // namespace kestrune::cli
