// The CPU state panel: registers, flags and the frame of the stack view.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

struct SegmentState {
  uint32_t selector;
  uint32_t dl;
  uint32_t dh;
  uint32_t valid;
};

struct TableRegister {
  uint32_t base;
  uint32_t limit;
};

struct CpuState {
  uint32_t eax, ebx, ecx, edx, ebp, esi, edi, esp;
  uint32_t eflags;
  uint32_t eip;
  SegmentState cs, ss, ds, es, fs, gs, ldtr, tr;
  TableRegister gdtr, idtr;
  uint32_t dr[8];
  uint32_t tr3, tr4, tr5, tr6, tr7;
  uint32_t cr0, cr1, cr2, cr3, cr4;
  uint32_t inhibit_mask;
};

extern CpuState cpu_state;
extern bool state_panel_shown;
extern GtkWidget *stack_label;
extern GtkWidget *stack_list;
extern GtkWidget *flags_list;

void build_state_panel(GtkWidget *panel);
void read_cpu_state();
void refresh_cpu_state();
// Handler of " Show State " "clicked": shows or hides the panel and labels
// the button accordingly.
void toggle_state_panel(GtkWidget *button, gpointer data = NULL);
