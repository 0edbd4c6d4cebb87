#include "views/cpu_state_panel.hpp"

#include "shell/main_window.hpp"

CpuState cpu_state;
int state_panel_shown = 0;
GtkWidget *stack_label = NULL;
GtkWidget *stack_list = NULL;
GtkWidget *flags_list = NULL;

// The register widgets and the "dump_cpu" exchange are not built yet.
void build_state_panel(GtkWidget *) {}
void read_cpu_state() {}
void refresh_cpu_state() { read_cpu_state(); }

void toggle_state_panel(GtkWidget *, gpointer) {
  if (state_panel_shown) {
    gtk_widget_hide(state_panel);
    gtk_object_set(GTK_OBJECT(show_state_button), "label", " Show State ", NULL);
    state_panel_shown = 0;
  } else {
    gtk_widget_show(state_panel);
    gtk_object_set(GTK_OBJECT(show_state_button), "label", " Hide State ", NULL);
    state_panel_shown = 1;
    refresh_cpu_state();
  }
}
