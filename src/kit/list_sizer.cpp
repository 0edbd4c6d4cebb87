#include "kit/list_sizer.hpp"

#include <cstring>

namespace {

// As the list lays out a cell: the spacing it adds around one.
const int cell_spacing = 1, column_inset = 3;

const guint measured_texts_limit = 4096;

// The farthest, in rows, that update_rows looks for values moved.
const int farthest_shift = 32;

}  // namespace

ListSizer::~ListSizer() {
  detach();
  if (font_ != NULL) pango_font_description_free(font_);
  if (measured_ != NULL) g_hash_table_destroy(measured_);
}

void ListSizer::detach() {
  if (list_ == NULL) return;
  g_signal_handler_disconnect(list_, style_handler_);
  g_signal_handler_disconnect(list_, destroy_handler_);
  list_ = NULL;
}

void ListSizer::attach(GtkWidget *list, Measure how) {
  detach();
  list_ = list;
  clist_ = GTK_CLIST(list);
  columns_ = MIN(clist_->columns, most_columns);
  how_ = how;
  forget_widths();
  style_handler_ = g_signal_connect(list, "style_set", G_CALLBACK(style_set), this);
  // The sizer may outlive its list (a window closed): it forgets the list.
  destroy_handler_ = g_signal_connect(list, "destroy", G_CALLBACK(gtk_widget_destroyed), &list_);
}

// The logical width in Pango units of the text laid out as a cell.
int ListSizer::measure(const char *text) {
  PangoLayout *layout = gtk_widget_create_pango_layout(list_, text);
  pango_layout_set_font_description(layout, list_->style->font_desc);
  PangoRectangle logical;
  pango_layout_get_extents(layout, NULL, &logical);
  g_object_unref(layout);
  return logical.width;
}

int ListSizer::text_width(const char *text) {
  if (text == NULL || text[0] == '\0' || list_ == NULL) return 0;
  // Measures are for the list's current font.
  // Compared again only when the list has another style.
  const PangoFontDescription *font = list_->style->font_desc;
  if (font_ == NULL || (list_->style != font_style_ && !pango_font_description_equal(font_, font))) {
    if (font_ != NULL) pango_font_description_free(font_);
    font_ = pango_font_description_copy(font);
    for (int &a : advance_) a = -1;
    if (measured_ != NULL) g_hash_table_remove_all(measured_);
  }
  font_style_ = list_->style;
  if (how_ == Measure::by_character) {
    int64_t units = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
      if (*p < 0x20 || *p >= 0x7f) return PANGO_PIXELS_CEIL(measure(text));
      if (advance_[*p] < 0) {
        char one[2] = {(char)*p, '\0'};
        advance_[*p] = measure(one);
      }
      units += advance_[*p];
    }
    return PANGO_PIXELS_CEIL(units);
  }
  if (measured_ == NULL) measured_ = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, NULL);
  gpointer known = g_hash_table_lookup(measured_, text);
  if (known != NULL) return GPOINTER_TO_INT(known) - 1;
  // As the list sizes a cell: the logical extents in whole pixels.
  PangoLayout *layout = gtk_widget_create_pango_layout(list_, text);
  pango_layout_set_font_description(layout, list_->style->font_desc);
  PangoRectangle logical;
  pango_layout_get_pixel_extents(layout, NULL, &logical);
  g_object_unref(layout);
  int width = logical.width;
  if (g_hash_table_size(measured_) >= measured_texts_limit) g_hash_table_remove_all(measured_);
  g_hash_table_insert(measured_, g_strdup(text), GINT_TO_POINTER(width + 1));
  return width;
}

// The width the toolkit gives an auto-resized column that holds no cell:
// its title's, less the spacing the list adds around a cell.
int ListSizer::title_width(int column) const {
  GtkWidget *title = clist_->column[column].button;
  if (!GTK_CLIST_SHOW_TITLES(clist_) || title == NULL) return 0;
  return title->requisition.width - (cell_spacing + 2 * column_inset);
}

// Writes the texts that differ into a row already in the list; true when
// one did.
bool ListSizer::set_cells(GtkCListRow *row, const char *const cells[]) {
  bool changed = false;
  for (int c = 0; c < clist_->columns; c++) {
    const char *text = c < columns_ ? cells[c] : "";
    gchar *old = row->cell[c].type == GTK_CELL_TEXT ? GTK_CELL_TEXT(row->cell[c])->text : NULL;
    if (old != NULL && strcmp(old, text) == 0) continue;
    changed = true;
    size_t length = strlen(text);
    if (old != NULL && strlen(old) == length) {
      // A text of the same length (a value read again) goes over the cell's
      // own copy; the list keeps nothing else of it.
      memcpy(old, text, length);
      continue;
    }
    // As gtk_clist_set_text does, with the row at hand (it would look the
    // row up from the top of the list).
    GTK_CLIST_GET_CLASS(clist_)->set_cell_contents(clist_, row, c, GTK_CELL_TEXT, text, 0, NULL,
                                                   NULL);
  }
  return changed;
}

