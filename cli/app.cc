#include "cli/app.h"

#include <array>
#include <optional>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "transport/tls.h"

#ifndef KESTRUNE_VERSION
#define KESTRUNE_VERSION "0.0.0"
#endif

namespace kestrune::cli {
namespace {

constexpr std::string_view kMainHelp =
    "Usage: kestrune SUBCOMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "A client for the Aliyun RPC OpenAPI (ECS, IoT, API Gateway).\n"
    "\n";

// What follows the subcommands and options.
constexpr std::string_view kMainHelpEnd =
    "\n"
    "Credentials, the first source that holds them (see kestrune call --help):\n"
    "--profile NAME or ALIBABA_CLOUD_PROFILE; ALIBABA_CLOUD_ACCESS_KEY_ID and\n"
    "ALIBABA_CLOUD_ACCESS_KEY_SECRET (with ALIBABA_CLOUD_SECURITY_TOKEN for\n"
    "temporary credentials); the file \"sign\" (id:secret) in the working\n"
    "directory; the current profile of ~/.aliyun/config.json; the [default]\n"
    "section of ~/.alibabacloud/credentials; ALIBABA_CLOUD_ECS_METADATA.\n"
    "\n"
    "Proxies (call, doctor): without --proxy, http_proxy for plain HTTP and\n"
    "https_proxy for TLS, else all_proxy; each in lower case first, then upper\n"
    "case. no_proxy lists hosts reached directly: names with all names below them,\n"
    "exact addresses, or *. Loopback goes through the proxy too unless listed.\n"
    "Only http:// proxies.\n"
    "\n"
    "Exit status: 0 good reply, 1 error reply from the service, 2 usage error,\n"
    "3 connection failure or time-out, 4 \"this function not support\",\n"
    "5 standard output or error could not be written, 6 --wait-for ended\n"
    "unreached (time-out or a --wait-fail value); doctor: 0 when every check\n"
    "passes, 1 when one fails.\n";

constexpr std::string_view kListHelp =
    "Usage: kestrune list [SERVICE [CATEGORY|ACTION]]\n"
    "\n"
    "  kestrune list                    the services: ecs, iot, apigateway\n"
    "  kestrune list ecs                the categories of a service, numbered\n"
    "  kestrune list ecs 1              a category's actions, by number or name\n"
    "  kestrune list ecs DescribeZones  an action: its parameters, their\n"
    "                                   captions, whether it pages (--all-pages)\n"
    "\n"
    "IoT and API Gateway actions are listed by display name with the action\n"
    "name beside it; either name may be given to `list` and `call`.\n";

constexpr std::string_view kCallHelp =
    "Usage: kestrune call SERVICE ACTION [Name=Value ...] [OPTIONS]\n"
    "\n"
    "Signs the action's request with the AccessKey pair, sends it and prints the\n"
    "rows of the reply, RequestId first. Any parameter may be given as Name=Value\n"
    "(Tag.1.Key=env, InstanceIds='[\"i-1\"]', ...); the action's own parameters\n"
    "(see `kestrune list SERVICE ACTION`) keep their places, others follow in\n"
    "the order given. A parameter not given is not sent; Name= sends an empty\n"
    "value. A name one slip away from one of the action's own is refused with a\n"
    "suggestion; --force sends it as typed. A reply that no formatter knows is\n"
    "shown as every element with a value.\n"
    "\n"
    "Output: a table on a terminal, else tab-separated Field/Info lines with an\n"
    "empty line between groups of rows. The action's own rows are chosen fields\n"
    "under their bare names, and a record may take several groups\n"
    "(DescribeInstances: five). --all-fields shows every value of the reply\n"
    "instead, named by its path below its record (EipAddress.IpAddress,\n"
    "PublicIpAddress.IpAddress), in groups: RequestId; the other values outside\n"
    "the records; then one group per record, so awk -v RS= reads one record at\n"
    "a time. With --format json the document holds every value already.\n"
    "--format json asks the service for JSON and prints its reply as one\n"
    "document (jq '.Instances.Instance[].InstanceId'); an error reply likewise.\n"
    "An error reply also gives one line on standard error:\n"
    "  kestrune: Code: Message (RequestId ...)\n"
    "and the service's Recommend address when it gives one.\n"
    "\n"
    "--all-pages fetches every page of a paged list (the largest page the\n"
    "action takes, unless PageSize is given; NextToken where the reply uses\n"
    "one) and shows one result; it stops after 1000 pages. With JSON the\n"
    "records of every page join the first reply's list, whose PageSize (and\n"
    "MaxResults) become the number of records; TotalCount and PageNumber stay;\n"
    "NextToken is the last page's (empty once the list is complete). A page\n"
    "that fails shows what was fetched, names the page and exits non-zero.\n"
    "Table and tsv rows are printed page by page as the pages come.\n"
    "--force sends an action name that no list holds (letters and digits).\n"
    "A request whose GET line would reach 4096 bytes goes as a form POST with\n"
    "the same parameters; --method GET|POST chooses. Limits: 256 parameters,\n"
    "65535 characters for one Name=Value, 1 MiB for the whole request.\n"
    "\n"
    "@OPTIONS@"
    "\n"
    "--wait-for makes the call again, every --wait-interval (default 5 s) for\n"
    "up to --wait-timeout (default 180 s), until the field of the reply holds one\n"
    "of the values: a path below the reply's root such as\n"
    "Instances.Instance.Status, or its last names alone (Status); where found at\n"
    "several depths, the shallowest counts, and every record must hold a value\n"
    "wanted. A --wait-fail value ends the wait at once; so does a failed call\n"
    "(after the retries below). A field the first reply lacks is a usage error.\n"
    "The last reply is printed. Exit 0 when reached, else 6.\n"
    "\n"
    "A request is sent again (signed afresh, over a new connection, after an\n"
    "exponential wait with jitter from 0.2 s up to 20 s, or the longer wait the\n"
    "service asks for) at most --retries N times (default 3) within --timeout:\n"
    "when the service refused it without acting (Throttling, ServiceUnavailable,\n"
    "SignatureNonceUsed, x-acs-retry-after) or nothing of it was sent; when it\n"
    "was sent and no answer came (or a 5xx), only for an action that reads\n"
    "(Describe..., List..., Query..., Get..., Check...) or carries a ClientToken.\n"
    "Any other change is not repeated: the error says it may have been carried\n"
    "out. An action that takes a ClientToken gets one (unless ClientToken= is\n"
    "given), the same on every attempt; --dry-run shows it. --debug shows each\n"
    "attempt and why it was made.\n"
    "\n"
    "--regions sends the call once per region (each its own signed request),\n"
    "at most --parallel N (default 32) at a time, for an action that takes a\n"
    "RegionId. Ids that are not all published regions are checked against ECS\n"
    "DescribeRegions, asked first; an unknown one sends no call. The result is\n"
    "shown in the list's order: a Region row before each region's rows, or\n"
    "with --format json one array of {\"region\": ID, \"reply\": ...}, or for a\n"
    "region without a reply {\"region\": ID, \"error\": {\"code\", \"message\"}}\n"
    "(code ConnectionFailed, HttpError, ...). Errors and notes name their\n"
    "region. The exit status is the worst of the calls': 3, then 2, 4, 1, 0.\n"
    "\n"
    "Credentials come from the first of these sources that holds them (--debug\n"
    "names it); one that is there but incomplete or unusable is an error:\n"
    "  1. --profile NAME (or ALIBABA_CLOUD_PROFILE): that profile of the Aliyun\n"
    "     command line's ~/.aliyun/config.json, mode AK, StsToken, RamRoleArn,\n"
    "     ChainableRamRoleArn, OIDC, EcsRamRole, CredentialsURI or External;\n"
    "  2. ALIBABA_CLOUD_ACCESS_KEY_ID and ALIBABA_CLOUD_ACCESS_KEY_SECRET, with\n"
    "     ALIBABA_CLOUD_SECURITY_TOKEN for temporary (STS) credentials; then\n"
    "     ALIBABA_CLOUD_ROLE_ARN, ALIBABA_CLOUD_OIDC_PROVIDER_ARN and\n"
    "     ALIBABA_CLOUD_OIDC_TOKEN_FILE (a role assumed with OIDC);\n"
    "  3. the file \"sign\" in the working directory (see kestrune credentials);\n"
    "  4. the current profile of ~/.aliyun/config.json;\n"
    "  5. the [default] section of ~/.alibabacloud/credentials (or of the file\n"
    "     ALIBABA_CLOUD_CREDENTIALS_FILE names), type access_key or sts;\n"
    "  6. ALIBABA_CLOUD_ECS_METADATA: that RAM role of the ECS instance;\n"
    "  7. ALIBABA_CLOUD_CREDENTIALS_URI: a credentials URI.\n"
    "Temporary credentials are fetched once per process, and again when less\n"
    "than 3 minutes remain. Roles are assumed from the token service (sts_endpoint,\n"
    "sts.<sts_region>.aliyuncs.com or sts.aliyuncs.com; KESTRUNE_STS_ENDPOINT\n"
    "and KESTRUNE_METADATA_ENDPOINT send those calls elsewhere); a failure there\n"
    "shows the step and the service's error, exit 3, and sends nothing.\n"
    "On Windows ~ is %USERPROFILE%. When neither RegionId= nor --region is given,\n"
    "an action that takes a RegionId gets ALIBABA_CLOUD_REGION_ID, or else the\n"
    "profile's region_id. That region (the request's RegionId first) chooses\n"
    "the host: the one the vendor lists for it, else <product>.<region>.\n"
    "aliyuncs.com (--debug says which); without a region, the service's\n"
    "central host. A\n"
    "security token is signed into every request as SecurityToken and is never\n"
    "shown: --dry-run prints *** in its place.\n"
    "\n"
    "Exit status: 0 good reply, 1 error reply from the service, 2 usage error,\n"
    "3 connection failure or time-out, 4 \"this function not support\",\n"
    "5 standard output or error could not be written, 6 --wait-for ended\n"
    "unreached.\n";

constexpr std::string_view kSampleHelp =
    "Usage: kestrune sample ACTION [ACTION ...] [--region ID]\n"
    "                       [--format table|tsv|json]\n"
    "\n"
    "Shows the built-in sample responses without contacting any service.\n"
    "ACTION is one of DescribeRegions, DescribeZones, DescribeInstanceStatus,\n"
    "RebootInstance, StartInstance, StopInstance. Several actions run in order\n"
    "in one process, so StopInstance followed by DescribeInstanceStatus shows\n"
    "the stopped instance. --region (cn-shanghai, cn-shenzhen or cn-beijing)\n"
    "chooses the zones DescribeZones shows.\n"
    "\n"
    "With --format json an action's rows are an array of records, one object\n"
    "of Field: Info each (a field repeated in a record gives an array of its\n"
    "values), split where the table draws a rule; several actions print one\n"
    "array holding each action's array.\n";

constexpr std::string_view kCredentialsHelp =
    "Usage: kestrune credentials [ACCESS_KEY_ID]\n"
    "\n"
    "Writes the credential file \"sign\" (id:secret) in the working directory.\n"
    "The id is the argument, or is read from standard input; the secret is read\n"
    "from standard input without echo. On POSIX systems the file is readable by\n"
    "its owner only. A file written by hand may end with a line break; white\n"
    "space around the id and the secret is not part of them.\n"
    "\n"
    "`kestrune call` also takes credentials from the environment and from the\n"
    "files of the Aliyun command line and SDKs; see kestrune call --help.\n";

constexpr std::string_view kDemoHelp =
    "Usage: kestrune demo [--endpoint HOST:PORT | --tls] [--region ID]\n"
    "                     [--format table|tsv|json]\n"
    "\n"
    "Starts kestrune-sim (beside this program, or KESTRUNE_SIM) on a free\n"
    "loopback port with the demo AccessKey pair, runs DescribeRegions,\n"
    "DescribeZones, DescribeInstanceStatus, StopInstance and\n"
    "DescribeInstanceStatus against it, prints the replies and stops it.\n"
    "With --endpoint the tour runs against a simulator already listening there.\n"
    "With --tls the simulator serves HTTPS with a CA and certificate it makes in a\n"
    "temporary directory, and the tour goes to https://localhost:PORT trusting\n"
    "that CA.\n"
    "--region chooses the region of the tour (default cn-hangzhou).\n"
    "With --format json the five replies are printed as one JSON array.\n";

constexpr std::string_view kDoctorHelp =
    "Usage: kestrune doctor [--endpoint URL] [--ca-file FILE] [--proxy URL]\n"
    "                       [--profile NAME] [--region ID] [--timeout SECONDS]\n"
    "                       [--endpoint-type public|vpc]\n"
    "                       [--format table|tsv|json]\n"
    "\n"
    "Checks what a call needs and prints one line per check (Check, Verdict,\n"
    "Detail), each ok, warn or FAIL:\n"
    "  credentials  the source `call` would use, the AccessKey id masked (its\n"
    "               first 4 characters); a security token is said to be in\n"
    "               use, never shown; the secret never is\n"
    "  host         the host each service (ecs, iot, apigateway) resolves to for\n"
    "               the region (--region, ALIBABA_CLOUD_REGION_ID, the profile's)\n"
    "               and endpoint type: warn when derived by the vendor's rule\n"
    "  resolve      the name of each service host, or\n"
    "               of --endpoint (or KESTRUNE_ENDPOINT) alone when given\n"
    "  connect      a TCP connection to it, directly or through the proxy\n"
    "  tls          for https: the handshake and the certificate check, and\n"
    "               whose certificates are trusted (--ca-file or the system's)\n"
    "  call         a signed ECS DescribeRegions: ok on a good reply, else the\n"
    "               service's error code and what it tells\n"
    "  clock        the local clock against the reply's Date header: warn when\n"
    "               more than 60 s off, FAIL beyond 15 minutes (the service\n"
    "               refuses older time stamps)\n"
    "Through a proxy the proxy's name is resolved and reached (a CONNECT tunnel\n"
    "for https); its credentials are never shown. --debug shows the signed\n"
    "call's exchange and --trace the engine's trace lines, as with call.\n"
    "\n"
    "With --format json: an array of {\"check\", \"verdict\", \"detail\"} objects.\n"
    "Exit status: 0 when no check fails (warnings allowed), 1 when one fails,\n"
    "2 usage error.\n";

constexpr std::string_view kConfigureHelp =
    "Usage: kestrune configure list\n"
    "       kestrune configure get [--profile NAME] [FIELD]\n"
    "       kestrune configure set --profile NAME [--mode MODE] [FIELD=VALUE ...]\n"
    "       kestrune configure switch NAME\n"
    "       kestrune configure delete NAME\n"
    "\n"
    "Edits the profiles of ~/.aliyun/config.json, the file of the Aliyun command\n"
    "line, so that it still reads them: other profiles and fields are kept.\n"
    "The file is replaced whole (never half written), readable by its owner\n"
    "only; its folder is made, owner-only, when missing. A file that is not\n"
    "such a JSON document is refused and left as it is.\n"
    "  list    each profile's name, mode and region_id; * marks the current one\n"
    "  get     the current profile's (or NAME's) fields, or FIELD's value alone;\n"
    "          secrets (access_key_secret, sts_token, ...) are shown as ********\n"
    "  set     adds or changes profile NAME; --mode is needed for a new one. A\n"
    "          secret the mode needs and the command line does not give is read\n"
    "          from standard input, without echo at a terminal. FIELD= removes\n"
    "          a field. Fields the new mode does not take are dropped\n"
    "  switch  makes NAME the current profile\n"
    "  delete  removes NAME; the current profile only when it is the last one\n"
    "The first profile set becomes the current one.\n"
    "\n"
    "Modes and their fields (* needed):\n"
    "  AK                   access_key_id*, access_key_secret*\n"
    "  StsToken             the same and sts_token*\n"
    "  RamRoleArn           access_key_id*, access_key_secret*, ram_role_arn*,\n"
    "                       ram_session_name, expired_seconds (900 to 43200),\n"
    "                       policy, external_id, sts_region, sts_endpoint\n"
    "  ChainableRamRoleArn  source_profile* (another profile), ram_role_arn*,\n"
    "                       and the optional fields of RamRoleArn\n"
    "  OIDC                 ram_role_arn*, oidc_provider_arn*, oidc_token_file*,\n"
    "                       ram_session_name, expired_seconds, policy,\n"
    "                       sts_region, sts_endpoint\n"
    "  EcsRamRole           ram_role_name (else the instance's own role)\n"
    "  CredentialsURI       credentials_uri* (http:// or https://)\n"
    "  External             process_command*\n"
    "Every mode also takes region_id, output_format, endpoint_type (public,\n"
    "vpc) and signature_version (v1, v3).\n"
    "\n"
    "Exit status: 0 done, 2 usage error or a file that cannot be read or\n"
    "written (nothing is written then).\n";

constexpr std::string_view kHelpHelp =
    "Usage: kestrune help [SUBCOMMAND]\n"
    "\n"
    "Shows the program's help, or a subcommand's (as kestrune SUBCOMMAND --help).\n";

constexpr std::string_view kCompletionHelp =
    "Usage: kestrune completion bash|zsh|fish|powershell\n"
    "\n"
    "Prints the shell's completion script: subcommands, services, options and\n"
    "their values, action and parameter names (asked of this program as you\n"
    "type) and the profiles of ~/.aliyun/config.json. To load it:\n"
    "  bash        source <(kestrune completion bash)\n"
    "  zsh         kestrune completion zsh > \"${fpath[1]}/_kestrune\"\n"
    "  fish        kestrune completion fish | source\n"
    "  powershell  kestrune completion powershell | Out-String | Invoke-Expression\n";

// A subcommand's text with its options, as the option table has them, in
// place of "@OPTIONS@" or else at its end.
std::string WithOptions(std::string_view text, Subcommand subcommand) {
  constexpr std::string_view kPlace = "@OPTIONS@";
  std::string help(text);
  const std::size_t place = help.find(kPlace);
  if (place == std::string::npos) {
    help += '\n';
    help += OptionsLine(subcommand);
  } else {
    help.replace(place, kPlace.size(), OptionsLine(subcommand));
  }
  return help;
}

std::string HelpFor(Subcommand subcommand) {
  switch (subcommand) {
    case Subcommand::kList:
      return WithOptions(kListHelp, subcommand);
    case Subcommand::kCall:
      return WithOptions(kCallHelp, subcommand);
    case Subcommand::kSample:
      return WithOptions(kSampleHelp, subcommand);
    case Subcommand::kCredentials:
      return WithOptions(kCredentialsHelp, subcommand);
    case Subcommand::kDemo:
      return WithOptions(kDemoHelp, subcommand);
    case Subcommand::kDoctor:
      return WithOptions(kDoctorHelp, subcommand);
    case Subcommand::kConfigure:
      return WithOptions(kConfigureHelp, subcommand);
    case Subcommand::kHelp:
      return WithOptions(kHelpHelp, subcommand);
    case Subcommand::kCompletion:
      return WithOptions(kCompletionHelp, subcommand);
    case Subcommand::kNone:
      break;
  }
  std::string help(kMainHelp);
  help += SubcommandsHelp();
  help += '\n';
  help += OptionsHelp();
  help += kMainHelpEnd;
  return help;
}

// `kestrune help [SUBCOMMAND]`.
int RunHelp(const CommandLine& line, Console& console) {
  if (line.operands.size() > 1) return UsageError(console, "help takes one subcommand at most");
  if (line.operands.empty()) {
    console.Out(HelpFor(Subcommand::kNone));
    return kExitOk;
  }
  std::vector<std::string_view> names;
  for (const SubcommandEntry& entry : Subcommands()) {
    if (entry.name == line.operands.front()) {
      console.Out(HelpFor(entry.subcommand));
      return kExitOk;
    }
    names.push_back(entry.name);
  }
  return UsageError(console, UnknownWord("subcommand", line.operands.front(), names));
}

// `kestrune completion SHELL`.
int RunCompletion(const CommandLine& line, Console& console) {
  if (line.operands.size() != 1) {
    return UsageError(console, "completion needs one shell: bash, zsh, fish or powershell");
  }
  core::Result<std::string> script = CompletionScript(line.operands.front());
  if (!script.ok()) return UsageError(console, script.status().message());
  console.Out(*script);
  return kExitOk;
}

std::string_view& TlsLinkage() {
  static std::string_view linkage = "system, dynamic";
  return linkage;
}

int RunCommand(std::span<const std::string> arguments, Console& console) {
  core::Result<CommandLine> parsed = ParseCommandLine(arguments);
  if (!parsed.ok()) return UsageError(console, parsed.status().message());
  const CommandLine& line = *parsed;
  if (line.help) {
    console.Out(HelpFor(line.subcommand));
    return kExitOk;
  }
  if (line.version) {
    std::string text = "kestrune ";
    text += ProgramVersion();
    text += '\n';
    text += transport::TlsLibraryVersion();
    text.append(" (").append(TlsLinkage()).append(")\n");
    console.Out(text);
    return kExitOk;
  }
  switch (line.subcommand) {
    case Subcommand::kList:
      return RunList(line, console);
    case Subcommand::kCall:
      return RunCall(line, console);
    case Subcommand::kSample:
      return RunSample(line, console);
    case Subcommand::kCredentials:
      return RunCredentials(line, console);
    case Subcommand::kDemo:
      return RunDemo(line, console);
    case Subcommand::kDoctor:
      return RunDoctor(line, console);
    case Subcommand::kConfigure:
      return RunConfigure(line, console);
    case Subcommand::kHelp:
      return RunHelp(line, console);
    case Subcommand::kCompletion:
      return RunCompletion(line, console);
    case Subcommand::kNone:
      break;
  }
  return UsageError(console,
                    "a subcommand is missing: list, call, sample, credentials, demo, doctor, "
                    "configure, help or completion (see kestrune --help)");
}

}  // namespace

std::string_view ProgramVersion() { return KESTRUNE_VERSION; }

void SetTlsLinkage(std::string_view linkage) { TlsLinkage() = linkage; }

std::vector<std::string> HelpTexts() {
  std::vector<std::string> texts{HelpFor(Subcommand::kNone)};
  for (const SubcommandEntry& entry : Subcommands()) texts.push_back(HelpFor(entry.subcommand));
  return texts;
}

int RunCli(std::span<const std::string> arguments, Console& console) {
  const int status = RunCommand(arguments, console);
  const std::optional<WriteFailure> failure = console.FinishOutput();
  // A reader that went away (`kestrune ... | head`) took what it wanted.
  if (!failure || failure->closed_pipe) return status;
  // When standard error is the stream that fails, this goes nowhere; the
  // exit status still tells.
  console.Err("kestrune: write error: " + failure->reason + "\n");
  return kExitWriteError;
}

}  // namespace kestrune::cli
