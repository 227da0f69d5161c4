#include "cli/options.h"

#include <algorithm>
#include <array>
#include <vector>

#include "catalogue/catalogue.h"
#include "cli/commands.h"
#include "report/samples.h"

namespace kestrune::cli {
namespace {

constexpr SubcommandSet kCall = SubcommandBit(Subcommand::kCall);
constexpr SubcommandSet kList = SubcommandBit(Subcommand::kList);
constexpr SubcommandSet kSample = SubcommandBit(Subcommand::kSample);
constexpr SubcommandSet kDemo = SubcommandBit(Subcommand::kDemo);
constexpr SubcommandSet kDoctor = SubcommandBit(Subcommand::kDoctor);
constexpr SubcommandSet kConfigure = SubcommandBit(Subcommand::kConfigure);
// `doctor` sends as `call` does, with call's choice of where, through what
// and with whose credentials.
constexpr SubcommandSet kConnects = kCall | kDoctor;
constexpr SubcommandSet kSends = kCall | kDemo | kDoctor;
constexpr SubcommandSet kEvery = ~SubcommandSet{0};

constexpr std::array<SubcommandEntry, 9> kSubcommands = {{
    {"list", Subcommand::kList, "[SERVICE [CATEGORY|ACTION]]",
     "services (ecs, iot, apigateway), categories, actions; with an action, its parameters"},
    {"call", Subcommand::kCall, "SERVICE ACTION [Name=Value ...]", "sign, send and show the reply"},
    {"sample", Subcommand::kSample, "ACTION [ACTION ...]",
     "the built-in sample responses (no service is asked)"},
    {"credentials", Subcommand::kCredentials, "[ACCESS_KEY_ID]",
     "write the credential file \"sign\" (secret read without echo)"},
    {"demo", Subcommand::kDemo, "", "start the local simulator and take a short tour of it"},
    {"doctor", Subcommand::kDoctor, "", "check credentials, clock, network, TLS and a signed call"},
    {"configure", Subcommand::kConfigure, "list|get|set|switch|delete",
     "the profiles of ~/.aliyun/config.json"},
    {"help", Subcommand::kHelp, "[SUBCOMMAND]", "this text, or a subcommand's"},
    {"completion", Subcommand::kCompletion, "bash|zsh|fish|powershell",
     "the shell's completion script"},
}};

// The order in which a refusal names the subcommands that take an option.
constexpr std::array<Subcommand, 9> kNamingOrder = {
    Subcommand::kCall,        Subcommand::kList, Subcommand::kSample,
    Subcommand::kCredentials, Subcommand::kDemo, Subcommand::kDoctor,
    Subcommand::kConfigure,   Subcommand::kHelp, Subcommand::kCompletion};

using enum Option;
using enum ValueKind;

// An option without a value.
constexpr OptionEntry Flag(std::string_view name, Option option, SubcommandSet subcommands,
                           std::string_view help, char short_form = '\0') {
  return {name, option, short_form, "", kNone, "", subcommands, help, false};
}

// An option with a value named `argument`.
constexpr OptionEntry Valued(std::string_view name, Option option, std::string_view argument,
                             SubcommandSet subcommands, std::string_view help,
                             ValueKind value = kText, std::string_view choices = "") {
  return {name, option, '\0', argument, value, choices, subcommands, help, false};
}

// In the order of the help.
constexpr std::array<OptionEntry, 32> kOptions = {{
    Valued(
        "endpoint", kEndpoint, "[https://|http://]HOST[:PORT]", kSends,
        "(else ALIBABA_CLOUD_ENDPOINT) a host name is the request's host: its Host header and TLS "
        "name, over HTTPS unless http:// is given; an address (IP, localhost) is only where to "
        "send, "
        "the Host header stays the region's, no scheme means http:// on port 80 (as "
        "KESTRUNE_ENDPOINT)"),
    Valued("endpoint-type", kEndpointType, "public|vpc", kConnects,
           "call, doctor: the region's public host (default) or its VPC host", kChoice,
           "public vpc"),
    Valued("signature", kSignature, "v1|v3", kConnects,
           "call, doctor: HMAC-SHA1 (default) or ACS3-HMAC-SHA256 (else the profile's "
           "signature_version)",
           kChoice, "v1 v3"),
    Valued("ca-file", kCaFile, "FILE", kConnects,
           "trust only the certificates of this PEM file for HTTPS, not the system's (else "
           "KESTRUNE_CA_FILE)",
           kFile),
    Valued("proxy", kProxy, "URL", kConnects,
           "send through the HTTP proxy at http://[USER:PASSWORD@]HOST[:PORT] (port 80 when none "
           "given); --proxy '' for none at all"),
    Flag("tls", kTls, kDemo, "demo: the tour goes over HTTPS to its own simulator"),
    Valued("region", kRegion, "ID", kSends | kSample,
           "RegionId for call and demo (its host too, and doctor's); the zones of sample"),
    Valued(
        "regions", kRegions, "all|ID,ID,...", kCall,
        "call: once per region (all: every region of ECS DescribeRegions), --parallel N at a time"),
    Valued("parallel", kParallel, "N", kCall,
           "--regions: how many calls at once (1 to 64, default 32)"),
    Valued("profile", kProfile, "NAME", kConnects | kConfigure,
           "call, doctor: the credentials (and default RegionId) of a profile of "
           "~/.aliyun/config.json; configure: the profile to get or set",
           kProfileName),
    Valued("mode", kMode, "MODE", kConfigure, "configure set: the profile's mode", kChoice,
           "AK StsToken RamRoleArn ChainableRamRoleArn EcsRamRole OIDC CredentialsURI External"),
    Valued(
        "format", kFormat, "table|tsv|json", kSends | kSample | kList,
        "an aligned table (default on a terminal), tab-separated rows (default otherwise), or the "
        "service's own JSON as one document",
        kChoice, "table tsv json"),
    Flag("raw", kRaw, kCall, "print the reply body as received"),
    Flag("dry-run", kDryRun, kCall, "print the signed request and send nothing"),
    Flag("all-pages", kAllPages, kCall, "fetch every page of a paged list as one"),
    Flag(
        "all-fields", kAllFields, kCall,
        "call: every value of the reply, named by its path below its record, one group per record"),
    Valued("max-bytes", kMaxBytes, "N[K|M|G]", kCall,
           "--all-pages: the most the joined pages may take (default 1G); past it the walk stops, "
           "exit 2"),
    Flag("force", kForce, kCall, "send an action or parameter name as typed"),
    Valued("method", kMethod, "GET|POST", kCall, "how the request goes (GET unless too long)",
           kChoice, "GET POST"),
    Flag("debug", kDebug, kEvery,
         "show the exchange on standard error: request, string to sign, reply headers, sizes, "
         "times"),
    Flag("trace", kTrace, kEvery,
         "the engine's trace lines on standard error: each step of the exchange and each value "
         "shown (also KESTRUNE_TRACE=1)"),
    Valued("timeout", kTimeout, "SECONDS", kSends,
           "longest wait to connect, for each part of the reply, for the whole exchange, and for "
           "every attempt of a call with the waits between them"),
    Valued("connect-timeout", kConnectTimeout, "SECONDS", kSends,
           "longest wait to connect, for each attempt"),
    Valued("read-timeout", kReadTimeout, "SECONDS", kSends,
           "longest wait for each part of the reply"),
    Valued(
        "retries", kRetries, "N", kCall,
        "call: send a request again at most N times (0 to 20, default 3; 0: never) when it cannot "
        "have been carried out, or harmlessly can be again"),
    Valued("wait-for", kWaitFor, "FIELD=VALUE[,VALUE...]", kCall,
           "call: call again until the reply's FIELD (such as Status or Instances.Instance.Status) "
           "holds one of the values in every record (an action that only reads)"),
    Valued("wait-fail", kWaitFail, "VALUE[,VALUE...]", kCall,
           "stop waiting, unreached, when one shows"),
    Valued("wait-interval", kWaitInterval, "SECONDS", kCall,
           "between the calls of --wait-for (default 5)"),
    Valued("wait-timeout", kWaitTimeout, "SECONDS", kCall,
           "longest wait of --wait-for (default 180)"),
    Flag("help", kHelp, kEvery, "this text (also after a subcommand)", 'h'),
    Flag("version", kVersion, kEvery, "the program's version"),
    // The action names alone, one a line, for the completion scripts.
    {"names", kNames, '\0', "", kNone, "", kList, "", true},
}};

constexpr std::size_t kHelpColumn = 27;
constexpr std::size_t kSubcommandColumn = 17;
constexpr std::size_t kWidth = 80;

// `text` wrapped into lines of at most kWidth columns, each but the first
// indented to `column`; `line` is the first line so far.
void AppendWrapped(std::string& out, std::string line, std::size_t column, std::string_view text) {
  const std::string indent(column, ' ');
  bool first = true;
  if (line.size() + 1 >= column) {
    out += line;
    out += '\n';
    line = indent;
  } else {
    line.resize(column, ' ');
  }
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    if (!first && line.size() + 1 + word.size() > kWidth) {
      out += line;
      out += '\n';
      line = indent;
      first = true;
    }
    if (!first) line += ' ';
    line += word;
    first = false;
  }
  out += line;
  out += '\n';
}

// "--name ARGUMENT", or "-h, --help".
std::string Spelled(const OptionEntry& entry) {
  std::string text;
  if (entry.short_form != '\0') {
    text += '-';
    text += entry.short_form;
    text += ", ";
  }
  text += "--";
  text += entry.name;
  if (!entry.argument.empty()) {
    text += ' ';
    text += entry.argument;
  }
  return text;
}

// The pieces joined (appended one by one, which keeps g++ from seeing
// overlapping copies in a chain of operator+).
template <typename... Pieces>
std::string Cat(const Pieces&... pieces) {
  std::string out;
  (out.append(std::string_view(pieces)), ...);
  return out;
}

// The `case` lines of a shell script for an option's value: `choice` (where
// "@@" stands for the choices), `file` and `profile` are the commands that
// offer them; after an option of any other text nothing is offered.
std::string ValueCases(std::string_view choice, std::string_view file, std::string_view profile);

// Replaces each "@KEY@" of `script`.
std::string Fill(std::string_view script,
                 std::initializer_list<std::pair<std::string_view, std::string>> values) {
  std::string out;
  while (!script.empty()) {
    const std::size_t at = script.find('@');
    out += script.substr(0, at);
    if (at == std::string_view::npos) break;
    script.remove_prefix(at + 1);
    const std::size_t end = script.find('@');
    bool replaced = false;
    for (const auto& [key, value] : values) {
      if (end != std::string_view::npos && script.substr(0, end) == key) {
        out += value;
        script.remove_prefix(end + 1);
        replaced = true;
        break;
      }
    }
    if (!replaced) out += '@';
  }
  return out;
}

// The words a shell offers, joined by `separator`, each within `quote`.
std::string Joined(const std::vector<std::string>& words, std::string_view separator,
                   std::string_view quote = {}) {
  std::string out;
  for (const std::string& word : words) {
    if (!out.empty()) out += separator;
    out += quote;
    out += word;
    out += quote;
  }
  return out;
}

std::vector<std::string> SubcommandWords() {
  std::vector<std::string> words;
  words.reserve(kSubcommands.size());
  for (const SubcommandEntry& entry : kSubcommands) words.emplace_back(entry.name);
  return words;
}

std::vector<std::string> ServiceWords() {
  std::vector<std::string> words;
  for (const catalogue::ServiceInfo& service : catalogue::Services()) {
    words.emplace_back(ServiceCommandName(service.number));
  }
  return words;
}

std::vector<std::string> SampleWords() {
  std::vector<std::string> words;
  for (const report::NamedSampleAction& named : report::SampleActions()) {
    words.emplace_back(named.name);
  }
  return words;
}

// The words of a text separated by single spaces, as views into it.
std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t space = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, space - start));
    start = space + 1;
  }
  return words;
}

