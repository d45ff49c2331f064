#include "FaultMatrix.h"

#include <algorithm>
#include <cstdio>

namespace e2e
{
namespace
{
// Values the user changed from the defaults; a fault must leave every one as it is.
const std::pair<const char*, const char*> kUserChoices[] = {
    {"Threshold", "0.5"}, {"SmtpServer", "mail.example.org"}, {"FirstRun", "0"}, {"DisplayBtnBounce", "1"}};
} // namespace

const std::string kPackage = testfiles::MakePackage(256 * 1024, 1);
const std::string kOlderPackage = "an older package, which only a complete new one may replace";

void PrintTo(const Stall& row, std::ostream* out)
{
    *out << row.edge;
}

UserSettings ReadUserSettings()
{
    return UserSettings{testsettings::KeyExists(HKEY_CURRENT_USER), testsettings::ReadAll(HKEY_CURRENT_USER)};
}

ui::MessageBoxView ReadBox(HWND box)
{
    ui::MessageBoxView view;
    ui::WaitUntil(
        [&]
        {
            view = ui::ReadMessageBox(box);
            return !view.buttons.empty();
        },
        5000);
    return view;
}

bool Answers(HWND window, DWORD timeoutMs)
{
    // Not SMTO_ABORTIFHUNG: the platform calls a thread hung that has not asked for a
    // message for five seconds, which a thread inside a long call that takes sent
    // messages only now and then is.
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, timeoutMs, &result) != 0;
}

size_t CountRequestsFor(const char* file)
{
    size_t count = 0;
    for (const std::string& line : testserver::RequestLog())
        if (line.find(std::string("/Quorvel30/") + file + " ") != std::string::npos)
            ++count;
    return count;
}

void Record(const std::string& key, const std::string& value)
{
    ::testing::Test::RecordProperty(key, value);
    std::printf("fault-matrix: %s = %s\n", key.c_str(), value.c_str());
}

void FaultMatrix::SetUp()
{
    EndToEnd::SetUp();
    if (HasFatalFailure())
        return;
    for (const auto& [name, text] : kUserChoices)
        SetText(HKEY_CURRENT_USER, name, text);
    testfiles::RemoveFolder(kTargetFolder);
    MakeFolders(kTargetFolder);
}

void FaultMatrix::TearDown()
{
    EndToEnd::TearDown();
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brannick");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Brannick");
    testfiles::RemoveFolder(kTargetFolder);
}

void FaultMatrix::TakeSnapshots()
{
    m_filesBefore = snapshot::ListFiles();
    m_registryBefore = snapshot::ListRegistry();
    m_settingsBefore = ReadUserSettings();
}

void FaultMatrix::ExpectNothingWrittenOutside(const std::string& allowedFolder,
                                              const std::string& handOffFolder)
{
    std::vector<std::string> changes =
        snapshot::FileChanges(m_filesBefore, snapshot::ListFiles(), allowedFolder);
    if (!handOffFolder.empty())
    {
        const std::string handOff = snapshot::Lower(handOffFolder) + "\\";
        changes.erase(
            std::remove_if(changes.begin(), changes.end(),
                           [&](const std::string& change)
                           { return change.compare(change.find(' ') + 1, handOff.size(), handOff) == 0; }),
            changes.end());
    }
    EXPECT_EQ(std::vector<std::string>{}, changes);
    EXPECT_EQ(std::vector<std::string>{},
              snapshot::RegistryChanges(m_registryBefore, snapshot::ListRegistry()));
}

void FaultMatrix::ExpectSettingsKept()
{
    EXPECT_TRUE(m_settingsBefore == ReadUserSettings());
}

void FaultMatrix::ExpectSeededKeepingUserValues(const UserSettings& after)
{
    ASSERT_TRUE(after.keyExists);
    for (const auto& [name, value] : m_settingsBefore.values)
    {
        if (name == kAppPathValue || name == kCurrLanguageValue)
            continue;
        const auto kept = after.values.find(name);
        ASSERT_NE(after.values.end(), kept) << name;
        EXPECT_TRUE(kept->second == value) << name;
    }
    EXPECT_TRUE(after.values.at(kAppPathValue) == testsettings::TextValue(m_installation.Directory()));
    EXPECT_TRUE(after.values.at(kCurrLanguageValue) == testsettings::TextValue("English"));
    EXPECT_EQ(kDefaultSettingCount, after.values.size());
}

void FaultMatrix::ExpectOnlyPackageOrTemporaryFiles(const std::string& folder)
{
    for (const std::string& name : FilesIn(folder))
    {
        const std::string lower = snapshot::Lower(name);
        EXPECT_TRUE(name == kPackageName || (StartsWith(lower, "swd") && lower.size() > 4 &&
                                             lower.substr(lower.size() - 4) == ".tmp"))
            << name;
    }
}

void FaultMatrix::WriteOlderPackage(const std::string& folder)
{
    testfiles::WriteFile(folder + "\\" + kPackageName, kOlderPackage);
}

void FaultMatrix::LaunchAndStart()
{
    ASSERT_TRUE(m_updater.Launch(m_installation));
    EXPECT_EQ(kReady, StatusText());
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_START));
}

void FaultMatrix::Answer(HWND box, int button)
{
    ASSERT_TRUE(ui::Click(box, button));
    ASSERT_TRUE(ui::WaitUntil([&] { return !IsWindow(box); }, 10000));
}

HWND FaultMatrix::AcceptOffer()
{
    HWND question = m_updater.WaitForModal(kCheckPatienceMs);
    EXPECT_NE(nullptr, question);
    if (question == nullptr)
        return nullptr;
    EXPECT_EQ(Question("3.0.1.3"), ReadBox(question).text);
    Answer(question, IDYES);
    HWND saveAs = m_updater.WaitForModal();
    EXPECT_NE(nullptr, saveAs);
    return saveAs;
}

void FaultMatrix::DownloadInto(const std::string& folder)
{
    LaunchAndStart();
    HWND saveAs = AcceptOffer();
    ASSERT_NE(nullptr, saveAs);
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, folder + "\\chosen.exe"));
}

bool FaultMatrix::WaitForDownloadEnd(DWORD timeoutMs)
{
    return ui::WaitUntil([&] { return DownloadEnded(); }, timeoutMs);
}

void FaultMatrix::ExpectCancelEndsTheProgram()
{
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_CANCEL));
    EXPECT_EQ(0u, m_updater.WaitForExit(10000));
}
} // namespace e2e
