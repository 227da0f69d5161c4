#include <string>
#include <utility>

#include "engine/home_file.h"

namespace kestrune::engine {

std::optional<HomeFile> FindHomeFile(const transport::VariableLookup& env,
                                     std::string_view relative) {
  std::optional<std::string> home = env("HOME");
  if (!home || home->empty()) return std::nullopt;
  // Built by appending: GCC 12 warns falsely on "literal" + std::string.
  std::string path = *home;
  path.append("/").append(relative);
  std::string shown = "~/";
  shown.append(relative);
  return HomeFile{std::move(path), std::move(shown)};
}

}  // namespace kestrune::engine
