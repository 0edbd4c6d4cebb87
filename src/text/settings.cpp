#include "text/settings.hpp"

static const Settings defaults = {50, 8, 4, 2, 2, true, true, 0};

Settings settings = defaults;

void reset_settings() { settings = defaults; }
