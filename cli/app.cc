#include "cli/app.h"

#include "cli/command_line.h"
#include "cli/commands.h"

#ifndef KESTRUNE_VERSION
#define KESTRUNE_VERSION "0.0.0"
#endif

namespace kestrune::cli {
namespace {

constexpr std::string_view kMainHelp =
    "Usage: kestrune SUBCOMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "A client for the Aliyun RPC OpenAPI (ECS, IoT, API Gateway).\n"
    "\n"
    "Subcommands:\n"
    "  list [ecs|iot|apigateway [CATEGORY|ACTION]]\n"
    "                          services, categories, actions; with an action its parameters\n"
    "  call SERVICE ACTION [Name=Value ...]\n"
    "                          sign, send and show the reply's rows\n"
    "  sample ACTION [ACTION ...]\n"
    "                          the built-in sample responses (DescribeRegions, DescribeZones,\n"
    "                          DescribeInstanceStatus, RebootInstance, StartInstance, "
    "StopInstance)\n"
    "  credentials [ACCESS_KEY_ID]\n"
    "                          write the credential file \"sign\" (the secret is read without "
    "echo)\n"
    "  demo                    start the local simulator and take a short tour against it\n"
    "\n"
    "Options:\n"
    "  --endpoint [https://|http://]HOST[:PORT]\n"
    "                          send here instead of the service's host over HTTPS\n"
    "                          on port 443; no scheme means http:// on port 80\n"
    "                          (else KESTRUNE_ENDPOINT); Host stays the service's\n"
    "  --ca-file FILE          trust only the certificates of this PEM file for\n"
    "                          HTTPS, not the system's (else KESTRUNE_CA_FILE)\n"
    "  --tls                   demo: the tour goes over HTTPS to its own simulator\n"
    "  --region ID             the region of `sample DescribeZones`; RegionId for call and demo\n"
    "  --format table|tsv|json rows as an aligned table (default on a terminal), tab-separated\n"
    "                          lines (default otherwise) or a JSON array\n"
    "  --raw                   print the reply body as received\n"
    "  --dry-run               print the signed request and send nothing\n"
    "  --all-pages             fetch every page of a paged list and show them as one\n"
    "  --force                 send an action name that no list holds\n"
    "  --method GET|POST       how the request goes (default GET, POST when too long)\n"
    "  --debug                 trace lines and diagnostics on standard error (also "
    "KESTRUNE_TRACE=1)\n"
    "  --proxy URL             send through the HTTP proxy at\n"
    "                          http://[USER:PASSWORD@]HOST[:PORT] (port 80 when none\n"
    "                          given); --proxy '' for none at all\n"
    "  --timeout SECONDS       longest wait for the connection, for each part of the\n"
    "                          reply, and for the whole exchange\n"
    "  --help                  this text (also after a subcommand)\n"
    "  --version               the program's version\n"
    "\n"
    "Credentials: ALIBABA_CLOUD_ACCESS_KEY_ID and ALIBABA_CLOUD_ACCESS_KEY_SECRET when both are\n"
    "set, else the file \"sign\" (id:secret) in the working directory.\n"
    "\n"
    "Proxies (call): without --proxy, http_proxy for plain HTTP and https_proxy for\n"
    "TLS, else all_proxy; each in lower case first, then upper case. no_proxy lists\n"
    "hosts reached directly: names with all names below them, exact addresses, or\n"
    "*. Loopback goes through the proxy too unless listed. Only http:// proxies.\n"
    "\n"
    "Exit status: 0 good reply, 1 error reply from the service, 2 usage error,\n"
    "3 connection failure or time-out, 4 \"this function not support\".\n";

constexpr std::string_view kListHelp =
    "Usage: kestrune list [SERVICE [CATEGORY|ACTION]]\n"
    "\n"
    "  kestrune list                     the services: ecs, iot, apigateway\n"
    "  kestrune list ecs                 the categories of a service, numbered\n"
    "  kestrune list ecs 1               the actions of a category, by number or name\n"
    "  kestrune list ecs DescribeZones   an action: its parameters and their captions, and\n"
    "                                    whether it pages (call --all-pages)\n"
    "\n"
    "IoT and API Gateway actions are listed by display name with the action name beside it;\n"
    "either name may be given to `list` and `call`.\n";

constexpr std::string_view kCallHelp =
    "Usage: kestrune call SERVICE ACTION [Name=Value ...] [OPTIONS]\n"
    "\n"
    "Signs the action's request with the AccessKey pair, sends it and prints the\n"
    "rows of the reply, RequestId first. Any parameter may be given as Name=Value\n"
    "(Tag.1.Key=env, InstanceIds='[\"i-1\"]', ...); the action's own parameters (see\n"
    "`kestrune list SERVICE ACTION`) keep their places, others follow in the order\n"
    "given. A parameter not given is not sent; Name= sends an empty value. A reply\n"
    "that no formatter knows is shown as every element with a value.\n"
    "\n"
    "--all-pages fetches every page of a paged list (the largest page the action\n"
    "takes, unless PageSize is given; NextToken where the reply uses one) and shows\n"
    "one result; it stops after 1000 pages. A page that fails shows what was\n"
    "fetched, names the page and exits non-zero.\n"
    "--force sends an action name that no list holds (letters and digits).\n"
    "A request whose GET line would reach 4096 bytes goes as a form POST with the\n"
    "same parameters; --method GET|POST chooses. Limits: 256 parameters, 65535\n"
    "characters for one Name=Value, 1 MiB for the whole request.\n"
    "\n"
    "Options: --endpoint HOST[:PORT], --region ID (the RegionId parameter when not\n"
    "given), --format table|tsv|json, --raw, --dry-run, --debug, --timeout SECONDS,\n"
    "--all-pages, --force, --method GET|POST, --proxy URL (see kestrune --help).\n"
    "\n"
    "Credentials: ALIBABA_CLOUD_ACCESS_KEY_ID and ALIBABA_CLOUD_ACCESS_KEY_SECRET\n"
    "when both are set, else the file \"sign\" in the working directory (see\n"
    "`kestrune credentials`).\n"
    "\n"
    "Exit status: 0 good reply, 1 error reply from the service, 2 usage error, 3\n"
    "connection failure or time-out, 4 \"this function not support\".\n";

constexpr std::string_view kSampleHelp =
    "Usage: kestrune sample ACTION [ACTION ...] [--region ID] [--format table|tsv|json]\n"
    "\n"
    "Shows the built-in sample responses without contacting any service. ACTION is one of\n"
    "DescribeRegions, DescribeZones, DescribeInstanceStatus, RebootInstance, StartInstance,\n"
    "StopInstance. Several actions run in order in one process, so StopInstance followed by\n"
    "DescribeInstanceStatus shows the stopped instance. --region (cn-shanghai, cn-shenzhen or\n"
    "cn-beijing) chooses the zones DescribeZones shows. With --format json each action prints\n"
    "its own array.\n";

constexpr std::string_view kCredentialsHelp =
    "Usage: kestrune credentials [ACCESS_KEY_ID]\n"
    "\n"
    "Writes the credential file \"sign\" (id:secret) in the working directory. The id is the\n"
    "argument, or is read from standard input; the secret is read from standard input without\n"
    "echo. On POSIX systems the file is readable by its owner only.\n";

constexpr std::string_view kDemoHelp =
    "Usage: kestrune demo [--endpoint HOST:PORT | --tls] [--region ID]\n"
    "                     [--format table|tsv|json]\n"
    "\n"
    "Starts kestrune-sim (beside this program, or KESTRUNE_SIM) on a free loopback port with\n"
    "the demo AccessKey pair, runs DescribeRegions, DescribeZones, DescribeInstanceStatus,\n"
    "StopInstance and DescribeInstanceStatus against it, prints the rows and stops it.\n"
    "With --endpoint the tour runs against a simulator already listening there.\n"
    "With --tls the simulator serves HTTPS with a CA and certificate it makes in a\n"
    "temporary directory, and the tour goes to https://localhost:PORT trusting that CA.\n"
    "--region chooses the region of the tour (default cn-hangzhou).\n";

std::string_view HelpFor(Subcommand subcommand) {
  switch (subcommand) {
    case Subcommand::kList:
      return kListHelp;
    case Subcommand::kCall:
      return kCallHelp;
    case Subcommand::kSample:
      return kSampleHelp;
    case Subcommand::kCredentials:
      return kCredentialsHelp;
    case Subcommand::kDemo:
      return kDemoHelp;
    case Subcommand::kNone:
      break;
  }
  return kMainHelp;
}

}  // namespace

std::string_view ProgramVersion() { return KESTRUNE_VERSION; }

int RunCli(std::span<const std::string> arguments, Console& console) {
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
    case Subcommand::kNone:
      break;
  }
  return UsageError(console,
                    "a subcommand is missing: list, call, sample, credentials or demo "
                    "(see kestrune --help)");
}

}  // namespace kestrune::cli
