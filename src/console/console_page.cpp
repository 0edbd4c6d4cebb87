#include "console/console_page.hpp"

#include <gdk/gdkkeysyms.h>

#include <cstring>

#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"
#include "text/console_rules.hpp"

ConsoleEvents console_events = {};

namespace {

ConsolePage C = {};

bool scroll_waiting = false;

gboolean scroll_to_end(gpointer) {
  scroll_waiting = false;
  if (C.view == NULL) return FALSE;
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(C.text, &end);
  GtkTextMark *bottom = gtk_text_buffer_get_mark(C.text, "bottom");
  gtk_text_buffer_move_mark(C.text, bottom, &end);
  gtk_text_view_scroll_to_mark(GTK_TEXT_VIEW(C.view), bottom, 0.0, TRUE, 0.0, 1.0);
  return FALSE;
}

// Appends text to the view and scrolls to its end; the oldest lines go
// when the text grows past its limit.
void append(const std::string &text) {
  if (C.view == NULL) return;
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(C.text, &end);
  gtk_text_buffer_insert(C.text, &end, text.data(), (gint)text.size());
  gint characters = gtk_text_buffer_get_char_count(C.text);
  if ((size_t)characters > console_text_limit) {
    GtkTextIter start, cut;
    gtk_text_buffer_get_start_iter(C.text, &start);
    gtk_text_buffer_get_iter_at_offset(C.text, &cut, characters - (gint)console_text_limit);
    if (!gtk_text_iter_starts_line(&cut)) gtk_text_iter_forward_line(&cut);
    gtk_text_buffer_delete(C.text, &start, &cut);
  }
  // The view is laid out when the main loop is idle: it is scrolled then.
  if (!scroll_waiting) g_idle_add_full(G_PRIORITY_LOW, scroll_to_end, NULL, NULL);
  scroll_waiting = true;
}

// A line of its own, ending in a newline.
void append_line(const std::string &text) {
  if (text.empty() || text.back() != '\n')
    append(text + "\n");
  else
    append(text);
}

// The reply text may hold anything the debugger wrote; the view takes
// UTF-8 only, so other bytes show as '?'.
std::string shown(const std::string &reply) {
  if (g_utf8_validate(reply.data(), (gssize)reply.size(), NULL)) return reply;
  std::string out = reply;
  for (char &c : out)
    if ((unsigned char)c >= 0x80) c = '?';
  return out;
}

void entered(GtkWidget *, gpointer) {
  std::string line = gtk_entry_get_text(GTK_ENTRY(C.entry));
  gtk_entry_set_text(GTK_ENTRY(C.entry), "");
  console_enter(line.c_str());
}

void set_entry_text(const std::string &text) {
  gtk_entry_set_text(GTK_ENTRY(C.entry), text.c_str());
  gtk_editable_set_position(GTK_EDITABLE(C.entry), -1);
}

gboolean entry_key(GtkWidget *, GdkEventKey *event, gpointer) {
  if (event->keyval == GDK_Up || event->keyval == GDK_KP_Up) {
    if (C.recall_at == 0) return TRUE;
    if (C.recall_at == C.recalled.size()) C.draft = gtk_entry_get_text(GTK_ENTRY(C.entry));
    set_entry_text(C.recalled[--C.recall_at]);
    return TRUE;
  }
  if (event->keyval == GDK_Down || event->keyval == GDK_KP_Down) {
    if (C.recall_at >= C.recalled.size()) return TRUE;
    C.recall_at++;
    set_entry_text(C.recall_at == C.recalled.size() ? C.draft : C.recalled[C.recall_at]);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

ConsolePage &console_page() { return C; }

std::string console_text() {
  if (C.view == NULL) return "";
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(C.text, &start, &end);
  gchar *text = gtk_text_buffer_get_text(C.text, &start, &end, FALSE);
  std::string out = text;
  g_free(text);
  return out;
}

void build_console_page(GtkWidget *box) {
  C.view = add_text_log(box);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(C.view->parent), GTK_SHADOW_IN);
  C.text = gtk_text_view_get_buffer(GTK_TEXT_VIEW(C.view));
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(C.text, &end);
  gtk_text_buffer_create_mark(C.text, "bottom", &end, FALSE);
  connect_signal(C.view, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &C.view);

  GtkWidget *row = add_hbox(box, 0);
  add_label(row, 0, "Command:", 0);
  C.entry = add_entry(row, 1, -1);
  connect_signal(C.entry, "activate", VUM_SIGNAL_FUNC(entered), NULL);
  connect_signal(C.entry, "key_press_event", VUM_SIGNAL_FUNC(entry_key), NULL);
  C.send_button = add_button(row, 0, " Send ");
  connect_signal(C.send_button, "clicked", VUM_SIGNAL_FUNC(entered), NULL);
  gtk_widget_set_tooltip_text(C.entry,
                              "Any debugger command; Up and Down bring back earlier ones. Step, Go and Next "
                              "go through VUM's own controls.");
  C.recall_at = 0;
  set_console_sensitive(false);
}

void set_console_sensitive(bool on) {
  if (C.entry == NULL) return;
  gtk_widget_set_sensitive(C.entry, on);
  gtk_widget_set_sensitive(C.send_button, on);
}

void console_enter(const char *typed) {
  ConsoleVerdict verdict = judge_console_line(typed);
  if (verdict.action == ConsoleAction::ignore) return;
  if (C.recalled.empty() || C.recalled.back() != verdict.command) C.recalled.push_back(verdict.command);
  C.recall_at = C.recalled.size();
  C.draft.clear();
  append_line("> " + shown(verdict.command));
  if (!debugger_waits()) {
    append_line("Not sent: the debugger is not waiting for a command");
    return;
  }
  switch (verdict.action) {
    case ConsoleAction::send: {
      std::string reply;
      bool complete = exchange(&reply, "%s\n", verdict.command.c_str());
      if (!reply.empty()) append_line(shown(reply));
      if (!complete) append_line("(the reply ended before the debugger's prompt)");
      if (console_command_changes_points(verdict.command) && console_events.points_changed)
        console_events.points_changed();
      break;
    }
    case ConsoleAction::step:
    case ConsoleAction::go:
    case ConsoleAction::next:
      if (verdict.action == ConsoleAction::next && !next_offered()) {
        append_line("Refused: Next steps over calls, interrupts, loops and conditional jumps only; use Step");
        break;
      }
      append_line(verdict.message);
      C.run_begun = true;
      if (verdict.action == ConsoleAction::step)
        run_step();
      else if (verdict.action == ConsoleAction::go)
        run_go();
      else
        run_next();
      break;
    case ConsoleAction::refuse:
      append_line(verdict.message);
      break;
    case ConsoleAction::ignore:
      break;
  }
}

void console_stopped(const Stop &stop) {
  if (!C.run_begun) return;
  C.run_begun = false;
  if (stop.report.lost || !stop.readable) return;
  char physical[12], place[24];
  format_stop_location(stop.report.location, physical, place);
  append_line(std::string("Stopped at ") + place + " (" + physical + "): " + shown(stop.report.location.text));
}
