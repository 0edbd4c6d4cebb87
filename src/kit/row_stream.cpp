#include "kit/row_stream.hpp"

#include "kit/widget_kit.hpp"

#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------------------
// The model: each row one block of its texts, one after another with their
// ends; a row is found by its place at once. An iterator holds the row's
// serial number, which stays its own while rows go from the top.

struct _VumRowModel {
  GObject parent;
  gint stamp;
  int columns;
  std::deque<char *> *rows;
  uint64_t first;  // serial number of rows->front()
};

struct VumRowModelClass {
  GObjectClass parent_class;
};

static void vum_row_model_tree_model_init(GtkTreeModelIface *iface);

G_DEFINE_TYPE_WITH_CODE(VumRowModel, vum_row_model, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(GTK_TYPE_TREE_MODEL, vum_row_model_tree_model_init))

#define VUM_ROW_MODEL(o) (G_TYPE_CHECK_INSTANCE_CAST((o), vum_row_model_get_type(), VumRowModel))

static void vum_row_model_init(VumRowModel *m) {
  m->stamp = g_random_int();
  m->rows = new std::deque<char *>();
  m->first = 0;
  m->columns = 0;
}

static void vum_row_model_finalize(GObject *object) {
  VumRowModel *m = VUM_ROW_MODEL(object);
  for (char *row : *m->rows) free(row);
  delete m->rows;
  G_OBJECT_CLASS(vum_row_model_parent_class)->finalize(object);
}

static void vum_row_model_class_init(VumRowModelClass *c) { G_OBJECT_CLASS(c)->finalize = vum_row_model_finalize; }

static GtkTreeModelFlags model_flags(GtkTreeModel *) {
  return (GtkTreeModelFlags)(GTK_TREE_MODEL_LIST_ONLY | GTK_TREE_MODEL_ITERS_PERSIST);
}

static gint model_n_columns(GtkTreeModel *model) { return VUM_ROW_MODEL(model)->columns; }

static GType model_column_type(GtkTreeModel *, gint) { return G_TYPE_STRING; }

static uint64_t serial_of(const GtkTreeIter *iter) { return (uint64_t)(uintptr_t)iter->user_data; }

// Points the iterator at the row at `index`; false when there is none.
static gboolean set_iter(VumRowModel *m, GtkTreeIter *iter, uint64_t index) {
  if (index >= m->rows->size()) {
    iter->stamp = 0;
    return FALSE;
  }
  iter->stamp = m->stamp;
  iter->user_data = (gpointer)(uintptr_t)(m->first + index);
  iter->user_data2 = iter->user_data3 = NULL;
  return TRUE;
}

// The place of the iterator's row, or -1 when the row has gone.
static int64_t index_of(VumRowModel *m, const GtkTreeIter *iter) {
  if (iter == NULL || iter->stamp != m->stamp) return -1;
  uint64_t serial = serial_of(iter);
  if (serial < m->first || serial - m->first >= m->rows->size()) return -1;
  return (int64_t)(serial - m->first);
}

static gboolean model_get_iter(GtkTreeModel *model, GtkTreeIter *iter, GtkTreePath *path) {
  if (gtk_tree_path_get_depth(path) != 1) return FALSE;
  int index = gtk_tree_path_get_indices(path)[0];
  return index >= 0 && set_iter(VUM_ROW_MODEL(model), iter, (uint64_t)index);
}

static GtkTreePath *model_get_path(GtkTreeModel *model, GtkTreeIter *iter) {
  int64_t index = index_of(VUM_ROW_MODEL(model), iter);
  if (index < 0) return NULL;
  GtkTreePath *path = gtk_tree_path_new();
  gtk_tree_path_append_index(path, (gint)index);
  return path;
}

static const char *cell_text(const char *row, int column) {
  for (; column > 0; column--) row += strlen(row) + 1;
  return row;
}

static void model_get_value(GtkTreeModel *model, GtkTreeIter *iter, gint column, GValue *value) {
  VumRowModel *m = VUM_ROW_MODEL(model);
  g_value_init(value, G_TYPE_STRING);
  int64_t index = index_of(m, iter);
  if (index < 0 || column < 0 || column >= m->columns) return;
  // The view copies the text while the row is still there.
  g_value_set_static_string(value, cell_text((*m->rows)[(size_t)index], column));
}

