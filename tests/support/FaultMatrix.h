// The fault matrix, end to end: the real Seekwell.exe against a server that refuses,
// resets, stalls, drips, loops or lies about lengths, against folders it cannot write,
// and with broken settings, language modules and product modules. Every row checks
// that the updater neither crashes nor hangs, tells the user what it tells for that
// outcome, and loses nothing: the user's settings keep their values, no broken package
// lies at the package path (an older one there stays as it was), and nothing is
// written outside the chosen folder and the settings key. The rows live in
// tests/e2e/*FaultsE2eTest.cpp; this is what they share.
#pragma once

#include <ostream>
#include <string>

#include "EndToEnd.h"
#include "SystemSnapshot.h"

namespace e2e
{
using snapshot::StartsWith;

inline constexpr const char* kResourcesNotFound = "Critical error - Resources not found!\n\nError: ";
inline constexpr const char* kPackageUrl =
    "http://" SEEKWELL_UPDATE_HOST "/store/" SEEKWELL_UPDATE_TOKEN "/Quorvel30/" SEEKWELL_PACKAGE_NAME;
inline constexpr const char* kVersionUrl =
    "http://" SEEKWELL_UPDATE_HOST "/store/" SEEKWELL_UPDATE_TOKEN "/Quorvel30/version.txt";
inline constexpr const char* kPackageName = SEEKWELL_PACKAGE_NAME;
inline constexpr const char* kTargetFolder = "C:\\Fault Target";

// Long enough for the 500 ms time-outs of the check and any retry the platform makes,
// far below ctest's limit: a row that needs more has hung.
constexpr DWORD kCheckPatienceMs = 20000;
constexpr DWORD kDownloadPatienceMs = 40000;

// A package of 256 KiB, and what lies at the package path before a row that must not
// replace it.
extern const std::string kPackage;
extern const std::string kOlderPackage;

// A stall of the server, named by its edge.
struct Stall
{
    const char* edge;
    std::string sidecar;
};

// Rows show as their edge in test lists (and in ctest names).
void PrintTo(const Stall& row, std::ostream* out);

// The per-user settings key: whether it exists, and its values.
struct UserSettings
{
    bool keyExists = false;
    testsettings::Values values;
    bool operator==(const UserSettings& other) const
    {
        return keyExists == other.keyExists && values == other.values;
    }
};

UserSettings ReadUserSettings();

// What a message box shows, once it has its buttons: a box that has just appeared may
// not have made its controls yet.
ui::MessageBoxView ReadBox(HWND box);

// True when the window's thread takes a message sent to it within `timeoutMs`: it is
// pumping messages, not blocked. kAnswerSoonMs suits a dialog that pumps as data flows,
// or one inside a stall whose end, seconds later, must not pass for an answer;
// kAnswerWhileStuckMs one inside a call that never returns and takes sent messages only
// when its own wait of five seconds runs out (Wine's download call after a reset).
bool Answers(HWND window, DWORD timeoutMs);
constexpr DWORD kAnswerSoonMs = 1000;
constexpr DWORD kAnswerWhileStuckMs = 10000;

// Requests for `file` of the product's folder in the server's log.
size_t CountRequestsFor(const char* file);

// A line of figures for the reliability notes, in the test's output and its XML record.
void Record(const std::string& key, const std::string& value);

class FaultMatrix : public EndToEnd
{
  protected:
    // The user's own values set, an empty target folder.
    void SetUp() override;
    void TearDown() override;

    // The pictures a row is judged against; taken once the row's set-up is in place.
    void TakeSnapshots();

    // Nothing outside `allowedFolder` (empty: anywhere) and `handOffFolder` (empty: none),
    // the folder an Install handed the package off from, was written, and outside the
    // settings keys the registry is as it was. Call once the updater has ended.
    void ExpectNothingWrittenOutside(const std::string& allowedFolder,
                                     const std::string& handOffFolder = std::string());

    void ExpectSettingsKept();

    // The settings were seeded from the machine's: every user value is there as it
    // was but for the path and the language, which point at the installation and
    // English, and the defaults were added.
    void ExpectSeededKeepingUserValues(const UserSettings& after);

    // The folder holds at most the package and temporary files of a transfer that a
    // killed process could not remove; never a package under another name.
    void ExpectOnlyPackageOrTemporaryFiles(const std::string& folder);

    void WriteOlderPackage(const std::string& folder);

    // Start pressed on a freshly launched updater.
    void LaunchAndStart();

    void Answer(HWND box, int button);

    // The offer of 3.0.1.3 answered Yes; returns the Save-As dialog.
    HWND AcceptOffer();

    // Launch, Start, Yes, and the folder chosen in the Save-As dialog.
    void DownloadInto(const std::string& folder);

    bool WaitForDownloadEnd(DWORD timeoutMs);

    // Cancel ends the program at once, with exit code 0: it neither crashed nor hung.
    void ExpectCancelEndsTheProgram();

    snapshot::FileList m_filesBefore;
    snapshot::RegistryList m_registryBefore;
    UserSettings m_settingsBefore;
};
} // namespace e2e
