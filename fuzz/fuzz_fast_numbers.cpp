// Arbitrary bytes as one line: RDMIX with the one-pass number recogniser must give exactly
// what the full recognisers give, items and reader state alike.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "../tests/fast_path_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  // One record: the memory text ends a line at a line feed or a NUL.
  line = line.substr(0, line.find_first_of(std::string_view("\n\0", 2)));
  if (!check::compare(line).empty()) std::abort();
  return 0;
}