static gboolean model_iter_next(GtkTreeModel *model, GtkTreeIter *iter) {
  VumRowModel *m = VUM_ROW_MODEL(model);
  int64_t index = index_of(m, iter);
  return index >= 0 && set_iter(m, iter, (uint64_t)index + 1);
}

static gboolean model_iter_children(GtkTreeModel *model, GtkTreeIter *iter, GtkTreeIter *parent) {
  return parent == NULL && set_iter(VUM_ROW_MODEL(model), iter, 0);
}

static gboolean model_iter_has_child(GtkTreeModel *, GtkTreeIter *) { return FALSE; }

static gint model_iter_n_children(GtkTreeModel *model, GtkTreeIter *iter) {
  return iter == NULL ? (gint)VUM_ROW_MODEL(model)->rows->size() : 0;
}

static gboolean model_iter_nth_child(GtkTreeModel *model, GtkTreeIter *iter, GtkTreeIter *parent, gint n) {
  return parent == NULL && n >= 0 && set_iter(VUM_ROW_MODEL(model), iter, (uint64_t)n);
}

static gboolean model_iter_parent(GtkTreeModel *, GtkTreeIter *, GtkTreeIter *) { return FALSE; }

static void vum_row_model_tree_model_init(GtkTreeModelIface *iface) {
  iface->get_flags = model_flags;
  iface->get_n_columns = model_n_columns;
  iface->get_column_type = model_column_type;
  iface->get_iter = model_get_iter;
  iface->get_path = model_get_path;
  iface->get_value = model_get_value;
  iface->iter_next = model_iter_next;
  iface->iter_children = model_iter_children;
  iface->iter_has_child = model_iter_has_child;
  iface->iter_n_children = model_iter_n_children;
  iface->iter_nth_child = model_iter_nth_child;
  iface->iter_parent = model_iter_parent;
}

static GtkTreePath *path_at(int index) {
  GtkTreePath *path = gtk_tree_path_new();
  gtk_tree_path_append_index(path, index);
  return path;
}

// ---------------------------------------------------------------------------

namespace {

const guint measured_texts_limit = 4096;

// Rows as close together as a GtkCList's, and the same room around a cell:
// the text, 3 pixels either side and 1 between columns.
const char *const view_name = "vum-row-stream";
const char *const view_style =
    "style \"vum-row-stream\" {\n"
    "  GtkTreeView::vertical-separator = 0\n"
    "  GtkTreeView::horizontal-separator = 1\n"
    "}\n"
    "widget \"*.vum-row-stream\" style \"vum-row-stream\"\n";

}  // namespace

RowStream::~RowStream() {
  if (view_ != NULL) {
    g_signal_handlers_disconnect_by_func(view_, (gpointer)style_set, this);
    g_signal_handlers_disconnect_by_func(view_, (gpointer)view_gone, this);
  }
  if (holder_ != NULL) g_signal_handlers_disconnect_by_func(holder_, (gpointer)holder_realized, this);
  if (model_ != NULL) g_object_unref(model_);
  if (measured_ != NULL) g_hash_table_destroy(measured_);
}

