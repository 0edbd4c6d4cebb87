// The configuration file ".vumrc": settings and structure definitions.
#pragma once

#include <cstdint>

#include "views/struct_defs.hpp"

void load_config();
bool parse_struct_block(char *text, uint32_t *position, bool is_struct);