std::vector<std::string> SplitWords(std::string_view text) {
  const std::vector<std::string_view> views = Words(text);
  return {views.begin(), views.end()};
}

// "--name" of every option the subcommand takes (kNone: none given).
std::vector<std::string> OptionWords(Subcommand subcommand, std::string_view prefix = "--") {
  std::vector<std::string> words;
  for (const OptionEntry& entry : kOptions) {
    if (!entry.hidden && AppliesTo(entry, subcommand)) {
      words.push_back(std::string(prefix) + std::string(entry.name));
    }
  }
  return words;
}

std::vector<std::string> OptionsTaking(ValueKind kind) {
  std::vector<std::string> words;
  for (const OptionEntry& entry : kOptions) {
    if (kind == kNone ? entry.value != kNone : entry.value == kind) {
      words.push_back(Cat("--", entry.name));
    }
  }
  return words;
}

// For every subcommand (and for none: "*"), `line` of its name pattern and
// its options.
template <typename Line>
std::string PerSubcommand(Line line) {
  std::string out;
  for (const SubcommandEntry& entry : kSubcommands) {
    out += line(std::string(entry.name), OptionWords(entry.subcommand));
  }
  out += line(std::string("*"), OptionWords(Subcommand::kNone));
  return out;
}

std::string ValueCases(std::string_view choice, std::string_view file, std::string_view profile) {
  std::string values;
  for (const OptionEntry& entry : kOptions) {
    std::string command;
    if (entry.value == kChoice) {
      command = choice;
      command.replace(command.find("@@"), 2, entry.choices);
    } else if (entry.value == kFile) {
      command = file;
    } else if (entry.value == kProfileName) {
      command = profile;
    } else {
      continue;
    }
    values += Cat("    --", entry.name, ") ", command, "\n");
  }
  values += Cat("    ", Joined(OptionsTaking(kText), " | "), ") return ;;");
  return values;
}

