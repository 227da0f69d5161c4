#include <algorithm>

#include "cli/home.h"

namespace kestrune::cli {

std::optional<HomeFile> FindHomeFile(const Console& console, std::string_view relative) {
  std::optional<std::string> home = console.Env("USERPROFILE");
  if (!home || home->empty()) return std::nullopt;
  std::string tail = "\\" + std::string(relative);
  std::replace(tail.begin(), tail.end(), '/', '\\');
  return HomeFile{*home + tail, "%USERPROFILE%" + tail};
}

}  // namespace kestrune::cli
