#include "kit/text_line.hpp"

#include <algorithm>
#include <cstring>

namespace {

const int pad_x = 2, pad_y = 2;

struct TextLine {
  PangoLayout *layout = NULL;
  std::string text;
  GdkRectangle last_redrawn = {0, 0, 0, 0};
};

TextLine *line_of(GtkWidget *widget) {
  return widget ? static_cast<TextLine *>(g_object_get_data(G_OBJECT(widget), "vum-text-line")) : NULL;
}

void forget(gpointer data) {
  TextLine *line = static_cast<TextLine *>(data);
  if (line->layout) g_object_unref(line->layout);
  delete line;
}

// The x of byte `index` in the layout, in pixels from the text's start.
int x_at(PangoLayout *layout, int index) {
  PangoRectangle pos;
  pango_layout_index_to_pos(layout, index, &pos);
  return PANGO_PIXELS(std::min(pos.x, pos.x + pos.width));
}

int text_width(PangoLayout *layout) {
  int width = 0, height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  return width;
}

// As tall as the font's line, whatever the text.
void size_request(GtkWidget *widget, GtkRequisition *requisition, gpointer) {
  PangoContext *context = gtk_widget_get_pango_context(widget);
  PangoFontMetrics *metrics =
      pango_context_get_metrics(context, widget->style->font_desc, pango_context_get_language(context));
  int height = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics));
  pango_font_metrics_unref(metrics);
  requisition->width = 0;
  requisition->height = height + 2 * pad_y;
}

gboolean expose(GtkWidget *widget, GdkEventExpose *, gpointer) {
  TextLine *line = line_of(widget);
  if (line == NULL || line->layout == NULL || line->text.empty()) return TRUE;
  int height = 0;
  pango_layout_get_pixel_size(line->layout, NULL, &height);
  int y = std::max(0, (widget->allocation.height - height) / 2);
  // The toolkit clips to the exposed area: glyphs outside it are not drawn.
  gdk_draw_layout(widget->window, widget->style->fg_gc[GTK_WIDGET_STATE(widget)], pad_x, y, line->layout);
  return TRUE;
}

// A new font or direction: lay the text out again, and the line's height.
void style_set(GtkWidget *widget, GtkStyle *, gpointer) {
  TextLine *line = line_of(widget);
  if (line && line->layout) pango_layout_context_changed(line->layout);
  gtk_widget_queue_resize(widget);
  gtk_widget_queue_draw(widget);
}

}  // namespace

GtkWidget *add_text_line(GtkWidget *box) {
  GtkWidget *area = gtk_drawing_area_new();
  TextLine *line = new TextLine;
  g_object_set_data_full(G_OBJECT(area), "vum-text-line", line, forget);
  line->layout = gtk_widget_create_pango_layout(area, "");
  g_signal_connect(area, "size-request", G_CALLBACK(size_request), NULL);
  g_signal_connect(area, "expose-event", G_CALLBACK(expose), NULL);
  g_signal_connect(area, "style-set", G_CALLBACK(style_set), NULL);
  g_signal_connect(area, "direction-changed", G_CALLBACK(style_set), NULL);
  gtk_box_pack_start(GTK_BOX(box), area, TRUE, TRUE, 0);
  gtk_widget_show(area);
  return area;
}

void text_line_set(GtkWidget *widget, const char *text) {
  TextLine *line = line_of(widget);
  if (line == NULL) return;
  if (text == NULL) text = "";
  line->last_redrawn = GdkRectangle{0, 0, 0, 0};
  if (line->text == text) return;
  // Only the part from the first character that differs is drawn again,
  // and one character before it (a ligature or a kerned pair may join them),
  // for a text of ASCII alone; any other is drawn whole, as bidirectional
  // text or combining marks may move what came before.
  size_t same = 0, old_length = line->text.size(), new_length = strlen(text);
  while (same < old_length && same < new_length && line->text[same] == text[same]) same++;
  if (same > 0) same--;
  bool ascii = true;
  for (const char *p = text; *p && ascii; p++) ascii = (unsigned char)*p < 0x80;
  for (char c : line->text) ascii = ascii && (unsigned char)c < 0x80;
  const bool left_to_right = ascii && gtk_widget_get_direction(widget) != GTK_TEXT_DIR_RTL;
  const int index = (int)same;
  int from_old = x_at(line->layout, index), width_old = text_width(line->layout);
  line->text = text;
  pango_layout_set_text(line->layout, text, -1);
  int from_new = x_at(line->layout, index), width_new = text_width(line->layout);
  if (!GTK_WIDGET_DRAWABLE(widget)) return;
  GdkRectangle area = {0, 0, widget->allocation.width, widget->allocation.height};
  if (left_to_right) {
    // A glyph may reach a pixel past its box: a little to either side.
    int from = std::max(0, pad_x + std::min(from_old, from_new) - 2);
    int to = pad_x + std::max(width_old, width_new) + 2;
    area.x = from;
    area.width = std::max(0, std::min(to, widget->allocation.width) - from);
  }
  line->last_redrawn = area;
  if (area.width > 0) gdk_window_invalidate_rect(widget->window, &area, FALSE);
}

std::string text_line_get(GtkWidget *widget) {
  TextLine *line = line_of(widget);
  return line ? line->text : std::string();
}

GdkRectangle text_line_last_redrawn(GtkWidget *widget) {
  TextLine *line = line_of(widget);
  return line ? line->last_redrawn : GdkRectangle{0, 0, 0, 0};
}
