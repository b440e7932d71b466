#include <csignal>
#include <string_view>
#include <vector>

#include "kud/io/units.hpp"
#include "zelp/zelp.hpp"

int main(int argc, char** argv) {
  // A reader that closed a named pipe given as OUTPUT is a write failure to report (EPIPE). One
  // that closed standard output or error ends the run silently by SIGPIPE, as it ends grep.
  std::signal(SIGPIPE, SIG_IGN);
  kud::io::stop_on_broken_standard_pipe(true);
  if (argc <= 1) return zelp::run();
  std::vector<std::string_view> args(argv + 1, argv + argc);
  return zelp::run(args);
}
