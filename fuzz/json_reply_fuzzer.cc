// The JSON form of replies over arbitrary bytes: the engine's page join and
// error code, and what --format json prints (the document, the error text,
// the leaf rows). Besides the sanitizers' checks (a text nested thousands of
// levels deep overflowed the stack when printed), what is printed must be
// one valid JSON document no deeper than the limit, and a text past the
// limit must be refused rather than shown.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/json_output.h"
#include "core/json_depth.h"
#include "engine/json_walk.h"
#include "engine/reply_forms.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "contract broken: %s\n", what);
  std::abort();
}

// Whether `text` is one JSON document nested at most `limit` levels deep.
bool ValidDocument(const std::string& text, std::size_t limit = kestrune::core::kJsonDepthLimit) {
  if (kestrune::core::JsonNestsDeeperThan(text, limit)) return false;
  return nlohmann::json::accept(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const bool deep = kestrune::core::JsonNestsDeeperThan(reply);

  kestrune::cli::JsonDocument document;
  const std::string note = "a note";
  const auto complaint = document.AddReply(reply, {&note, 1});
  if (deep && !complaint) Fail("a reply past the depth limit was accepted");
  const std::string single = document.Render(false);
  if (complaint && !single.empty()) Fail("a refused reply was printed");
  if (!single.empty() && !ValidDocument(single)) Fail("the printed reply is not one document");
  kestrune::cli::JsonDocument regions;
  regions.AddRegionReply("cn-hangzhou", document, "ConnectionFailed", "connection failed");
  // The array and the region's object add two levels around the reply.
  if (!ValidDocument(regions.Render(true), kestrune::core::kJsonDepthLimit + 2))
    Fail("the region array is not one document");

  (void)kestrune::cli::ReadServiceError(reply);
  const auto rows = kestrune::cli::JsonLeafRows(reply);
  if (deep && !rows.empty()) Fail("leaf rows from a reply past the depth limit");
  (void)kestrune::engine::JsonErrorCode(400, reply);

  // Two pages of the same reply joined: the result is the first page as
  // received (not an object) or one valid document.
  const auto join = kestrune::engine::MakeJsonPageJoin("Instances");
  constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();
  (void)join->Add(std::string(reply), kNoLimit);
  (void)join->Add(std::string(reply), kNoLimit);
  const std::string joined = join->Finish("");
  if (joined != reply && !ValidDocument(joined)) Fail("the joined pages are not one document");

  // The same two pages written as a walk writes them, without joining: the
  // very document the joined pages print.
  kestrune::engine::JsonWalk walk("Instances");
  (void)walk.Add(std::string(reply), kNoLimit);
  (void)walk.Add(std::string(reply), kNoLimit);
  const std::string unjoined = walk.Finish("");
  if (!walk.joined()) {
    if (unjoined != joined) Fail("the walk kept another first page than the join");
    return 0;
  }
  std::string written;
  if (!walk.Write({&note, 1}, std::nullopt,
                  [&written](std::string_view piece) { written += piece; })) {
    Fail("the walk's records were not read back whole");
  }
  kestrune::cli::JsonDocument whole;
  if (whole.AddReply(joined, {&note, 1})) Fail("the walk joined pages the join cannot show");
  if (written != whole.Render(false)) Fail("the walk wrote another document than the join");
  return 0;
}
