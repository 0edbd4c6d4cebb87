// The Search page: finds bytes, a value or text in a range of physical or
// linear memory, read through the debugger in chunks (with paging on, only
// the pages the page tables map). The hits are listed; a click on one asks
// for a dump window there (tables_events.open_dump).
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <vector>

#include "kit/list_sizer.hpp"
#include "kit/widget_kit.hpp"
#include "tables/long_read.hpp"
#include "text/memory_search.hpp"

void build_search_page(GtkWidget *box);
void set_search_sensitive(bool on);

// " Search ": reads what was typed and starts the search.
void start_search();

// The most hits a search lists; it stops at the last one.
const size_t search_hits_most = 4096;

// The page's state: one record (the test seam).
struct SearchPage {
  GtkWidget *pattern_entry;
  ButtonGroup *kind_group;    // Hex bytes, Value, Text (SearchKind's order)
  GtkWidget *case_button;     // "Ignore case", for text
  GtkWidget *from_entry;
  GtkWidget *to_entry;
  ButtonGroup *space_group;   // Physical, Linear
  GtkWidget *search_button;
  ProgressRow progress;
  GtkWidget *note;            // what the last search found, or why what was typed was refused
  GtkWidget *hit_list;        // Address, Bytes, Text
  ListSizer sizer;
  std::vector<SearchHit> hits;
  bool hits_linear;           // the hits' addresses are linear
};
SearchPage &search_page();