GtkWidget *RowStream::build(GtkWidget *box, int columns, const char *const titles[],
                            const GtkJustification justify[]) {
  columns_ = MIN(columns, most_columns);
  model_ = VUM_ROW_MODEL(g_object_new(vum_row_model_get_type(), NULL));
  model_->columns = columns_;
  // A row added or removed makes the view ask to be laid out again: a box
  // around its scrolled window takes that in (the scrolled window asks for
  // the same size whatever the rows), rather than the whole window.
  GtkWidget *holder = gtk_vbox_new(FALSE, 0);
  gtk_container_set_resize_mode(GTK_CONTAINER(holder), GTK_RESIZE_QUEUE);
  gtk_box_pack_start(GTK_BOX(box), holder, TRUE, TRUE, 0);
  gtk_widget_show(holder);
  holder_ = holder;
  g_signal_connect_after(holder, "realize", G_CALLBACK(holder_realized), this);
  GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
  gtk_container_set_border_width(GTK_CONTAINER(scrolled), 0);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_box_pack_start(GTK_BOX(holder), scrolled, TRUE, TRUE, 0);
  gtk_widget_show(scrolled);
  static bool style_parsed = false;
  if (!style_parsed) {
    gtk_rc_parse_string(view_style);
    style_parsed = true;
  }
  view_ = gtk_tree_view_new_with_model(GTK_TREE_MODEL(model_));
  gtk_widget_set_name(view_, view_name);
  // Addresses in a column: their digits line up.
  use_monospace(view_);
  GtkTreeView *view = GTK_TREE_VIEW(view_);
  for (int c = 0; c < columns_; c++) {
    float x = justify[c] == GTK_JUSTIFY_CENTER ? 0.5f : justify[c] == GTK_JUSTIFY_RIGHT ? 1.0f : 0.0f;
    renderer_[c] = gtk_cell_renderer_text_new();
    g_object_set(renderer_[c], "xalign", x, "ypad", 0, NULL);
    column_[c] = gtk_tree_view_column_new_with_attributes(titles[c], renderer_[c], "text", c, NULL);
    gtk_tree_view_column_set_sizing(column_[c], GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_alignment(column_[c], x);
    gtk_tree_view_append_column(view, column_[c]);
  }
  gtk_tree_view_set_headers_clickable(view, FALSE);
  gtk_tree_view_set_fixed_height_mode(view, TRUE);
  gtk_tree_selection_set_mode(gtk_tree_view_get_selection(view), GTK_SELECTION_SINGLE);
  // Before the view is put in the window, where it gets its style at once.
  g_signal_connect(view_, "style_set", G_CALLBACK(style_set), this);
  g_signal_connect(view_, "destroy", G_CALLBACK(view_gone), this);
  gtk_container_add(GTK_CONTAINER(scrolled), view_);
  gtk_widget_show(view_);
  for (int c = 0; c < columns_; c++) set_width(c, 0);
  return view_;
}

void RowStream::view_gone(GtkWidget *, RowStream *stream) {
  stream->view_ = NULL;
  stream->holder_ = NULL;
}

// A list on a page not shown lets its windows go before it changes: a row
// added or removed then costs the view no layout, no measuring of rows and
// no redraw, where a realized view would do all of that for nobody at every
// Step. The toolkit makes the windows again when the page is shown; the view
// is laid out then (holder_realized), and a scroll asked for meanwhile is
// done once it has its size, as for a list never shown.
void RowStream::rest_while_hidden() {
  if (holder_ != NULL && GTK_WIDGET_REALIZED(holder_) && !GTK_WIDGET_MAPPED(holder_)) gtk_widget_unrealize(holder_);
}

void RowStream::holder_realized(GtkWidget *, RowStream *stream) {
  if (stream->view_ != NULL) gtk_widget_queue_resize(stream->view_);
}

int RowStream::rows() const { return model_ == NULL ? 0 : (int)model_->rows->size(); }

const char *RowStream::text(int row, int column) const {
  if (row < 0 || row >= rows() || column < 0 || column >= columns_) return NULL;
  return cell_text((*model_->rows)[(size_t)row], column);
}

// The text's width laid out as the renderer lays it out (the view's font).
int RowStream::text_width(const char *text) {
  if (text == NULL || text[0] == '\0' || view_ == NULL) return 0;
  if (measured_ == NULL) measured_ = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, NULL);
  gpointer known = g_hash_table_lookup(measured_, text);
  if (known != NULL) return GPOINTER_TO_INT(known) - 1;
  PangoLayout *layout = gtk_widget_create_pango_layout(view_, text);
  PangoRectangle logical;
  pango_layout_get_pixel_extents(layout, NULL, &logical);
  g_object_unref(layout);
  if (g_hash_table_size(measured_) >= measured_texts_limit) g_hash_table_remove_all(measured_);
  g_hash_table_insert(measured_, g_strdup(text), GINT_TO_POINTER(logical.width + 1));
  return logical.width;
}

int RowStream::cell_width(int column, const char *text) {
  if (view_ == NULL || column < 0 || column >= columns_) return 0;
  if (extra_ < 0) {
    // What the renderer and the column add to a text: its padding on both
    // sides, the focus line on both sides and the view's separator.
    gint xpad = 0, focus_line_width = 0, separator = 0;
    g_object_get(renderer_[column], "xpad", &xpad, NULL);
    gtk_widget_style_get(view_, "focus-line-width", &focus_line_width, "horizontal-separator", &separator, NULL);
    extra_ = 2 * xpad + 2 * focus_line_width + separator;
  }
  return text_width(text) + extra_;
}

// As the view sizes a column whose title shows: no narrower than the title.
int RowStream::title_width(int column) const {
  GtkWidget *button = column_[column]->button;
  if (button == NULL || !gtk_tree_view_get_headers_visible(GTK_TREE_VIEW(view_))) return 0;
  GtkRequisition request;
  gtk_widget_size_request(button, &request);
  return request.width;
}

