#include "cli/console.h"

#include <cstdio>
#include <cstdlib>

#include "cli/terminal.h"

namespace kestrune::cli {

SystemConsole::SystemConsole(std::string argv0) : argv0_(std::move(argv0)), trace_(stderr) {}

void SystemConsole::Out(std::string_view text) {
  Note(WriteStandard(StandardStream::kOutput, text));
}

void SystemConsole::Err(std::string_view text) {
  // Standard output may hold rows not yet written; keep the two in order on
  // a shared terminal.
  Note(FlushStandard(StandardStream::kOutput));
  Note(WriteStandard(StandardStream::kError, text));
}

std::optional<WriteFailure> SystemConsole::FinishOutput() {
  Note(FlushStandard(StandardStream::kOutput));
  Note(FlushStandard(StandardStream::kError));
  return failure_;
}

void SystemConsole::Note(std::optional<WriteFailure> failure) {
  if (failure && !failure_) failure_ = std::move(failure);
}

bool SystemConsole::OutputIsTerminal() const { return IsTerminal(StandardStream::kOutput); }

report::DisplayEncoding SystemConsole::OutputEncoding() const {
  if (TerminalTakesUtf8(StandardStream::kOutput)) return report::DisplayEncoding::kUtf8;
  return report::TerminalDisplayEncoding();
}

std::optional<std::string> SystemConsole::Env(std::string_view name) const {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

core::Result<std::string> SystemConsole::ReadLine(std::string_view prompt, bool hidden) {
  return ReadInputLine(prompt, hidden);
}

std::string SystemConsole::ProgramPath() const {
  std::string path = ExecutablePath();
  return path.empty() ? argv0_ : path;
}

}  // namespace kestrune::cli