// Profile names: the "name" members of ~/.aliyun/config.json (only profiles
// have one), read with grep and sed so that completing starts no program of
// ours.
constexpr std::string_view kProfilesSed =
    R"sh(grep -o '"name"[[:space:]]*:[[:space:]]*"[^"]*"' "$HOME/.aliyun/config.json" 2>/dev/null | sed 's/.*"\([^"]*\)"$/\1/')sh";

// The first word of each line of an action's parameter table, as Name=.
constexpr std::string_view kParametersAwk =
    R"sh(awk '/^Parameter  / { table = 1; next } /^Any other / { table = 0 }
         table && NF && $1 !~ /\.N\./ { print $1 "=" }')sh";

constexpr std::string_view kBash =
    R"sh(# bash completion for kestrune (made by `kestrune completion bash`):
# subcommands, services, options and their values from the program's option
# table; action and parameter names from the program's own catalogue
# (`kestrune list --names SERVICE`, `kestrune list SERVICE ACTION`); profiles
# from ~/.aliyun/config.json.

_kestrune_parameters() {
  "$1" list "$2" "$3" 2>/dev/null |
    @AWK@
}

_kestrune_profiles() {
  @PROFILES@
}

_kestrune() {
  local cur prev program=${COMP_WORDS[0]}
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}

  # The value of an option that takes one.
  case $prev in
