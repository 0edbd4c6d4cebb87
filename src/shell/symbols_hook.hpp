// Where a symbol file goes, from the command line (--symbols FILE) and from
// File > Load Symbols...: the loader of the page that shows code by its
// symbols. The shell only names the file; the page reads it.
#pragma once

void load_symbols_file(const char *path);
