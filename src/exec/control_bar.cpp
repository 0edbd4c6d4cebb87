#include "exec/control_bar.hpp"

// The execution controls are not built yet; these keep their final names.

GtkWidget *physical_entry = NULL;
GtkWidget *location_entry = NULL;
GtkWidget *instruction_entry = NULL;
GtkWidget *go_button = NULL;
GtkWidget *stop_button = NULL;
GtkWidget *step_button = NULL;
GtkWidget *next_button = NULL;

int next_enabled = 0;
int next_pending = 0;
uint32_t next_target = 0;

void build_control_bar(GtkWidget *) {}
void set_control_bar_sensitive(int) {}
void set_run_state(int) {}
void go_clicked(GtkWidget *, gpointer) {}
void stop_clicked(GtkWidget *, gpointer) {}
void step_clicked(GtkWidget *, gpointer) {}
void next_clicked(GtkWidget *, gpointer) {}
void reply_ready(gpointer, gint, GdkInputCondition) {}
void refresh_after_stop() {}
