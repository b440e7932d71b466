// RDMIX: splits the next line into word, integer, real and free-text items.
#pragma once

#include <cstdint>
#include <span>

namespace kud {

using ItemKind = std::int32_t;
inline constexpr ItemKind kInteger = 1;
inline constexpr ItemKind kReal = 2;
inline constexpr ItemKind kText = 3;

inline constexpr std::int32_t kItemText = 8;    // characters of a text item kept for the caller
inline constexpr std::int32_t kItemField = 16;  // field the text recognisers fill

// The most items a line of nchlin characters can give; the caller's arrays hold at least this.
[[nodiscard]] constexpr std::int32_t max_items(std::int32_t nchlin) { return (nchlin + 1) / 2; }

// Fetches the next line and splits it. count: -1 at end of input, 0 for no item, else the
// number of items in kinds[0..], values[0..] and texts (slot i at texts[i*width]). A fetch
// failure writes the error record on message_unit and lowers ierr; unit <= 0 returns at once.
void RDMIX(std::int32_t& count, std::span<std::int32_t> kinds, std::span<double> values,
           std::span<char> texts, std::int32_t width, std::int32_t unit, std::int32_t message_unit,
           std::int32_t& ierr);

// Whether the last RDMIX call split its line into one item or more, all of them integers or
// reals: the caller need not look through the kinds for a text.
[[nodiscard]] bool last_line_numeric();

// Switches RDMIX's one-pass recogniser of plain numbers on or off (on by default). Both ways
// give the same items and leave the same state; tests compare them.
void use_fast_numbers(bool on);

// A word: a letter, then up to 31 letters or digits, then a separator. Into TXTITM/LTXITM.
[[nodiscard]] bool ISWORD();
// The last word, cut or blank-padded to field.size().
void WRDTXT(std::span<char> field);
// Free text: a run up to the next blank unless it starts with % ! # ' *. ITMBEG/ITMEND.
[[nodiscard]] bool ISFREE();
// The last free-text item from LINRAW, folded when IUPCAS is 1, cut or padded to field.size().
void FRETXT(std::span<char> field);

}  // namespace kud