// Gives a row its foreground colour, or the list's; true when it changed.
bool ListSizer::set_colour(GtkCListRow *row, const GdkColor *foreground) {
  if (foreground == NULL) {
    if (!row->fg_set) return false;
    row->fg_set = FALSE;
    return true;
  }
  if (row->fg_set && row->foreground.red == foreground->red && row->foreground.green == foreground->green &&
      row->foreground.blue == foreground->blue)
    return false;
  // As gtk_clist_set_foreground does, with the row at hand.
  row->foreground = *foreground;
  row->fg_set = TRUE;
  if (GTK_WIDGET_REALIZED(list_))
    gdk_colormap_alloc_color(gtk_widget_get_colormap(list_), &row->foreground, FALSE, TRUE);
  return true;
}

// ---------------------------------------------------------------------------
// All at once.

void ListSizer::begin(uint64_t rows_coming) {
  for (int &w : widest_now_) w = 0;
  next_ = NULL;
  if (list_ == NULL) return;
  uint64_t rows = (uint64_t)clist_->rows;
  // Rows are reused when most of them stay; otherwise the list starts empty.
  if (rows > 0 && rows_coming >= rows / 2) {
    next_ = clist_->row_list;
    if (clist_->selection != NULL) gtk_clist_unselect_all(clist_);
  } else if (rows > 0) {
    gtk_clist_clear(clist_);
  }
  GTK_CLIST_SET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
}

void ListSizer::add(const char *const cells[], const GdkColor *foreground) {
  if (list_ == NULL) return;
  for (int c = 0; c < columns_; c++)
    if (cells[c][0] != '\0') widest_now_[c] = MAX(widest_now_[c], text_width(cells[c]));
  GtkCListRow *row;
  if (next_ == NULL) {
    gtk_clist_append(clist_, const_cast<gchar **>(cells));
    row = GTK_CLIST_ROW(clist_->row_list_end);
  } else {
    row = GTK_CLIST_ROW(next_);
    next_ = next_->next;
    set_cells(row, cells);
  }
  set_colour(row, foreground);
}

void ListSizer::show_widths() {
  if (list_ == NULL) return;
  for (int c = 0; c < columns_; c++) {
    int width = MAX(widest_now_[c], title_width(c));
    if (width > clist_->column[c].width) gtk_clist_set_column_width(clist_, c, width);
  }
}

void ListSizer::finish() {
  if (list_ == NULL) return;
  // Rows left over from before go, from the bottom up (each removal finds
  // its row at the end of the list).
  if (next_ != NULL) {
    int keep = g_list_position(clist_->row_list, next_);
    while (clist_->rows > keep) gtk_clist_remove(clist_, clist_->rows - 1);
    next_ = NULL;
  }
  GTK_CLIST_UNSET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  // As the toolkit does: no narrower than the column's title.
  for (int c = 0; c < columns_; c++) {
    int width = MAX(widest_now_[c], title_width(c));
    if (width != clist_->column[c].width) gtk_clist_set_column_width(clist_, c, width);
  }
}

// ---------------------------------------------------------------------------
// As a stream.

void ListSizer::forget_widths() {
  row_widths_.clear();
  for (auto &w : widest_) w.clear();
  first_serial_ = next_serial_ = 0;
}

// Keeps the widths of a row added at the bottom among the candidates.
void ListSizer::widen(const RowWidths &widths, uint64_t serial) {
  for (int c = 0; c < columns_; c++) {
    int w = widths[c];
    while (!widest_[c].empty() && widest_[c].back().second <= w) widest_[c].pop_back();
    widest_[c].push_back(std::make_pair(serial, w));
  }
}

void ListSizer::append(const char *const cells[]) {
  if (list_ == NULL) return;
  RowWidths widths{};
  for (int c = 0; c < columns_; c++) widths[c] = text_width(cells[c]);
  GTK_CLIST_SET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  gtk_clist_append(clist_, const_cast<gchar **>(cells));
  GTK_CLIST_UNSET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  widen(widths, next_serial_++);
  row_widths_.push_back(widths);
  for (int c = 0; c < columns_; c++)
    if (widths[c] > clist_->column[c].width) gtk_clist_set_column_width(clist_, c, widths[c]);
}

