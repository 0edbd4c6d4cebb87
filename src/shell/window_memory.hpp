// What the main window looked like when VUM last ended, brought back at the
// next start: its size, whether the CPU state panel was shown, and the page
// in front. Kept in a key file, window, under the user's configuration
// directory ($XDG_CONFIG_HOME/vum, else ~/.config/vum).
#pragma once

#include <string>

struct WindowMemory {
  int width = 630;
  int height = 500;
  bool state_shown = false;
  std::string page;  // the title of the page in front; empty: the first
};

// The file's path.
std::string window_memory_path();

// The file's contents. A missing file, one that cannot be read, or one with
// a value that does not fit gives the defaults and a "VUM: ..." message on
// standard output; a value the file does not give is the default, quietly.
WindowMemory read_window_memory();

// Writes the file (and its directory), replacing it whole; a failure is
// named in a "VUM: ..." message and otherwise ignored.
void save_window_memory(const WindowMemory &memory);

// The sizes read and kept: anything else in the file makes it broken.
const int smallest_window_side = 100;
const int largest_window_side = 16384;
