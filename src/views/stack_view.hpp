// The stack around ESP, in the CPU state panel.
#pragma once

void refresh_stack();