void ListSizer::remove_first() {
  if (list_ == NULL || clist_->rows == 0) return;
  GTK_CLIST_SET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  gtk_clist_remove(clist_, 0);
  GTK_CLIST_UNSET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  if (row_widths_.empty()) return;
  RowWidths gone = row_widths_.front();
  row_widths_.pop_front();
  uint64_t serial = first_serial_++;
  // A column whose widest cell the row held narrows to the widest cell
  // left, or its title.
  for (int c = 0; c < columns_; c++) {
    if (!widest_[c].empty() && widest_[c].front().first == serial) widest_[c].pop_front();
    int width = clist_->column[c].width;
    if (gone[c] == 0 || gone[c] != width) continue;
    int left = widest_[c].empty() ? 0 : widest_[c].front().second;
    int narrowed = MAX(left, title_width(c));
    if (narrowed < width)
      gtk_clist_set_column_width(clist_, c, MAX(narrowed, clist_->column[c].min_width));
  }
}

void ListSizer::clear() {
  forget_widths();
  if (list_ != NULL) gtk_clist_clear(clist_);
}

bool ListSizer::update_row(int row, const char *const cells[], const GdkColor *foreground) {
  if (list_ == NULL || row < 0 || row >= clist_->rows) return false;
  GList *node = row == clist_->rows - 1 ? clist_->row_list_end : g_list_nth(clist_->row_list, (guint)row);
  GtkCListRow *clist_row = GTK_CLIST_ROW(node);
  GTK_CLIST_SET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  bool texts = set_cells(clist_row, cells);
  GTK_CLIST_UNSET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  bool colour = set_colour(clist_row, foreground);
  if (!texts && !colour) return false;
  if (texts)
    for (int c = 0; c < columns_; c++) {
      int w = text_width(cells[c]);
      if (w > clist_->column[c].width) gtk_clist_set_column_width(clist_, c, w);
    }
  if (clist_->freeze_count == 0 && gtk_clist_row_is_visible(clist_, row) != GTK_VISIBILITY_NONE)
    GTK_CLIST_GET_CLASS(clist_)->draw_row(clist_, NULL, row, clist_row);
  return true;
}

// ---------------------------------------------------------------------------
// Every row, the picture moved with the texts.

namespace {

const char *cell_text(const GtkCListRow *row, int column) {
  const char *text = row->cell[column].type == GTK_CELL_TEXT ? GTK_CELL_TEXT(row->cell[column])->text : NULL;
  return text ? text : "";
}

bool same_text(const GtkCListRow *row, int column, const char *text) {
  return strcmp(cell_text(row, column), text ? text : "") == 0;
}

bool same_colour(const GtkCListRow *row, const GdkColor *foreground) {
  if (foreground == NULL) return !row->fg_set;
  return row->fg_set && row->foreground.red == foreground->red && row->foreground.green == foreground->green &&
         row->foreground.blue == foreground->blue;
}

}  // namespace

// By how many rows the texts of the moving columns went up (positive) or
// down: the shift under which most new rows find their texts in an old row,
// when more than in place and at least two; 0 for none. Shifts are looked
// for up to farthest_shift rows away: a stack of a thousand rows is not
// compared a thousand times over at every stop, and a frame that large is
// drawn again as before.
int ListSizer::best_shift(const std::vector<GtkCListRow *> &old, const std::vector<Row> &rows,
                          int moving_from) const {
  const int n = (int)rows.size();
  auto matches = [&](int shift) {
    int count = 0;
    for (int i = 0; i < n; i++) {
      int from = i + shift;
      if (from < 0 || from >= n) continue;
      bool same = true;
      for (int c = moving_from; c < columns_ && same; c++) same = same_text(old[from], c, rows[i].cells[c]);
      count += same;
    }
    return count;
  };
  int best = 0, best_count = matches(0);
  for (int distance = 1; distance < n && distance <= farthest_shift; distance++)
    for (int shift : {distance, -distance}) {
      int count = matches(shift);
      if (count > best_count && count >= 2) {
        best = shift;
        best_count = count;
      }
    }
  return best;
}

// The picture can be moved and drawn over at once: the list is on the
// screen, not frozen, and without the focus, whose dashed box marks a row.
bool ListSizer::picture_can_move() const {
  return GTK_WIDGET_DRAWABLE(list_) && clist_->freeze_count == 0 && !GTK_WIDGET_HAS_FOCUS(list_) &&
         clist_->clist_window != NULL && clist_->row_height > 0;
}

