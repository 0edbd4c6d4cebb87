// The configuration file ".vumrc", read once at start-up: settings and the
// structure and list definitions. Its text is scanned by config_text.
#pragma once

#include <cstdint>

#include "kit/widget_kit.hpp"

#include "text/config_text.hpp"
#include "text/struct_defs.hpp"

// The file read at start-up: ".vumrc" in the current directory, or the one
// the command line named (set before the window is built).
const char *config_file_name();
void set_config_file_name(const char *path);

// Reads the file and applies what it gives: the settings it names and the
// definitions, appended to struct_defs. A missing or malformed file is never
// fatal; whatever came before the first error stays in effect.
void load_config(ButtonGroup *tabs);

// Stores the settings a file gave. The history length and the stack counts
// are kept within what the Preferences page's entries can show; the tabs
// move through `tabs` (the Preferences page's group, when built).
void apply_config_settings(const ConfigSettings &given, ButtonGroup *tabs);
