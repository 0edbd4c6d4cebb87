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
  snprintf(text, sizeof text, text_let_go ? "Showing the last %zu KiB; everything is in %s" : "",
           guest_text_kept / 1024, log_file_name);
  gtk_label_set_text(GTK_LABEL(G.note), text);
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
  GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
  gtk_widget_show(scrolled);
  G.view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(G.view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(G.view), FALSE);
  PangoFontDescription *mono = pango_font_description_from_string("Monospace");
  gtk_widget_modify_font(G.view, mono);
  pango_font_description_free(mono);
  gtk_container_add(GTK_CONTAINER(scrolled), G.view);
  gtk_widget_show(G.view);
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
  G.received += length;
  if (G.log) fwrite(bytes, 1, length, G.log);
  append_guest_text(bytes, length, &waiting);
  // More than the page keeps, before it was shown: the older part goes.
  if (waiting.size() > 2 * guest_text_kept) {
    size_t cut = waiting.size() - guest_text_kept;
    while (cut < waiting.size() && ((unsigned char)waiting[cut] & 0xC0) == 0x80) cut++;  // a whole character
    waiting.erase(0, cut);
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
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(text, &end);
  gtk_text_buffer_insert(text, &end, waiting.data(), (gint)waiting.size());
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
