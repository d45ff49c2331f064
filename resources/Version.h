// The updater's version: the one place it is written. The version resource, the About
// box, the application manifest and the build (which reads this file) all take it
// from here.
#pragma once

#define SEEKWELL_VERSION_MAJOR 1
#define SEEKWELL_VERSION_MINOR 0
#define SEEKWELL_VERSION_BUILD 0
#define SEEKWELL_VERSION_REVISION 1
#define SEEKWELL_RELEASE_YEAR_TEXT "2026"

#define SEEKWELL_STRINGIZE_(x) #x
#define SEEKWELL_STRINGIZE(x) SEEKWELL_STRINGIZE_(x)
#define SEEKWELL_VERSION_COMMA                                                                               \
    SEEKWELL_VERSION_MAJOR, SEEKWELL_VERSION_MINOR, SEEKWELL_VERSION_BUILD, SEEKWELL_VERSION_REVISION
#define SEEKWELL_VERSION_TEXT                                                                                \
    SEEKWELL_STRINGIZE(SEEKWELL_VERSION_MAJOR)                                                               \
    ", " SEEKWELL_STRINGIZE(SEEKWELL_VERSION_MINOR) ", " SEEKWELL_STRINGIZE(                                 \
        SEEKWELL_VERSION_BUILD) ", " SEEKWELL_STRINGIZE(SEEKWELL_VERSION_REVISION)
// "1.0": the name-and-version line of the About box.
#define SEEKWELL_SHORT_VERSION_TEXT                                                                          \
    SEEKWELL_STRINGIZE(SEEKWELL_VERSION_MAJOR) "." SEEKWELL_STRINGIZE(SEEKWELL_VERSION_MINOR)
