// The status line at the bottom of the main window: the processor's mode
// (real, protected 16- or 32-bit, virtual-8086; paging on or off) and the
// tick count, as the last stop gave them.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "exec/run_control.hpp"

GtkWidget *build_status_line(GtkWidget *box);
void status_line_stopped(const Stop &stop);
void status_line_running(bool running);
void status_line_online(bool online);

// The line's widget and the text it shows (the waiting one drawn first), for
// tests.
GtkWidget *status_line_widget();
std::string status_line_text();
