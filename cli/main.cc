// `kestrune`: the command-line face of the request engine.
#include <string>
#include <vector>

#include "cli/app.h"
#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
#ifdef KESTRUNE_TLS_LINKAGE
  kestrune::cli::SetTlsLinkage(KESTRUNE_TLS_LINKAGE);
#endif
  kestrune::cli::KeepMemoryOutOfCoreFiles();
  kestrune::cli::ReturnLargeBuffersWhenFreed();
  kestrune::cli::CatchInterrupt();
  kestrune::cli::PrepareStandardStreams();
  const std::vector<std::string> arguments = kestrune::cli::CommandLineArguments(argc, argv);
  kestrune::cli::SystemConsole console(argc > 0 ? argv[0] : "kestrune");
  // RunCli has written out and checked both streams.
  return kestrune::cli::RunCli(arguments, console);
}
