// Command-line options, the environment variables that stand for them (the
// front end starts the program as "bochs -q" through the shell, so tests
// reach it through the environment), and the initial-state file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "machine.hpp"

namespace sim {

struct Options {
  std::string transcript;  // VUM_SIM_TRANSCRIPT / --transcript
  std::string state;       // VUM_SIM_STATE / --state
  std::string image;       // VUM_SIM_IMAGE / --image
  std::string guest;       // VUM_SIM_GUEST / --guest: a built-in guest
  bool magic_break = false;            // VUM_SIM_MAGIC_BREAK / --magic-break
  bool reset_on_triple_fault = false;  // VUM_SIM_RESET_ON_TRIPLE_FAULT / --reset-on-triple-fault
  // VUM_SIM_FAIL_START / --fail-start: the start fails with this text.
  bool fail_start = false;
  std::string fail_text;
  bool exit_before_prompt = false;
  uint64_t exit_after = 0;      // 0: off
  uint64_t exit_mid_reply = 0;  // 0: off
  unsigned delay_ms = 0;
  // Faults for the front end's deadlines and its stop paths.
  uint64_t silent_after = 0;          // 0: off
  uint64_t silent_mid_reply = 0;      // 0: off
  uint64_t close_replies_after = 0;   // 0: off
  bool ignore_sigint = false;
  bool ignore_quit = false;
  bool ignore_sigterm = false;
  bool help = false;
  std::vector<std::string> notes;  // for the start-up text
};

// Reads the environment first; options given on the command line win.
// `getenv` is passed in so that tests can supply their own environment.
Options parse_options(int argc, char **argv, const char *(*getenv)(const char *));

// The usage text of --help.
std::string usage_text();

// Applies an initial-state text (see the usage text) to a machine that has
// been reset and loaded. Lines that cannot be used are reported in `notes`.
void apply_state(const std::string &text, Machine &m, std::vector<std::string> *notes);

// Reads a whole file; false when it cannot be read.
bool read_file(const std::string &path, std::string *out);

}  // namespace sim
