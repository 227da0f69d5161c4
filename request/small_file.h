// Whole-file reads and atomic writes of small files, the one platform seam of
// the credential files. small_file_posix.cc and small_file_win32.cc implement it;
// CMake picks one. Paths are UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/status.h"

namespace kestrune::request {

// The file's bytes. Fails, naming the file, when it cannot be opened or read,
// when it is not a regular file (a directory, a pipe, a device: refused
// without waiting on it or reading a byte), or when it holds more than
// `limit` bytes (then nothing is returned).
core::Result<std::string> ReadSmallFile(const std::string& path, std::size_t limit);

// The same, except that a file (or a directory on its path) that does not
// exist gives nullopt rather than an error: for files that may or may not be
// there, where only one that is there but cannot be read is a fault.
core::Result<std::optional<std::string>> ReadSmallFileIfPresent(const std::string& path,
                                                                std::size_t limit);

// Whether a file that holds credentials can be trusted: it (or, through a
// symbolic link, its target) must belong to the user running the program and
// must not be writable by anyone else, or another user could plant a key pair
// of theirs. On POSIX systems that is the file's owner and its write bit for
// others; on Windows its owner (the user, or the Administrators group the
// user acts in) and every entry of its access list that grants a write, which
// must name the user, the owner, SYSTEM or Administrators. An error naming
// the file and the reason otherwise.
core::Status CheckOwnFile(const std::string& path);

// Makes the directory `path` (its parent must exist), readable by its owner
// only (a mode of 0700; on Windows an access list naming the user alone). OK
// when a directory is there already, which is left as it is.
core::Status CreatePrivateDirectory(const std::string& path);

// Replaces the file by `content`: written to a temporary file beside it,
// flushed, then renamed over it. The temporary file is always a new one
// (never a file or link already there) under a name no one can predict, and
// readable by its owner only from the moment it exists (a mode of 0600; on
// Windows an access list naming the user alone). On failure the old file is
// left as it was.
core::Status WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace kestrune::request
