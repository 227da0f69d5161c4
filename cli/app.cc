#include "cli/app.h"

#include <array>
#include <optional>

#include "cli/command_line.h"
#include "cli/commands.h"
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
    "\n"
    "Subcommands:\n"
    "  list [SERVICE [CATEGORY|ACTION]]\n"
    "                 services (ecs, iot, apigateway), categories, actions;\n"
    "                 with an action, its parameters\n"
    "  call SERVICE ACTION [Name=Value ...]\n"
    "                 sign, send and show the reply\n"
    "  sample ACTION [ACTION ...]\n"
    "                 the built-in sample responses (no service is asked)\n"
    "  credentials [ACCESS_KEY_ID]\n"
    "                 write the credential file \"sign\" (secret read without echo)\n"
    "  demo           start the local simulator and take a short tour of it\n"
    "  doctor         check credentials, clock, network, TLS and a signed call\n"
    "\n"
    "Options:\n"
    "  --endpoint [https://|http://]HOST[:PORT]\n"
    "                           (else ALIBABA_CLOUD_ENDPOINT) a host name is the\n"
    "                           request's host: its Host header and TLS name,\n"
    "                           over HTTPS unless http:// is given; an address\n"
    "                           (IP, localhost) is only where to send, the Host\n"
    "                           header stays the region's, no scheme means\n"
    "                           http:// on port 80 (as KESTRUNE_ENDPOINT)\n"
    "  --endpoint-type public|vpc\n"
    "                           call, doctor: the region's public host\n"
    "                           (default) or its VPC host\n"
    "  --signature v1|v3        call, doctor: HMAC-SHA1 (default) or\n"
    "                           ACS3-HMAC-SHA256 (else the profile's\n"
    "                           signature_version)\n"
    "  --ca-file FILE           trust only the certificates of this PEM file for\n"
    "                           HTTPS, not the system's (else KESTRUNE_CA_FILE)\n"
    "  --proxy URL              send through the HTTP proxy at\n"
    "                           http://[USER:PASSWORD@]HOST[:PORT] (port 80 when\n"
    "                           none given); --proxy '' for none at all\n"
    "  --tls                    demo: the tour goes over HTTPS to its own simulator\n"
    "  --region ID              RegionId for call and demo (its host too, and\n"
    "                           doctor's); the zones of sample\n"
    "  --regions all|ID,ID,...  call: once per region (all: every region of\n"
    "                           ECS DescribeRegions), --parallel N at a time\n"
    "                           (1 to 64, default 32)\n"
    "  --profile NAME           call, doctor: the credentials (and default\n"
    "                           RegionId) of a profile of ~/.aliyun/config.json\n"
    "  --format table|tsv|json  an aligned table (default on a terminal),\n"
    "                           tab-separated rows (default otherwise), or the\n"
    "                           service's own JSON as one document\n"
    "  --raw                    print the reply body as received\n"
    "  --dry-run                print the signed request and send nothing\n"
    "  --all-pages              fetch every page of a paged list as one\n"
    "  --all-fields             call: every value of the reply, named by its\n"
    "                           path below its record, one group per record\n"
    "  --max-bytes N[K|M|G]     --all-pages: the most the joined pages may take\n"
    "                           (default 1G); past it the walk stops, exit 2\n"
    "  --force                  send an action or parameter name as typed\n"
    "  --method GET|POST        how the request goes (GET unless too long)\n"
    "  --debug                  show the exchange on standard error: request,\n"
    "                           string to sign, reply headers, sizes, times\n"
    "  --trace                  the engine's trace lines on standard error: each\n"
    "                           step of the exchange and each value shown (also\n"
    "                           KESTRUNE_TRACE=1)\n"
    "  --timeout SECONDS        longest wait to connect, for each part of the\n"
    "                           reply, for the whole exchange, and for every\n"
    "                           attempt of a call with the waits between them\n"
    "  --connect-timeout SECONDS  longest wait to connect, for each attempt\n"
    "  --read-timeout SECONDS   longest wait for each part of the reply\n"
    "  --retries N              call: send a request again at most N times (0 to\n"
    "                           20, default 3; 0: never) when it cannot have\n"
    "                           been carried out, or harmlessly can be again\n"
    "  --wait-for FIELD=VALUE[,VALUE...]\n"
    "                           call: call again until the reply's FIELD (such\n"
    "                           as Status or Instances.Instance.Status) holds\n"
    "                           one of the values in every record (an action\n"
    "                           that only reads)\n"
    "  --wait-fail VALUE[,VALUE...]  stop waiting, unreached, when one shows\n"
    "  --wait-interval SECONDS  between the calls of --wait-for (default 5)\n"
    "  --wait-timeout SECONDS   longest wait of --wait-for (default 180)\n"
    "  --help                   this text (also after a subcommand)\n"
    "  --version                the program's version\n"
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
    "Options: --endpoint URL, --endpoint-type public|vpc, --signature v1|v3,\n"
    "--ca-file FILE,\n"
    "--proxy URL, --profile NAME,\n"
    "--region ID (RegionId when not given), --format table|tsv|json, --raw,\n"
    "--dry-run, --debug, --trace, --timeout SECONDS, --retries N, --all-pages,\n"
    "--all-fields,\n"
    "--force, --method GET|POST, --regions all|ID,ID,..., --parallel N,\n"
    "--wait-for FIELD=VALUE[,VALUE...], --wait-fail VALUE[,VALUE...],\n"
    "--wait-interval SECONDS, --wait-timeout SECONDS.\n"
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
    "with --format json one array of {\"region\": ID, \"reply\": ...}. Errors\n"
    "and notes name their region. The exit status is the worst of the calls':\n"
    "3, then 2, 4, 1, 0.\n"
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

constexpr std::array<std::string_view, 7> kHelpTexts = {
    kMainHelp, kListHelp, kCallHelp, kSampleHelp, kCredentialsHelp, kDemoHelp, kDoctorHelp};

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
    case Subcommand::kDoctor:
      return kDoctorHelp;
    case Subcommand::kNone:
      break;
  }
  return kMainHelp;
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
    case Subcommand::kNone:
      break;
  }
  return UsageError(console,
                    "a subcommand is missing: list, call, sample, credentials, demo or doctor "
                    "(see kestrune --help)");
}

}  // namespace

std::string_view ProgramVersion() { return KESTRUNE_VERSION; }

void SetTlsLinkage(std::string_view linkage) { TlsLinkage() = linkage; }

std::span<const std::string_view> HelpTexts() { return kHelpTexts; }

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
