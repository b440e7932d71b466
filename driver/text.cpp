#include "driver/text.hpp"

namespace zelp {
void UPCASE(std::span<char> text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
}
}  // namespace zelp
