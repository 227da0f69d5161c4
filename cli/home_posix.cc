#include "cli/home.h"

#include <string>
#include <utility>

namespace kestrune::cli {

std::optional<HomeFile> FindHomeFile(const Console& console, std::string_view relative) {
  std::optional<std::string> home = console.Env("HOME");
  if (!home || home->empty()) return std::nullopt;
  // Built by appending: GCC 12 warns falsely on "literal" + std::string.
  std::string path = *home;
  path.append("/").append(relative);
  std::string shown = "~/";
  shown.append(relative);
  return HomeFile{std::move(path), std::move(shown)};
}

}  // namespace kestrune::cli
