// The fetch of the next significant line into the reader's working line.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kud {

// RDMEM flag when the memory text holds no further line.
inline constexpr std::int32_t kMemNoLine = 91;

// Reads records from LUNRD until one is neither a comment nor blank and builds LINE, IPOS and
// LENLIN from it. Sets ISTAT; applies the end-of-file policy (which may stop the program) and
// reports read errors on LUNMSG.
void RDLINE();

// Builds the working line 32 columns at a time where the processor can (the default), or 16
// at a time everywhere. Both give the same line; tests compare them.
void use_wide_fetch(bool on);

// Takes the next line of the memory text into buffer (buffer[0] is column 1), blank-padded to
// nchlin characters. flag: 0, or kMemNoLine when there is no further line.
void RDMEM(std::span<char> buffer, std::int32_t nchlin, std::int32_t& flag);

// Writes a blank and text as one record to unit (>0), standard output (0) or nowhere (<0).
void RDECHO(std::string_view text, std::int32_t unit);

// Writes one message record to the reader's message unit rule: >0 unit, 0 standard output,
// <0 nowhere.
void write_message(std::int32_t unit, std::string_view text);

}  // namespace kud
