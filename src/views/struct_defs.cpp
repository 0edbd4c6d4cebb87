#include "views/struct_defs.hpp"

StructDefList struct_defs = {nullptr, nullptr};
