// A Console for in-process runs of the command-line program: output, errors
// and trace lines are kept in memory; the environment and the input are
// whatever the test sets.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cli/app.h"
#include "cli/console.h"

namespace kestrune::cli::clitest {

class TestConsole final : public Console {
 public:
  void Out(std::string_view text) override { out.append(text); }
  void Err(std::string_view text) override { err.append(text); }
  bool OutputIsTerminal() const override { return terminal; }
  report::DisplayEncoding OutputEncoding() const override { return encoding; }
  std::optional<std::string> Env(std::string_view name) const override {
    auto found = env.find(std::string(name));
    if (found == env.end()) return std::nullopt;
    return found->second;
  }
  core::Result<std::string> ReadLine(std::string_view prompt, bool hidden) override {
    prompts.emplace_back(prompt, hidden);
    if (next_input >= input.size()) return core::Status::Error("the input ended");
    return input[next_input++];
  }
  report::TraceSink& Trace() override { return trace; }
  std::string ProgramPath() const override { return program_path; }
  std::optional<WriteFailure> FinishOutput() override { return write_failure; }

  // Everything the run wrote anywhere, for checks that a text never appears.
  std::string Everything() const {
    std::string all = out + err;
    for (const std::string& line : trace.lines()) all += line + "\n";
    return all;
  }

  std::string out;
  std::string err;
  bool terminal = false;
  report::DisplayEncoding encoding = report::DisplayEncoding::kUtf8;
  std::map<std::string, std::string> env;
  std::vector<std::string> input;
  std::size_t next_input = 0;
  std::vector<std::pair<std::string, bool>> prompts;
  report::RecordingTraceSink trace;
  std::string program_path;
  std::optional<WriteFailure> write_failure;  // what FinishOutput reports
};

inline int RunKestrune(TestConsole& console, std::initializer_list<std::string> arguments) {
  std::vector<std::string> list(arguments);
  return RunCli(list, console);
}

inline int RunKestrune(TestConsole& console, const std::vector<std::string>& arguments) {
  return RunCli(arguments, console);
}

inline bool Contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

// Splits text into lines (without their "\n").
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Number of "\n" in a text.
inline std::size_t LineCount(const std::string& text) {
  std::size_t count = 0;
  for (char ch : text) count += ch == '\n' ? 1 : 0;
  return count;
}

}  // namespace kestrune::cli::clitest