@VALUES@
  esac

  # The subcommand and its operands so far, options and their values left out.
  local words=() i word
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case $word in
      @VALUE_OPTIONS@) ((i++)) ;;
      -*) ;;
      *) words+=("$word") ;;
    esac
  done

  if [[ $cur == -* ]]; then
    local options=""
    case ${words[0]:-} in
@OPTIONS@
    esac
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi

  local candidates=""
  case ${#words[@]} in
    0) candidates="@SUBCOMMANDS@" ;;
    1)
      case ${words[0]} in
        list | call) candidates="@SERVICES@" ;;
        sample) candidates="@SAMPLES@" ;;
        help) candidates="@SUBCOMMANDS@" ;;
        completion) candidates="@SHELLS@" ;;
      esac
      ;;
    2)
      case ${words[0]} in
        list | call) candidates=$("$program" list --names "${words[1]}" 2>/dev/null) ;;
        sample) candidates="@SAMPLES@" ;;
      esac
      ;;
    *)
      case ${words[0]} in
        call)
          candidates=$(_kestrune_parameters "$program" "${words[1]}" "${words[2]}")
          compopt -o nospace 2>/dev/null
          ;;
        sample) candidates="@SAMPLES@" ;;
      esac
      ;;
  esac
  mapfile -t COMPREPLY < <(compgen -W "$candidates" -- "$cur")
}

