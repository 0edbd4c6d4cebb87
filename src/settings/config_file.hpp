// The configuration file ".vumrc", read once at start-up: settings and the
// structure and list definitions. Its text is scanned by config_text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kit/widget_kit.hpp"

#include "text/config_text.hpp"
#include "text/struct_defs.hpp"

// The file read at start-up: ".vumrc" in the current directory, or the one
// the command line named (set before the window is built).
const char *config_file_name();
void set_config_file_name(const char *path);

// Reads the file and applies what it gives: the settings it names and the
// definitions, appended to struct_defs. A missing or malformed file is never
// fatal: each error is named ("FILE:LINE: what was expected") and the blocks
// after it are read; a file that is no regular file is not read at all.
void load_config(ButtonGroup *tabs);

// What is said of a stack count beyond what the stack view reads.
std::string stack_count_cut_text(uint32_t count);

// The messages of the last load (errors, a file that could not be read), for
// the history; each was printed as it came.
std::vector<std::string> take_config_messages();

// Stores the settings a file gave. The history length and the stack counts
// are kept within what the Preferences page's entries can show; the tabs
// move through `tabs` (the Preferences page's group, when built).
void apply_config_settings(const ConfigSettings &given, ButtonGroup *tabs);