void RowStream::set_width(int column, int width) {
  width = MAX(width, title_width(column));
  width = MAX(width, 1);
  if (width == width_[column]) return;
  width_[column] = width;
  gtk_tree_view_column_set_fixed_width(column_[column], width);
}

void RowStream::widen(const RowWidths &widths, uint64_t serial) {
  for (int c = 0; c < columns_; c++) {
    int w = widths[c];
    while (!widest_[c].empty() && widest_[c].back().second <= w) widest_[c].pop_back();
    widest_[c].push_back(std::make_pair(serial, w));
  }
}

// The row's texts at the bottom of the model, and its widths; the view is
// not told.
void RowStream::push_row(const char *const cells[]) {
  size_t lengths[most_columns], total = 0;
  for (int c = 0; c < columns_; c++) total += (lengths[c] = strlen(cells[c])) + 1;
  char *row = (char *)malloc(total), *p = row;
  for (int c = 0; c < columns_; c++) {
    memcpy(p, cells[c], lengths[c] + 1);
    p += lengths[c] + 1;
  }
  RowWidths widths{};
  for (int c = 0; c < columns_; c++) widths[c] = (uint16_t)MIN(cells[c][0] ? cell_width(c, cells[c]) : 0, 0xffff);
  widen(widths, next_serial_++);
  row_widths_.push_back(widths);
  for (int c = 0; c < columns_; c++)
    if (widths[c] > width_[c]) set_width(c, widths[c]);
  model_->rows->push_back(row);
}

// The top row out of the model, and its widths; the view is not told.
void RowStream::pop_row() {
  free(model_->rows->front());
  model_->rows->pop_front();
  model_->first++;
  if (row_widths_.empty()) return;
  RowWidths gone = row_widths_.front();
  row_widths_.pop_front();
  uint64_t serial = first_serial_++;
  // A column whose widest cell the row held narrows to the widest left.
  for (int c = 0; c < columns_; c++) {
    if (!widest_[c].empty() && widest_[c].front().first == serial) widest_[c].pop_front();
    if (gone[c] == 0 || gone[c] < width_[c]) continue;
    set_width(c, widest_[c].empty() ? 0 : widest_[c].front().second);
  }
}

void RowStream::append(const char *const cells[]) {
  if (model_ == NULL) return;
  rest_while_hidden();
  push_row(cells);
  GtkTreeIter iter;
  set_iter(model_, &iter, model_->rows->size() - 1);
  GtkTreePath *path = path_at((int)model_->rows->size() - 1);
  gtk_tree_model_row_inserted(GTK_TREE_MODEL(model_), path, &iter);
  gtk_tree_path_free(path);
}

void RowStream::remove_first() {
  if (model_ == NULL || model_->rows->empty()) return;
  rest_while_hidden();
  pop_row();
  GtkTreePath *path = path_at(0);
  gtk_tree_model_row_deleted(GTK_TREE_MODEL(model_), path);
  gtk_tree_path_free(path);
}

// A list at its length takes a row in and lets one go at every Step. Told of
// the row gone from the top and the row come at the bottom, a GtkTreeView
// lays itself out again and draws every row it shows, with the texts laid out
// anew. But as many rows as high, each showing the text of the one below it,
// is the same picture moved up by those rows: the view keeps its rows, the
// picture is moved (gdk_window_scroll, which copies it in the X server), and
// only the rows brought in at the bottom are drawn. The selection moves up
// with its text, as it would with the rows told.
//
// The view is told as usual when it is not on the screen, while it has the
// keyboard focus (its cursor follows its text only when told), and when
// every row it holds would go.
void RowStream::roll(const std::vector<std::array<const char *, most_columns>> &rows) {
  if (model_ == NULL || rows.empty()) return;
  int count = (int)rows.size(), height = 0;
  if (view_ != NULL && GTK_WIDGET_DRAWABLE(view_) && !GTK_WIDGET_HAS_FOCUS(view_) && count < this->rows()) {
    GdkRectangle area = {0, 0, 0, 0};
    GtkTreePath *top = path_at(0);
    gtk_tree_view_get_background_area(GTK_TREE_VIEW(view_), top, NULL, &area);
    gtk_tree_path_free(top);
    height = area.height;
  }
  if (height <= 0) {
    for (const auto &cells : rows) {
      remove_first();
      append(cells.data());
    }
    return;
  }
  int was = selected();
  for (const auto &cells : rows) {
    pop_row();
    push_row(cells.data());
  }
  gdk_window_scroll(gtk_tree_view_get_bin_window(GTK_TREE_VIEW(view_)), 0, -count * height);
  if (was >= 0) select(was - count);
}