bool ListSizer::update_rows(const std::vector<Row> &rows, int moving_from) {
  if (list_ == NULL || (size_t)clist_->rows != rows.size()) return false;
  const int n = (int)rows.size();
  std::vector<GtkCListRow *> old;
  old.reserve(n);
  for (GList *node = clist_->row_list; node != NULL; node = node->next) old.push_back(GTK_CLIST_ROW(node));
  int shift = moving_from > 0 && moving_from < columns_ && picture_can_move() ? best_shift(old, rows, moving_from) : 0;
  // A column that must widen has the whole list drawn again anyway.
  for (int i = 0; i < n && shift != 0; i++)
    for (int c = 0; c < columns_ && shift != 0; c++)
      if (text_width(rows[i].cells[c]) > clist_->column[c].width) shift = 0;
  if (shift == 0) {
    for (int i = 0; i < n; i++) update_row(i, rows[i].cells.data(), rows[i].foreground);
    return true;
  }
  // Once the moving columns' picture has moved by `shift` rows, row i shows
  // row i + shift's old moving columns beside its own old other columns.
  // It is right as it stands when both are its new texts, in the colour
  // both old rows had, and both were alike selected or not. A row whose old
  // row lies outside the list has its moving columns in the part the move
  // leaves bare, which the toolkit redraws: only its other columns count.
  std::vector<bool> draw(n, false);
  for (int i = 0; i < n; i++) {
    int from = i + shift;
    if (from < 0 || from >= n) {
      bool right = same_colour(old[i], rows[i].foreground);
      for (int c = 0; c < moving_from && right; c++) right = same_text(old[i], c, rows[i].cells[c]);
      draw[i] = !right;
      continue;
    }
    bool right = old[i]->state == old[from]->state && same_colour(old[i], rows[i].foreground) &&
                 same_colour(old[from], rows[i].foreground);
    for (int c = 0; c < columns_ && right; c++) right = same_text(old[c < moving_from ? i : from], c, rows[i].cells[c]);
    draw[i] = !right;
  }
  GTK_CLIST_SET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  for (int i = 0; i < n; i++) {
    set_cells(old[i], rows[i].cells.data());
    set_colour(old[i], rows[i].foreground);
  }
  GTK_CLIST_UNSET_FLAG(clist_, CLIST_AUTO_RESIZE_BLOCKED);
  // The rows whose old rows stay in the list, moving columns only (from the
  // left edge of the first, spacing included, to the window's right edge).
  const int pitch = clist_->row_height + cell_spacing;
  const int first = MAX(0, shift), last = MIN(n, n + shift);  // old rows [first, last)
  GdkRectangle source;
  source.x = clist_->column[moving_from].area.x + clist_->hoffset - column_inset - cell_spacing;
  source.width = clist_->clist_window_width - source.x;
  source.y = clist_->voffset + first * pitch;
  source.height = (last - first) * pitch + cell_spacing;
  if (source.width > 0 && source.height > 0) {
    GdkRegion *region = gdk_region_rectangle(&source);
    gdk_window_move_region(clist_->clist_window, region, 0, -shift * pitch);
    gdk_region_destroy(region);
  }
  // The toolkit keeps the move until it redraws the part the move left bare
  // (there is always some: the rows that came, or at an edge of the view
  // those moved in from outside it), or until something is drawn straight
  // into the window, as the list draws these rows: the move comes first.
  for (int i = 0; i < n; i++)
    if (draw[i] && gtk_clist_row_is_visible(clist_, i) != GTK_VISIBILITY_NONE)
      GTK_CLIST_GET_CLASS(clist_)->draw_row(clist_, NULL, i, old[i]);
  return true;
}

// ---------------------------------------------------------------------------

void ListSizer::measure_again() {
  if (measured_ != NULL) g_hash_table_remove_all(measured_);
  forget_widths();
  if (list_ == NULL) return;
  for (GList *node = clist_->row_list; node != NULL; node = node->next) {
    GtkCListRow *row = GTK_CLIST_ROW(node);
    RowWidths widths{};
    for (int c = 0; c < columns_; c++) {
      const char *text = row->cell[c].type == GTK_CELL_TEXT ? GTK_CELL_TEXT(row->cell[c])->text : NULL;
      widths[c] = text_width(text);
    }
    widen(widths, next_serial_++);
    row_widths_.push_back(widths);
  }
}

// The toolkit has resized every column for a new style: measure again.
void ListSizer::style_set(GtkWidget *, GtkStyle *, ListSizer *sizer) { sizer->measure_again(); }
