// The home directory's files as the console's environment names them: the
// engine's seam (engine/home_file.h) read through a Console.
//
// Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string_view>

#include "cli/console.h"
#include "engine/home_file.h"

namespace kestrune::cli {

using HomeFile = engine::HomeFile;

inline std::optional<HomeFile> FindHomeFile(const Console& console, std::string_view relative) {
  return engine::FindHomeFile([&console](std::string_view name) { return console.Env(name); },
                              relative);
}

}  // namespace kestrune::cli
