// End-to-end test support: the scenario pieces, the English texts the updater shows,
// and the fixture every end-to-end test starts from.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Scenario.h"

namespace e2e
{
// The English module's texts as the dialog and its message boxes show them.
inline constexpr const char* kCaption = "Quorvel Updater";
inline constexpr const char* kReady = "Press Start to check for a new version of Quorvel.";
inline constexpr const char* kChecking = "Checking for updates...";
inline constexpr const char* kCheckEnded = "No update was downloaded.";
inline constexpr const char* kDownloading = "Downloading the update...";
inline constexpr const char* kDownloaded = "The update has been downloaded. Press Install to install it.";
inline constexpr const char* kFailed = "The update could not be downloaded.";
inline constexpr const char* kUnreachable =
    "The update server cannot be reached. Please check your Internet connection and try again later.";
inline constexpr const char* kUnverifiedInfo =
    "The update information from the server could not be verified. Please try again later.";
inline constexpr const char* kUnverifiedDownload =
    "The downloaded file is not the update the vendor published. It was not kept.";
inline constexpr const char* kInstallRefused =
    "The update package in the chosen folder is not the update the vendor "
    "published, so it was not started. Please download the update again.";
inline constexpr const char* kCannotVerifyOnThisWindows =
    "This version of Windows cannot check updates, so no update can be offered here. Please get the "
    "update from the vendor's web site.";
inline constexpr const char* kPackageNotStarted =
    "The update package could not be started. It is still in the chosen folder, from where you can "
    "start it yourself.";
inline constexpr const char* kHandOffNotPrepared =
    "The update could not be prepared for installation, because the folder for temporary files is "
    "missing, full or cannot be written. Nothing was started. Please free some disk space and run the "
    "update again.";
inline constexpr const char* kUpdateInfoExpired =
    "The update information from the server has expired. Check "
    "that this computer's date and time are right, then try again.";

// The offer of `version` (like "3.0.1.3") in the English module's words.
std::string Question(const std::string& version);

// The base of every end-to-end test: an installation, a clean server, the update host
// routed to it. A test that has no server fails in its set-up, saying what is missing.
class EndToEnd : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string StatusText() const { return ui::ItemText(m_updater.Dialog(), IDC_STATUS); }

    // True once an English updater's download has ended: Install is enabled and the
    // status line has left "Downloading". The updater enables Install a moment before
    // it writes the outcome there, so Install alone does not say the outcome is shown.
    bool DownloadEnded() const;

    Installation m_installation;
    Updater m_updater;
};
} // namespace e2e
