#include "cli/home.h"

namespace kestrune::cli {

std::optional<HomeFile> FindHomeFile(const Console& console, std::string_view relative) {
  std::optional<std::string> home = console.Env("HOME");
  if (!home || home->empty()) return std::nullopt;
  const std::string tail = "/" + std::string(relative);
  return HomeFile{*home + tail, "~" + tail};
}

}  // namespace kestrune::cli
