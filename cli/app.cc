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
    "                          services, categories, actions; with an action\n"
    "                          its parameters\n"
    "  call SERVICE ACTION [Name=Value ...]\n"
    "                          sign, send and show the reply's rows\n"
    "  sample ACTION [ACTION ...]\n"
    "                          the built-in sample responses (DescribeRegions,\n"
    "                          DescribeZones, DescribeInstanceStatus,\n"
    "                          RebootInstance, StartInstance, StopInstance)\n"
    "  credentials [ACCESS_KEY_ID]\n"
    "                          write the credential file \"sign\" (the secret is\n"
    "                          read without echo)\n"
    "  demo                    start the local simulator and take a short tour\n"
    "                          against it\n"
    "\n"
    "Options:\n"
    "  --endpoint HOST[:PORT]  send to this address instead of the service's host\n"
    "                          on port 80 (else KESTRUNE_ENDPOINT); the Host\n"
    "                          header stays the service's\n"
    "  --region ID             the region of `sample DescribeZones`; RegionId for\n"
    "                          call and demo\n"
    "  --profile NAME          call: the credentials (and default RegionId) of a\n"
    "                          profile of ~/.aliyun/config.json\n"
    "  --format table|tsv|json rows as an aligned table (default on a terminal),\n"
    "                          tab-separated lines (default otherwise) or a JSON\n"
    "                          array\n"
    "  --raw                   print the reply body as received\n"
    "  --dry-run               print the signed request and send nothing\n"
    "  --all-pages             fetch every page of a paged list and show them as\n"
    "                          one\n"
    "  --force                 send an action name that no list holds\n"
    "  --method GET|POST       how the request goes (default GET, POST when too\n"
    "                          long)\n"
    "  --debug                 trace lines and diagnostics on standard error (also\n"
    "                          KESTRUNE_TRACE=1)\n"
    "  --timeout SECONDS       longest wait for the connection and for each part\n"
    "                          of the reply\n"
    "  --help                  this text (also after a subcommand)\n"
    "  --version               the program's version\n"
    "\n"
    "Credentials, the first source that holds them (see kestrune call --help):\n"
    "--profile NAME or ALIBABA_CLOUD_PROFILE; ALIBABA_CLOUD_ACCESS_KEY_ID and\n"
    "ALIBABA_CLOUD_ACCESS_KEY_SECRET (with ALIBABA_CLOUD_SECURITY_TOKEN for\n"
    "temporary credentials); the file \"sign\" (id:secret) in the working\n"
    "directory; the current profile of ~/.aliyun/config.json; the [default]\n"
    "section of ~/.alibabacloud/credentials.\n"
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
    "given), --profile NAME, --format table|tsv|json, --raw, --dry-run, --debug,\n"
    "--timeout SECONDS, --all-pages, --force, --method GET|POST.\n"
    "\n"
    "Credentials come from the first of these sources that holds them (--debug\n"
    "names it); one that is there but incomplete or unusable is an error:\n"
    "  1. --profile NAME (or ALIBABA_CLOUD_PROFILE): that profile of the Aliyun\n"
    "     command line's ~/.aliyun/config.json, mode AK or StsToken;\n"
    "  2. ALIBABA_CLOUD_ACCESS_KEY_ID and ALIBABA_CLOUD_ACCESS_KEY_SECRET, with\n"
    "     ALIBABA_CLOUD_SECURITY_TOKEN for temporary (STS) credentials;\n"
    "  3. the file \"sign\" in the working directory (see kestrune credentials);\n"
    "  4. the current profile of ~/.aliyun/config.json;\n"
    "  5. the [default] section of ~/.alibabacloud/credentials (or of the file\n"
    "     ALIBABA_CLOUD_CREDENTIALS_FILE names), type access_key or sts.\n"
    "On Windows ~ is %USERPROFILE%. A profile's region_id is the RegionId of an\n"
    "action that takes one when neither RegionId= nor --region is given. A\n"
    "security token is signed into every request as SecurityToken and is never\n"
    "shown: --dry-run prints *** in its place.\n"
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
    "Writes the credential file \"sign\" (id:secret) in the working directory.\n"
    "The id is the argument, or is read from standard input; the secret is read\n"
    "from standard input without echo. On POSIX systems the file is readable by\n"
    "its owner only. A file written by hand may end with a line break; white\n"
    "space around the id and the secret is not part of them.\n"
    "\n"
    "`kestrune call` also takes credentials from the environment and from the\n"
    "files of the Aliyun command line and SDKs; see kestrune call --help.\n";

constexpr std::string_view kDemoHelp =
    "Usage: kestrune demo [--endpoint HOST:PORT] [--region ID] [--format table|tsv|json]\n"
    "\n"
    "Starts kestrune-sim (beside this program, or KESTRUNE_SIM) on a free loopback port with\n"
    "the demo AccessKey pair, runs DescribeRegions, DescribeZones, DescribeInstanceStatus,\n"
    "StopInstance and DescribeInstanceStatus against it, prints the rows and stops it.\n"
    "With --endpoint the tour runs against a simulator already listening there.\n"
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
