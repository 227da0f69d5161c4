#include "engine/helper_command.h"

namespace kestrune::engine {

std::vector<std::string> SplitCommand(std::string_view command) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < command.size()) {
    at = command.find_first_not_of(" \t", at);
    if (at == std::string_view::npos) break;
    std::size_t end = command.find_first_of(" \t", at);
    if (end == std::string_view::npos) end = command.size();
    words.emplace_back(command.substr(at, end - at));
    at = end;
  }
  return words;
}

}  // namespace kestrune::engine
