#include "CloseAppsList.h"

std::vector<std::string> ListInsertions(const WatchedCounts& counts, const std::string& managerEntry)
{
    std::vector<std::string> insertions;
    if (counts.outlook != 0)
        insertions.emplace_back(kOutlookEntry);
    if (counts.outlookExpress != 0)
        insertions.emplace_back(kOutlookExpressEntry);
    if (counts.manager != 0)
        insertions.push_back(managerEntry);
    return insertions;
}
