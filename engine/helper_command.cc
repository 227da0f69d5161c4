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

core::Status HelperOverdue(const std::string& program, std::chrono::milliseconds limit) {
  const std::string within = limit.count() % 1000 == 0
                                 ? std::to_string(limit.count() / 1000) + " seconds"
                                 : std::to_string(limit.count()) + " ms";
  return core::Status::Error(program + " did not finish within " + within + " and was stopped");
}

}  // namespace kestrune::engine
