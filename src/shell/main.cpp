#include <gtk/gtk.h>

#include "shell/main_window.hpp"

int main(int argc, char **argv) {
  start_up(&argc, &argv);
  gtk_main();
  return 0;
}