complete -F _kestrune kestrune
)sh";

std::string BashScript() {
  const std::string values = ValueCases(
      "mapfile -t COMPREPLY < <(compgen -W \"@@\" -- \"$cur\"); return ;;",
      "compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); "
      "return ;;",
      "mapfile -t COMPREPLY < <(compgen -W \"$(_kestrune_profiles)\" -- \"$cur\"); return ;;");
  const std::string options = PerSubcommand([](const std::string& name, const auto& words) {
    return Cat("      ", name, ") options=\"", Joined(words, " "), "\" ;;\n");
  });
  return Fill(kBash, {{"AWK", std::string(kParametersAwk)},
                      {"PROFILES", std::string(kProfilesSed)},
                      {"VALUES", values},
                      {"VALUE_OPTIONS", Joined(OptionsTaking(kNone), " | ")},
                      {"OPTIONS", options.substr(0, options.size() - 1)},
                      {"SUBCOMMANDS", Joined(SubcommandWords(), " ")},
                      {"SERVICES", Joined(ServiceWords(), " ")},
                      {"SAMPLES", Joined(SampleWords(), " ")},
                      {"SHELLS", std::string(kCompletionShells)}});
}

constexpr std::string_view kZsh = R"sh(#compdef kestrune
# zsh completion for kestrune (made by `kestrune completion zsh`): subcommands,
# services, options and their values from the program's option table; action
# and parameter names from the program's own catalogue; profiles from
# ~/.aliyun/config.json.

_kestrune() {
  local cur=${words[CURRENT]} prev=${words[CURRENT-1]} program=${words[1]}
  local -a value_options=(@VALUE_OPTIONS@)
  case $prev in
@VALUES@
  esac
  local -a operands
  local i
  for ((i = 2; i < CURRENT; i++)); do
    if (( ${value_options[(Ie)${words[i]}]} )); then
      ((i++))
    elif [[ ${words[i]} != -* ]]; then
      operands+=("${words[i]}")
    fi
  done
  if [[ $cur == -* ]]; then
    case ${operands[1]:-} in
@OPTIONS@
    esac
    return
  fi
  case ${#operands} in
    0) compadd -- @SUBCOMMANDS@ ;;
    1)
      case ${operands[1]} in
        list | call) compadd -- @SERVICES@ ;;
        sample) compadd -- @SAMPLES@ ;;
        help) compadd -- @SUBCOMMANDS@ ;;
        completion) compadd -- @SHELLS@ ;;
      esac
      ;;
    2)
      case ${operands[1]} in
        list | call) compadd -- ${(f)"$("$program" list --names "${operands[2]}" 2>/dev/null)"} ;;
        sample) compadd -- @SAMPLES@ ;;
      esac
      ;;
    *)
      case ${operands[1]} in
        call)
          compadd -S '' -- ${(f)"$("$program" list "${operands[2]}" "${operands[3]}" 2>/dev/null |
            @AWK@)"}
          ;;
        sample) compadd -- @SAMPLES@ ;;
      esac
      ;;
  esac
}

if [[ ${zsh_eval_context[-1]} == loadautofunc ]]; then
  _kestrune "$@"
else
  compdef _kestrune kestrune
fi
)sh";

std::string ZshScript() {
  const std::string values =
      ValueCases("compadd -- @@; return ;;", "_files; return ;;",
                 Cat("compadd -- ${(f)\"$(", kProfilesSed, ")\"}; return ;;"));
  const std::string options = PerSubcommand([](const std::string& name, const auto& words) {
    return Cat("      ", name, ") compadd -- ", Joined(words, " "), " ;;\n");
  });
  return Fill(kZsh, {{"AWK", std::string(kParametersAwk)},
                     {"VALUES", values},
                     {"VALUE_OPTIONS", Joined(OptionsTaking(kNone), " ")},
                     {"OPTIONS", options.substr(0, options.size() - 1)},
                     {"SUBCOMMANDS", Joined(SubcommandWords(), " ")},
                     {"SERVICES", Joined(ServiceWords(), " ")},
                     {"SAMPLES", Joined(SampleWords(), " ")},
                     {"SHELLS", std::string(kCompletionShells)}});
}

