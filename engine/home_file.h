// The platform seam for files in the user's home directory: which variable
// names it (HOME on POSIX, USERPROFILE on Windows) and how messages name a
// file there ("~/.aliyun/config.json", "%USERPROFILE%\.aliyun\config.json").
// home_file_posix.cc and home_file_win32.cc implement it.
//
// Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "transport/proxy.h"

namespace kestrune::engine {

struct HomeFile {
  std::string path;   // to open
  std::string shown;  // for messages
};

// The file at `relative` ("/"-separated) below the home directory the
// environment `env` names; nullopt when the variable is unset or empty.
std::optional<HomeFile> FindHomeFile(const transport::VariableLookup& env,
                                     std::string_view relative);

}  // namespace kestrune::engine
