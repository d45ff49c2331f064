#include "EndToEnd.h"

#include "StandInInstaller.h"

namespace e2e
{
std::string Question(const std::string& version)
{
    return "Quorvel " + version + " is available.\nDo you want to download it now?";
}

void EndToEnd::SetUp()
{
    const std::string missing = testserver::PrepareFreshServer();
    if (!missing.empty())
        FAIL() << missing;
    m_installation.Register();
    // A record of an earlier test's installer must not pass for this test's.
    standin::RemoveHandOffFolders();
}

bool EndToEnd::DownloadEnded() const
{
    return ui::ItemEnabled(m_updater.Dialog(), IDC_INSTALL) && StatusText() != kDownloading;
}

void EndToEnd::TearDown()
{
    m_updater.Kill();
    ClearSettings();
}
} // namespace e2e
