// What the command-line program sees of its surroundings: the output and
// error streams, the input it reads credentials from, the environment, the
// trace stream and where the program itself lives. SystemConsole is the real
// process; tests supply their own.
//
// A Console belongs to one command run; not thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/terminal.h"
#include "core/status.h"
#include "report/display_text.h"
#include "report/trace_sink.h"

namespace kestrune::cli {

class Console {
 public:
  virtual ~Console() = default;

  // Standard output, written as given (UTF-8 or the display encoding).
  virtual void Out(std::string_view text) = 0;
  // Standard error.
  virtual void Err(std::string_view text) = 0;
  virtual bool OutputIsTerminal() const = 0;
  // The encoding a table or tab-separated lines are printed in.
  virtual report::DisplayEncoding OutputEncoding() const = 0;
  // An environment variable; nullopt when unset.
  virtual std::optional<std::string> Env(std::string_view name) const = 0;
  // Writes `prompt` to the error stream when the input is a terminal, then
  // reads one line of input without its line end. `hidden`: the typed text is
  // not echoed. An error when the input ends before a line.
  virtual core::Result<std::string> ReadLine(std::string_view prompt, bool hidden) = 0;
  // Where trace lines go when tracing is asked for.
  virtual report::TraceSink& Trace() = 0;
  // The running program's file, for finding the programs built beside it; ""
  // when unknown.
  virtual std::string ProgramPath() const = 0;
  // Writes out whatever is still buffered and tells the first write to
  // standard output or error that failed during the run, if any.
  virtual std::optional<WriteFailure> FinishOutput() = 0;
};

// The real standard streams, environment and terminal of this process.
class SystemConsole final : public Console {
 public:
  // `argv0` is a fallback for ProgramPath where the system cannot tell.
  explicit SystemConsole(std::string argv0);

  void Out(std::string_view text) override;
  void Err(std::string_view text) override;
  bool OutputIsTerminal() const override;
  report::DisplayEncoding OutputEncoding() const override;
  std::optional<std::string> Env(std::string_view name) const override;
  core::Result<std::string> ReadLine(std::string_view prompt, bool hidden) override;
  report::TraceSink& Trace() override { return trace_; }
  std::string ProgramPath() const override;
  std::optional<WriteFailure> FinishOutput() override;

 private:
  void Note(std::optional<WriteFailure> failure);

  std::string argv0_;
  std::optional<WriteFailure> failure_;
  report::StderrTraceSink trace_;
};

}  // namespace kestrune::cli
