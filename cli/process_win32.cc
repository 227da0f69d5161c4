#include <windows.h>

#include <string>
#include <vector>

#include "cli/process.h"
#include "core/wide_text.h"

namespace kestrune::cli {

// The simulator is a POSIX program; on Windows the demo talks to one started
// elsewhere, so there is nothing to spawn here.
struct ChildProcess::State {};

core::Result<ChildProcess> ChildProcess::Start(const std::string&, const std::vector<std::string>&,
                                               bool) {
  return core::Status::Error("starting the simulator is not supported on Windows");
}

ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;
ChildProcess::~ChildProcess() = default;

core::Result<std::string> ChildProcess::ReadOutputLine(std::chrono::milliseconds) {
  return core::Status::Error("no process");
}

void ChildProcess::Stop(std::chrono::milliseconds) {}

bool IsExecutableFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(core::ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace kestrune::cli
