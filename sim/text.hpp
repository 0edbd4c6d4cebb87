// Words and numbers of command lines, option values and state files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The runs of bytes other than blanks (space, tab, CR, VT, FF).
std::vector<std::string> split_words(const std::string &line);

// Hexadecimal with an optional 0x prefix, at most `max`.
bool parse_hex(const std::string &text, uint64_t max, uint64_t *out);

// Decimal digits only, at most `max`.
bool parse_decimal(const std::string &text, uint64_t max, uint64_t *out);

}  // namespace sim
