#include "guest/guest_output_page.hpp"

#include <cstdio>
#include <string>

#include "kit/widget_kit.hpp"
#include "text/guest_text.hpp"

namespace {

GuestOutputPage G = {};

const char *const log_file_name = "__vum_guest.log__";

// Text received and not yet shown: the view is written at most every
// flush_interval_ms, however fast the guest prints.
std::string waiting;
guint flush_source = 0;
const guint flush_interval_ms = 50;
bool text_let_go = false;

GtkTextBuffer *buffer() { return gtk_text_view_get_buffer(GTK_TEXT_VIEW(G.view)); }

void show_note() {
  if (G.note == NULL) return;
  char text[160];
  snprintf(text, sizeof text, text_let_go ? "Showing the last %zu KiB; more is in %s" : "",
           guest_text_kept / 1024, log_file_name);
  gtk_label_set_text(GTK_LABEL(G.note), text);
}

// Drops the older part of `text`, keeping its last guest_text_kept bytes or
// a few less: whole characters.
void keep_last_kept(std::string *text) {
  if (text->size() <= guest_text_kept) return;
  size_t cut = text->size() - guest_text_kept;
  while (cut < text->size() && ((unsigned char)(*text)[cut] & 0xC0) == 0x80) cut++;
  text->erase(0, cut);
}

gboolean flush_now(gpointer) {
  flush_source = 0;
  flush_guest_output();
  return FALSE;
}

void clear_clicked(GtkWidget *, gpointer) {
  waiting.clear();
  gtk_text_buffer_set_text(buffer(), "", 0);
  text_let_go = false;
  show_note();
}

}  // namespace

GuestOutputPage &guest_output_page() { return G; }

void build_guest_output_page(GtkWidget *box) {
  G.log = fopen(log_file_name, "w");
  if (G.log == NULL) g_print("VUM: Unable to write %s, the guest's output is not logged.\n", log_file_name);
  G.view = add_text_log(box);
  connect_signal(G.view, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &G.view);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer(), &end);
  gtk_text_buffer_create_mark(buffer(), "end", &end, FALSE);

  GtkWidget *row = add_hbox(box, 0);
  G.clear_button = add_button(row, 0, " Clear ");
  connect_signal(G.clear_button, "clicked", VUM_SIGNAL_FUNC(clear_clicked), NULL);
  G.note = add_label(row, 0, "", 0);
  connect_signal(G.note, "destroy", VUM_SIGNAL_FUNC(gtk_widget_destroyed), &G.note);
}

void guest_output_received(const char *bytes, size_t length) {
  // The log keeps the first guest_log_kept bytes: a guest that prints for
  // hours must not fill the disk.
  if (G.log && G.received < guest_log_kept) {
    size_t room = guest_log_kept - G.received;
    fwrite(bytes, 1, length < room ? length : room, G.log);
    if (length >= room) fprintf(G.log, "\n[VUM: the guest's output beyond %zu MiB is not logged]\n", guest_log_kept >> 20);
  }
  G.received += length;
  append_guest_text(bytes, length, &waiting);
  // More than the page keeps, before it was shown: the older part goes.
  if (waiting.size() > 2 * guest_text_kept) {
    keep_last_kept(&waiting);
    text_let_go = true;
  }
  if (flush_source == 0) flush_source = g_timeout_add(flush_interval_ms, flush_now, NULL);
}

void flush_guest_output() {
  if (G.log) fflush(G.log);
  if (G.view == NULL || waiting.empty()) {
    waiting.clear();
    return;
  }
  GtkTextBuffer *text = buffer();
  if (waiting.size() >= guest_text_kept) {
    // As much as the page keeps, or more, came at once (a guest printing
    // without pause): its last part replaces the text, and nothing is laid
    // out only to be cut.
    keep_last_kept(&waiting);
    gtk_text_buffer_set_text(text, waiting.data(), (gint)waiting.size());
    text_let_go = true;
  } else {
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(text, &end);
    gtk_text_buffer_insert(text, &end, waiting.data(), (gint)waiting.size());
  }
  waiting.clear();
  // The page keeps the last guest_text_kept characters or so: older lines go
  // in one cut once the text has grown a quarter past it.
  gint count = gtk_text_buffer_get_char_count(text);
  if ((size_t)count > guest_text_kept + guest_text_kept / 4) {
    GtkTextIter start, cut;
    gtk_text_buffer_get_start_iter(text, &start);
    gtk_text_buffer_get_iter_at_offset(text, &cut, count - (gint)guest_text_kept);
    gtk_text_buffer_delete(text, &start, &cut);
    text_let_go = true;
  }
  show_note();
  // The newest text in view.
  gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(G.view), gtk_text_buffer_get_mark(text, "end"));
}

std::string guest_output_text() {
  std::string shown;
  if (G.view != NULL) {
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer(), &start, &end);
    gchar *all = gtk_text_buffer_get_text(buffer(), &start, &end, FALSE);
    shown = all;
    g_free(all);
  }
  return shown + waiting;
}