constexpr std::string_view kFish =
    R"sh(# fish completion for kestrune (made by `kestrune completion fish`):
# subcommands, services, options and their values from the program's option
# table; action and parameter names from the program's own catalogue;
# profiles from ~/.aliyun/config.json.

# The subcommand and its operands so far, options and their values left out.
function __kestrune_operands
    set -l tokens (commandline -opc)
    set -e tokens[1]
    set -l skip 0
    for token in $tokens
        if test $skip = 1
            set skip 0
            continue
        end
        switch $token
            case @VALUE_OPTIONS@
                set skip 1
            case '-*'
            case '*'
                echo $token
        end
    end
end

# __kestrune_at N [SUBCOMMAND ...]: N operands so far (or more with "+N"),
# the first one of the subcommands named.
function __kestrune_at
    set -l operands (__kestrune_operands)
    set -l count (count $operands)
    switch $argv[1]
        case '+*'
            test $count -ge (string sub -s 2 -- $argv[1]); or return 1
        case '*'
            test $count -eq $argv[1]; or return 1
    end
    test (count $argv) -eq 1; and return 0
    contains -- $operands[1] $argv[2..-1]
end

# Whether the subcommand is one of those named ("-" for none yet).
function __kestrune_in
    set -l operands (__kestrune_operands)
    set -l subcommand $operands[1]
    test -n "$subcommand"; or set subcommand -
    contains -- $subcommand $argv
end

function __kestrune_parameters
    set -l operands (__kestrune_operands)
    kestrune list $operands[2] $operands[3] 2>/dev/null | @AWK@
end

function __kestrune_profiles
    @PROFILES@
end

complete -c kestrune -f
complete -c kestrune -n '__kestrune_at 0' -a '@SUBCOMMANDS@'
complete -c kestrune -n '__kestrune_at 1 list call' -a '@SERVICES@'
complete -c kestrune -n '__kestrune_at 1 help' -a '@SUBCOMMANDS@'
complete -c kestrune -n '__kestrune_at 1 completion' -a '@SHELLS@'
complete -c kestrune -n '__kestrune_at +1 sample' -a '@SAMPLES@'
complete -c kestrune -n '__kestrune_at 2 list call' -a '(kestrune list --names (__kestrune_operands)[2] 2>/dev/null)'
complete -c kestrune -n '__kestrune_at +3 call' -a '(__kestrune_parameters)'
@OPTIONS@)sh";

std::string FishScript() {
  std::string options;
  for (const OptionEntry& entry : kOptions) {
    if (entry.hidden) continue;
    options += "complete -c kestrune";
    if (entry.subcommands != kEvery) {
      std::vector<std::string> names;
      for (const SubcommandEntry& sub : kSubcommands) {
        if (AppliesTo(entry, sub.subcommand)) names.emplace_back(sub.name);
      }
      options += Cat(" -n '__kestrune_in ", Joined(names, " "), "'");
    }
    options += Cat(" -l ", entry.name);
    if (entry.short_form != '\0') options += std::string(" -s ") + entry.short_form;
    switch (entry.value) {
      case kChoice:
        options += Cat(" -x -a '", entry.choices, "'");
        break;
      case kFile:
        options += " -r -F";
        break;
      case kProfileName:
        options += " -x -a '(__kestrune_profiles)'";
        break;
      case kText:
        options += " -x";
        break;
      case kNone:
        break;
    }
    // Within fish's single quotes a quote and a backslash are escaped.
    std::string help;
    for (char ch : entry.help) {
      if (ch == '\'' || ch == '\\') help += '\\';
      help += ch;
    }
    options += Cat(" -d '", help, "'\n");
  }
  std::string profiles(kProfilesSed);
  return Fill(kFish, {{"AWK", std::string(kParametersAwk)},
                      {"PROFILES", profiles.replace(profiles.find("$HOME"), 5, "~")},
                      {"VALUE_OPTIONS", Joined(OptionsTaking(kNone), " ")},
                      {"OPTIONS", options},
                      {"SUBCOMMANDS", Joined(SubcommandWords(), " ")},
                      {"SERVICES", Joined(ServiceWords(), " ")},
                      {"SAMPLES", Joined(SampleWords(), " ")},
                      {"SHELLS", std::string(kCompletionShells)}});
}

