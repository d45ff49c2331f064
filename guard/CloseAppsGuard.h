// Holding the installation back while the watched mail programs run.
#pragma once

// Counts the watched programs and, while any of them runs, shows the close-applications
// dialog until the user ends it. Returns nothing: however the dialog ends, and whether
// or not it was shown, the installation goes on.
void GuardInstallation();
