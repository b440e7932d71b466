#include <string_view>
#include <vector>

#include "driver/zelp.hpp"

int main(int argc, char** argv) {
  if (argc <= 1) return zelp::run();
  std::vector<std::string_view> args(argv + 1, argv + argc);
  return zelp::run(args);
}
