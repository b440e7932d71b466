#include <csignal>
#include <string_view>
#include <vector>

#include "zelp/zelp.hpp"

int main(int argc, char** argv) {
  // A reader that closed its end of the output pipe is a write failure to report (EPIPE), not
  // a silent death by signal.
  std::signal(SIGPIPE, SIG_IGN);
  if (argc <= 1) return zelp::run();
  std::vector<std::string_view> args(argv + 1, argv + argc);
  return zelp::run(args);
}