constexpr std::string_view kPowerShell =
    R"sh(# PowerShell completion for kestrune (made by `kestrune completion powershell`;
# load it with: kestrune completion powershell | Out-String | Invoke-Expression):
# subcommands, services, options and their values from the program's option
# table; action and parameter names from the program's own catalogue;
# profiles from ~/.aliyun/config.json.
Register-ArgumentCompleter -Native -CommandName kestrune, kestrune.exe -ScriptBlock {
    param($wordToComplete, $commandAst, $cursorPosition)
    $valueOptions = @(@VALUE_OPTIONS@)
    $choices = @{
@CHOICES@
    }
    $options = @{
@OPTIONS@
    }
    $subcommands = @(@SUBCOMMANDS@)
    $samples = @(@SAMPLES@)
    $before = @($commandAst.CommandElements |
        Where-Object { $_.Extent.EndOffset -lt $cursorPosition } |
        ForEach-Object { $_.ToString() })
    $program = $before[0]
    $prev = if ($before.Count -gt 1) { $before[-1] } else { '' }
    $candidates = @()
    if ($valueOptions -contains $prev) {
        if ($prev -eq '--profile') {
            try {
                $config = Get-Content -Raw (Join-Path $HOME '.aliyun/config.json') | ConvertFrom-Json
                $candidates = @($config.profiles | ForEach-Object { $_.name })
            } catch { return }
        } elseif ($choices.ContainsKey($prev)) {
            $candidates = $choices[$prev]
        } else {
            return
        }
    } else {
        $operands = @()
        for ($i = 1; $i -lt $before.Count; $i++) {
            if ($valueOptions -contains $before[$i]) { $i++ }
            elseif (-not $before[$i].StartsWith('-')) { $operands += $before[$i] }
        }
        $subcommand = if ($operands.Count -gt 0) { $operands[0] } else { '*' }
        if ($wordToComplete.StartsWith('-')) {
            if ($options.ContainsKey($subcommand)) { $candidates = $options[$subcommand] }
        } elseif ($operands.Count -eq 0) {
            $candidates = $subcommands
        } elseif ($subcommand -eq 'sample') {
            $candidates = $samples
        } elseif ($operands.Count -eq 1) {
            switch ($subcommand) {
                { $_ -in 'list', 'call' } { $candidates = @(@SERVICES@) }
                'help' { $candidates = $subcommands }
                'completion' { $candidates = @(@SHELLS@) }
            }
        } elseif ($operands.Count -eq 2 -and $subcommand -in 'list', 'call') {
            $candidates = @(& $program list --names $operands[1] 2>$null)
        } elseif ($subcommand -eq 'call') {
            $table = $false
            $candidates = @(& $program list $operands[1] $operands[2] 2>$null | ForEach-Object {
                if ($_ -match '^Parameter  ') { $table = $true }
                elseif ($_ -match '^Any other ') { $table = $false }
                elseif ($table -and $_ -match '^(\S+)' -and $Matches[1] -notmatch '\.N\.') { $Matches[1] + '=' }
            })
        }
    }
    $candidates | Where-Object { $_ -like "$wordToComplete*" } | ForEach-Object {
        [System.Management.Automation.CompletionResult]::new($_, $_, 'ParameterValue', $_)
    }
}
)sh";

