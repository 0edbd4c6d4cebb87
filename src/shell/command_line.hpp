// The command line: vum [--bochsrc FILE] [--symbols FILE] [--config FILE],
// --help, --version and the toolkit's own options. It is read before the
// toolkit opens the display, so that --help, --version and every error
// need none, and so that an error ends VUM before any window opens.
#pragma once

#include <string>

// What the command line gave; an empty string: not given.
struct CommandLine {
  std::string bochsrc;  // the emulator's configuration: the debugger runs "bochs -q -f FILE"
  std::string symbols;  // a symbol file, loaded once the window is built
  std::string config;   // the .vumrc read in place of the one in the current directory
};
CommandLine &command_line();

enum class CommandLineResult {
  run,           // open the window
  exit_success,  // --version: `text` goes to standard output
  exit_failure,  // an error: `text` goes to standard error
};

// The exit status of a command line that cannot be used.
const int command_line_error_status = 2;

// Takes VUM's options and the toolkit's out of argv (as gtk_init does) and
// checks that every file named can be read; fills command_line(). --help
// (and the toolkit's --help-gtk, --help-all) print their text and end the
// program with status 0 inside.
CommandLineResult read_command_line(int *argc, char ***argv, std::string *text);

// What is being debugged, for the window's title: the bochsrc given on the
// command line, else $VUM_BOCHSRC, else "simulated PC" when the `bochs` first
// on PATH is VUM's simulated PC, else a bochsrc of the current directory
// (bochsrc, .bochsrc, bochsrc.txt, as the bridge looks), else "demo floppy"
// when `bochs` is the bridge, else "Bochs, no bochsrc".
std::string debugged_target();
