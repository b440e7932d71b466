// Values as the shortest decimal text that reads back as the same double: the values of the
// output for analysis tools. Rendering neither allocates nor throws.
#pragma once

#include <cstddef>
#include <span>

namespace zelp {

// The longest text: a sign, 17 digits, the point and a three-digit exponent.
inline constexpr std::size_t kShortestWidth = 24;

// Writes value as std::to_chars without a precision writes it (the fewest significant digits
// that read back as value, as fixed or scientific notation, whichever is shorter), with
// decimal_mark as the point; "inf", "-inf" and "nan" for values that are not finite. Returns
// the length.
std::size_t render_shortest(double value, std::span<char, kShortestWidth> out,
                            char decimal_mark = '.');

// As render_shortest, into out, which has room for kShortestScratch characters: the renderer
// writes whole words past the end of the text.
inline constexpr std::size_t kShortestScratch = 64;
std::size_t render_shortest_into(double value, char* out, char decimal_mark = '.');

// The same text straight from std::to_chars: the reference the fast path is tested against.
std::size_t render_shortest_reference(double value, std::span<char, kShortestWidth> out,
                                      char decimal_mark = '.');

}  // namespace zelp
