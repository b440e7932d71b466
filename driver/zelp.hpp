// The ZELP program: the console dialogue, the read-classify-write loop and the summary.
#pragma once

#include <span>
#include <string_view>

namespace zelp {

// The program as started without arguments: banner, three questions, extraction, summary.
// Returns the exit status.
int run();

// The program with arguments (command-line mode). args excludes the program name.
int run(std::span<const std::string_view> args);

}  // namespace zelp
