// Template numbers of the minimal dialog program.
#pragma once

#define IDD_MINI_EMPTY 100
#define IDD_MINI_CHECK 101
