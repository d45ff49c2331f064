// The updater's version, shared by its version resource and the About box.
#pragma once

#define SEEKWELL_VERSION_COMMA 1, 0, 0, 1
#define SEEKWELL_VERSION_TEXT "1, 0, 0, 1"
#define SEEKWELL_RELEASE_YEAR_TEXT "2026"
