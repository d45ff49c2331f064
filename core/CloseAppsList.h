// The close-applications list: which watched programs run, and in what order they are
// put into the list box.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Image-name texts of the watched programs, in the order they are counted.
constexpr const char* kManagerImage = "QuorvelMgr.exe";
constexpr const char* kOutlookImage = "OUTLOOK.EXE";
constexpr const char* kOutlookExpressImage = "msimn.exe";

// Fixed list entries; the Manager's entry at dialog start comes from the language module.
constexpr const char* kOutlookEntry = "Outlook";
constexpr const char* kOutlookExpressEntry = "Outlook Express";
constexpr const char* kManagerEntryAfterRetry = "Quorvel Manager";

struct WatchedCounts
{
    int32_t outlook = 0;
    int32_t outlookExpress = 0;
    int32_t manager = 0;

    bool AnyRunning() const { return outlook != 0 || outlookExpress != 0 || manager != 0; }
};

// The entries in the order they are inserted, each at the top of the list: Outlook,
// then Outlook Express, then the Manager, leaving out those not running. The list
// therefore shows them in the reverse order.
std::vector<std::string> ListInsertions(const WatchedCounts& counts, const std::string& managerEntry);
