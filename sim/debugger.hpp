// The debugger front: the command loop on standard input, the replies on
// standard error, breakpoints, watchpoints, tracing, running and SIGINT.
#pragma once

#include <string>
#include <vector>

#include "machine.hpp"
#include "options.hpp"
#include "points.hpp"

namespace sim {

// Runs the debugger on the machine until "q" or the end of standard input;
// returns the exit status.
int run_debugger(Machine &m, const Options &options, const std::string &image_name,
                 const std::vector<std::string> &notes);

// The words of a command line: runs of bytes other than blanks (space, tab,
// CR, VT, FF).
std::vector<std::string> split_words(const std::string &line);

// Address texts of the commands: hexadecimal with an optional 0x prefix.
bool parse_address(const std::string &text, uint32_t *out);

// "/NUF": N decimal (default 1), U one of bhwg (default w), F one of xduto
// (default x); the two letters in either order, after the count.
bool parse_examine_spec(const std::string &text, unsigned *count, char *unit, char *format);

}  // namespace sim
