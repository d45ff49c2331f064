// The vendor's update server. The one place that names it: the updater's version-file
// URL and the language modules' download base URL (string 525) both come from here.
#pragma once

#define SEEKWELL_UPDATE_HOST "updates.brannick.example"
#define SEEKWELL_UPDATE_TOKEN "q7k2m9x4"
#define SEEKWELL_UPDATE_BASE_URL "http://updates.brannick.example/store/q7k2m9x4/"
#define SEEKWELL_PACKAGE_NAME "QuorvelUpdate.exe"
#define SEEKWELL_SUPPORT_EMAIL "support@brannick.example"
