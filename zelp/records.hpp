// The exact form of every record the driver writes: banner, fixed-point fields, data and text
// records, summary. Rendering neither allocates nor throws.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zelp {

inline constexpr std::int32_t kFieldWidth = 14;   // one rendered value
inline constexpr std::int32_t kFieldStep = 15;    // the value and its TAB
inline constexpr std::int32_t kCountWidth = 6;    // the summary's count
inline constexpr std::int32_t kNameLength = 256;  // name, answer and text-line buffers
inline constexpr char kTab = '\t';

// Renders value rounded half-to-even to three decimals, right-aligned in 14 characters, with
// decimal_mark as the point; 14 asterisks when wider; "Infinity", "-Infinity", "NaN" for
// non-finite values.
void render_field(double value, std::span<char, kFieldWidth> field, char decimal_mark = '.');

// The same rendering through std::to_chars: the reference the fast path is tested against.
void render_field_reference(double value, std::span<char, kFieldWidth> field,
                            char decimal_mark = '.');

// Renders n right-aligned in 6 characters, or 6 asterisks.
void render_count(std::int32_t n, std::span<char, kCountWidth> field);

// Fills record with one field and a TAB per value; returns the length, 15 * values.size().
// record.size() must be at least that.
std::size_t assemble_data_record(std::span<const double> values, std::span<char> record,
                                 char decimal_mark = '.');

// The copied text record of a 256-character line buffer: "#" then characters 2..LENTRM.
// Returns the view of the record inside out (out.size() >= line.size()).
std::string_view assemble_text_record(std::string_view line, std::span<char> out);

// The 16 banner records, in order.
[[nodiscard]] std::span<const std::string_view> banner_records();

// How the summary shows a count too wide for its 6 characters: as 6 asterisks (the dialogue)
// or with all its digits (the command line).
enum class WideCount : std::uint8_t { kAsterisks, kWhole };

// The summary's middle record: the count right-aligned in 6 characters (wider as wide says) and
// " lines with plot data found". Empty when out is too small.
std::string_view summary_record(std::int32_t count, std::span<char> out,
                                WideCount wide = WideCount::kAsterisks);

}  // namespace zelp