std::string PowerShellScript() {
  std::string choices;
  for (const OptionEntry& entry : kOptions) {
    if (entry.value != kChoice) continue;
    std::vector<std::string> words = SplitWords(entry.choices);
    choices += Cat("        '--", entry.name, "' = @(", Joined(words, ", ", "'"), ")\n");
  }
  const std::string options = PerSubcommand([](const std::string& name, const auto& words) {
    return Cat("        '", name, "' = @(", Joined(words, ", ", "'"), ")\n");
  });
  auto quoted = [](const std::vector<std::string>& words) { return Joined(words, ", ", "'"); };
  return Fill(kPowerShell, {{"VALUE_OPTIONS", quoted(OptionsTaking(kNone))},
                            {"CHOICES", choices.substr(0, choices.size() - 1)},
                            {"OPTIONS", options.substr(0, options.size() - 1)},
                            {"SUBCOMMANDS", quoted(SubcommandWords())},
                            {"SERVICES", quoted(ServiceWords())},
                            {"SAMPLES", quoted(SampleWords())},
                            {"SHELLS", quoted(SplitWords(kCompletionShells))}});
}

}  // namespace

std::span<const OptionEntry> Options() { return kOptions; }
std::span<const SubcommandEntry> Subcommands() { return kSubcommands; }

const OptionEntry* FindOption(std::string_view name) {
  for (const OptionEntry& entry : kOptions) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

const OptionEntry* FindShortOption(char short_form) {
  for (const OptionEntry& entry : kOptions) {
    if (short_form != '\0' && entry.short_form == short_form) return &entry;
  }
  return nullptr;
}

const OptionEntry& SpecOf(Option option) {
  for (const OptionEntry& entry : kOptions) {
    if (entry.option == option) return entry;
  }
  return kOptions.front();  // not reached: every option has its line
}

std::vector<std::string_view> ChoicesOf(const OptionEntry& entry) { return Words(entry.choices); }

bool AppliesTo(const OptionEntry& entry, Subcommand subcommand) {
  return (entry.subcommands & SubcommandBit(subcommand)) != 0;
}

std::string_view SubcommandName(Subcommand subcommand) {
  for (const SubcommandEntry& entry : kSubcommands) {
    if (entry.subcommand == subcommand) return entry.name;
  }
  return {};
}

std::string NotApplicable(const OptionEntry& entry, Subcommand subcommand) {
  std::vector<std::string_view> takers;
  for (Subcommand candidate : kNamingOrder) {
    if (AppliesTo(entry, candidate)) takers.push_back(SubcommandName(candidate));
  }
  std::string text = "--";
  text += entry.name;
  text += " applies to ";
  for (std::size_t i = 0; i < takers.size(); ++i) {
    if (i > 0) text += i + 1 == takers.size() ? " and " : ", ";
    text += takers[i];
  }
  if (takers.size() == 1) text += " only";
  text += ", not ";
  if (subcommand == Subcommand::kNone) {
    text += "without a subcommand";
  } else {
    text += "with ";
    text += SubcommandName(subcommand);
  }
  return text;
}

std::string SubcommandsHelp() {
  std::string out = "Subcommands:\n";
  for (const SubcommandEntry& entry : kSubcommands) {
    std::string head = "  ";
    head += entry.name;
    if (!entry.operands.empty()) {
      head += ' ';
      head += entry.operands;
    }
    AppendWrapped(out, head, kSubcommandColumn, entry.summary);
  }
  return out;
}

std::string OptionsHelp() {
  std::string out = "Options:\n";
  for (const OptionEntry& entry : kOptions) {
    if (!entry.hidden) AppendWrapped(out, Cat("  ", Spelled(entry)), kHelpColumn, entry.help);
  }
  return out;
}

std::string OptionsLine(Subcommand subcommand) {
  std::string out;
  std::string line = "Options:";
  for (const OptionEntry& entry : kOptions) {
    if (entry.hidden || !AppliesTo(entry, subcommand)) continue;
    // An option and its argument stay on one line.
    const std::string item = Spelled(entry);
    if (line.size() + 2 + item.size() > kWidth) {
      out += line;
      out += '\n';
      line.clear();
    } else {
      line += ' ';
    }
    line += item;
    line += ',';
  }
  line.back() = '.';
  out += line;
  out += '\n';
  return out;
}

core::Result<std::string> CompletionScript(std::string_view shell) {
  if (shell == "bash") return BashScript();
  if (shell == "zsh") return ZshScript();
  if (shell == "fish") return FishScript();
  if (shell == "powershell") return PowerShellScript();
  return core::Status::InvalidInput(UnknownWord("shell", shell, Words(kCompletionShells)));
}

}  // namespace kestrune::cli
