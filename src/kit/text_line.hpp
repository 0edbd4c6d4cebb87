// A line of text drawn on the window's own background, for a line that
// changes at every step (the status line). A new text redraws only the
// part that differs from the one shown, from the first character that
// changed to the end of the longer of the two; nothing is laid out again
// but the line itself, and the window's size never depends on the text.
#pragma once

#include <gtk/gtk.h>

#include <string>

// Makes the line, packed into `box` to take the room left.
GtkWidget *add_text_line(GtkWidget *box);

// Shows `text` (UTF-8); the same text again draws nothing.
void text_line_set(GtkWidget *line, const char *text);
std::string text_line_get(GtkWidget *line);

// The rectangle the last text_line_set marked for drawing again, in the
// line's own coordinates (width 0 when nothing was): for tests.
GdkRectangle text_line_last_redrawn(GtkWidget *line);
