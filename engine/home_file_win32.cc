#include <algorithm>
#include <utility>

#include "engine/home_file.h"

namespace kestrune::engine {

std::optional<HomeFile> FindHomeFile(const transport::VariableLookup& env,
                                     std::string_view relative) {
  std::optional<std::string> home = env("USERPROFILE");
  if (!home || home->empty()) return std::nullopt;
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on
  // "literal" + std::string here.
  std::string tail(1, '\\');
  tail += relative;
  std::replace(tail.begin(), tail.end(), '/', '\\');
  std::string shown = "%USERPROFILE%";
  shown += tail;
  return HomeFile{*home + tail, std::move(shown)};
}

}  // namespace kestrune::engine
