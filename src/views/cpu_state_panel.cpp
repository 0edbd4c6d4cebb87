#include "views/cpu_state_panel.hpp"

CpuState cpu_state;
bool state_panel_shown = false;
static GtkWidget *panel_box = NULL;  // the main window's state panel
GtkWidget *stack_label = NULL;
GtkWidget *stack_list = NULL;
GtkWidget *flags_list = NULL;

// The register widgets and the "dump_cpu" exchange are not built yet.
void build_state_panel(GtkWidget *panel) { panel_box = panel; }
void read_cpu_state() {}
void refresh_cpu_state() { read_cpu_state(); }

void toggle_state_panel(GtkWidget *button, gpointer) {
  if (state_panel_shown) {
    gtk_widget_hide(panel_box);
    gtk_object_set(GTK_OBJECT(button), "label", " Show State ", NULL);
    state_panel_shown = false;
  } else {
    gtk_widget_show(panel_box);
    gtk_object_set(GTK_OBJECT(button), "label", " Hide State ", NULL);
    state_panel_shown = true;
    refresh_cpu_state();
  }
}
