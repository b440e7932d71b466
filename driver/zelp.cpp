#include "driver/zelp.hpp"

namespace zelp {
int run() { return 0; }
int run(std::span<const std::string_view>) { return 2; }
}  // namespace zelp
