#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "shell/command_line.hpp"
#include "shell/main_window.hpp"

int main(int argc, char **argv) {
  // Before the toolkit opens the display: --help, --version and a command
  // line that cannot be used need none, and no window opens for them.
  std::string text;
  switch (read_command_line(&argc, &argv, &text)) {
    case CommandLineResult::exit_success:
      fputs(text.c_str(), stdout);
      return 0;
    case CommandLineResult::exit_failure:
      fputs(text.c_str(), stderr);
      return command_line_error_status;
    case CommandLineResult::run:
      break;
  }
  start_up(&argc, &argv);
  gtk_main();
  return 0;
}