void RowStream::clear() {
  if (model_ == NULL) return;
  // The view lets go of the model while it is emptied: one change, not one
  // per row.
  rest_while_hidden();
  GtkTreeView *view = view_ ? GTK_TREE_VIEW(view_) : NULL;
  if (view) gtk_tree_view_set_model(view, NULL);
  for (char *row : *model_->rows) free(row);
  model_->first += model_->rows->size();
  model_->rows->clear();
  model_->stamp++;
  if (view) gtk_tree_view_set_model(view, GTK_TREE_MODEL(model_));
  row_widths_.clear();
  for (auto &w : widest_) w.clear();
  first_serial_ = next_serial_;
  for (int c = 0; c < columns_; c++) set_width(c, 0);
}

void RowStream::select(int row) {
  if (view_ == NULL) return;
  GtkTreeSelection *selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(view_));
  if (row < 0 || row >= rows()) {
    gtk_tree_selection_unselect_all(selection);
    return;
  }
  GtkTreePath *path = path_at(row);
  gtk_tree_selection_select_path(selection, path);
  gtk_tree_path_free(path);
}

int RowStream::selected() const {
  if (view_ == NULL) return -1;
  GtkTreeIter iter;
  if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(view_)), NULL, &iter)) return -1;
  return (int)index_of(model_, &iter);
}

void RowStream::scroll_to_last() {
  if (view_ == NULL || rows() == 0) return;
  GtkTreePath *path = path_at(rows() - 1);
  gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(view_), path, NULL, TRUE, 1.0f, 0.0f);
  gtk_tree_path_free(path);
}

// A new style (font): every text is measured again.
void RowStream::measure_again() {
  if (model_ == NULL) return;
  // Rows as far apart as a GtkCList's (its row height, from the font's
  // ascent and descent, and one pixel between rows): the cell's focus line
  // takes a pixel above and below the text.
  if (view_ != NULL && view_->style->font_desc != NULL) {
    PangoContext *context = gtk_widget_get_pango_context(view_);
    PangoFontMetrics *metrics =
        pango_context_get_metrics(context, view_->style->font_desc, pango_context_get_language(context));
    int text_height = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);
    gint focus_line_width = 0;
    gtk_widget_style_get(view_, "focus-line-width", &focus_line_width, NULL);
    for (int c = 0; c < columns_; c++)
      gtk_cell_renderer_set_fixed_size(renderer_[c], -1, MAX(1, text_height + 1 - 2 * focus_line_width));
  }
  if (measured_ != NULL) g_hash_table_remove_all(measured_);
  extra_ = -1;
  row_widths_.clear();
  for (auto &w : widest_) w.clear();
  first_serial_ = next_serial_ = 0;
  for (int c = 0; c < columns_; c++) width_[c] = -1;
  for (size_t r = 0; r < model_->rows->size(); r++) {
    RowWidths widths{};
    for (int c = 0; c < columns_; c++) {
      const char *t = cell_text((*model_->rows)[r], c);
      widths[c] = (uint16_t)MIN(t[0] ? cell_width(c, t) : 0, 0xffff);
    }
    widen(widths, next_serial_++);
    row_widths_.push_back(widths);
  }
  for (int c = 0; c < columns_; c++) set_width(c, widest_[c].empty() ? 0 : widest_[c].front().second);
}

void RowStream::style_set(GtkWidget *view, GtkStyle *, RowStream *stream) {
  // The selected row looks the same whether or not the list has the focus,
  // as in a GtkCList; setting the colours styles the view again.
  GtkStyle *style = view->style;
  if (!gdk_color_equal(&style->base[GTK_STATE_ACTIVE], &style->base[GTK_STATE_SELECTED]) ||
      !gdk_color_equal(&style->text[GTK_STATE_ACTIVE], &style->text[GTK_STATE_SELECTED])) {
    GdkColor base = style->base[GTK_STATE_SELECTED], text = style->text[GTK_STATE_SELECTED];
    gtk_widget_modify_base(view, GTK_STATE_ACTIVE, &base);
    gtk_widget_modify_text(view, GTK_STATE_ACTIVE, &text);
    return;
  }
  stream->measure_again();
}
