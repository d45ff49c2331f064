// The update check behind Start, as a user sees it: the message boxes, the status line
// and the buttons after each outcome, and the road to a downloaded package.
#include "EndToEnd.h"
#include "SignedRelease.h"

#include <utility>

using namespace e2e;

namespace
{
const char* const kVersionRequest = "GET http://" SEEKWELL_UPDATE_HOST ":80/store/" SEEKWELL_UPDATE_TOKEN
                                    "/Quorvel30/version.txt HTTP/1.1 | UA: GetURL";
const char* const kPackageRequestStart = "GET http://" SEEKWELL_UPDATE_HOST ":80/store/" SEEKWELL_UPDATE_TOKEN
                                         "/Quorvel30/" SEEKWELL_PACKAGE_NAME " ";

class UpdateCheck : public EndToEnd
{
  protected:
    // Presses Start and returns the message box it opens, after checking that the
    // status line says the check is running.
    ui::MessageBoxView StartAndReadBox(HWND& box)
    {
        EXPECT_TRUE(m_updater.Launch(m_installation));
        EXPECT_TRUE(ui::Click(m_updater.Dialog(), IDC_START));
        box = m_updater.WaitForModal();
        EXPECT_NE(nullptr, box);
        if (box == nullptr)
            return {};
        EXPECT_EQ(kChecking, StatusText());
        EXPECT_FALSE(ui::ItemEnabled(m_updater.Dialog(), IDC_START));
        return ui::ReadMessageBox(box);
    }

    void Answer(HWND box, int button)
    {
        ASSERT_TRUE(ui::Click(box, button));
        ASSERT_TRUE(ui::WaitUntil([&] { return !IsWindow(box); }, 10000));
    }

    // Start and Install after an outcome that downloads nothing.
    void ExpectEndState(const char* status)
    {
        HWND dialog = m_updater.Dialog();
        ASSERT_TRUE(ui::WaitUntil([&] { return StatusText() == status; }, 10000)) << StatusText();
        EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_START));
        EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_INSTALL));
        EXPECT_EQ(0, ui::ProgressPosition(dialog, IDC_PROGRESS));
    }

    void ExpectOnlyVersionRequested()
    {
        const auto log = testserver::RequestLog();
        ASSERT_EQ(1u, log.size());
        EXPECT_EQ(kVersionRequest, log[0]);
    }
};

struct Declined
{
    const char* name;
    int button;
};

class UpdateDeclined : public UpdateCheck, public ::testing::WithParamInterface<Declined>
{
};

// Takes the provider type that offers SHA-256 with RSA (PROV_RSA_AES, 24) out of the
// prefix's registry while it lives, so that the platform's CryptoAPI has none, as on
// systems before XP SP3; puts its two values back when it goes.
class CHiddenSha256Provider
{
  public:
    CHiddenSha256Provider()
    {
        m_hidden = Read("Name", m_name) && Read("TypeName", m_typeName) &&
                   RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey) == ERROR_SUCCESS;
    }
    ~CHiddenSha256Provider()
    {
        HKEY key = nullptr;
        if (!m_hidden || RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                         &key, nullptr) != ERROR_SUCCESS)
            return;
        for (const auto& [name, text] : {std::pair{"Name", &m_name}, std::pair{"TypeName", &m_typeName}})
            RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                           static_cast<DWORD>(text->size() + 1));
        RegCloseKey(key);
    }
    CHiddenSha256Provider(const CHiddenSha256Provider&) = delete;
    CHiddenSha256Provider& operator=(const CHiddenSha256Provider&) = delete;

    bool Hidden() const { return m_hidden; }

  private:
    static bool Read(const char* name, std::string& text)
    {
        char buffer[256] = {};
        DWORD size = sizeof buffer - 1;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
            ERROR_SUCCESS)
            return false;
        text = buffer;
        return true;
    }

    static constexpr const char* kKey =
        "Software\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type 024";
    std::string m_name;
    std::string m_typeName;
    bool m_hidden = false;
};
} // namespace

TEST_F(UpdateCheck, SameVersionIsUpToDate)
{
    testserver::ServeRelease("3.0.1.2");
    HWND box = nullptr;
    const ui::MessageBoxView view = StartAndReadBox(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION | MB_OK), view.Style());
    EXPECT_EQ(kCaption, view.caption);
    EXPECT_EQ("Your copy of Quorvel is up to date.", view.text);
    Screenshot(box, "check-up-to-date");
    Answer(box, IDOK);
    ExpectEndState(kReady);
    ExpectOnlyVersionRequested();
}

TEST_F(UpdateCheck, NewerVersionIsOfferedWithItsNumber)
{
    testserver::ServeRelease("3.0.1.3");
    HWND box = nullptr;
    const ui::MessageBoxView view = StartAndReadBox(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION | MB_YESNOCANCEL), view.Style());
    EXPECT_EQ(kCaption, view.caption);
    EXPECT_EQ(Question("3.0.1.3"), view.text);
    Screenshot(box, "check-update-offered");
    Answer(box, IDNO);
    ExpectEndState(kCheckEnded);
}

TEST_P(UpdateDeclined, LeavesNothingDownloaded)
{
    testserver::ServeRelease("3.0.1.3");
    HWND box = nullptr;
    StartAndReadBox(box);
    Answer(box, GetParam().button);
    ExpectEndState(kCheckEnded);
    ExpectOnlyVersionRequested();
}

INSTANTIATE_TEST_SUITE_P(Answers, UpdateDeclined,
                         ::testing::Values(Declined{"No", IDNO}, Declined{"Cancel", IDCANCEL}),
                         [](const ::testing::TestParamInfo<Declined>& row)
                         { return std::string(row.param.name); });

TEST_F(UpdateCheck, OlderServerVersionIsStillOffered)
{
    testserver::ServeRelease("2.9.9.9");
    HWND box = nullptr;
    const ui::MessageBoxView view = StartAndReadBox(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION | MB_YESNOCANCEL), view.Style());
    EXPECT_EQ(Question("2.9.9.9"), view.text);
    Answer(box, IDNO);
}

namespace
{
struct Freshness
{
    const char* name;
    const char* version;
    long long expiresInSeconds;
    bool believed;
};

class FreshnessOfTheOffer : public UpdateCheck, public ::testing::WithParamInterface<Freshness>
{
  protected:
    // Stages `version` as the vendor's tool does, expiring that many seconds from now.
    static std::string ServeExpiringRelease(const char* version, long long expiresInSeconds)
    {
        testserver::ServePackage("a stand-in package");
        testserver::VersionFileRequest request;
        request.version = version;
        request.expiresInSeconds = expiresInSeconds;
        const std::string file = testserver::PublishVersionFile(request);
        testserver::ServeVersionFile(file);
        return file;
    }

    void ExpectExpiredBox()
    {
        HWND box = nullptr;
        const ui::MessageBoxView view = StartAndReadBox(box);
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
        EXPECT_EQ("", view.caption);
        EXPECT_EQ(kUpdateInfoExpired, view.text);
        Answer(box, IDOK);
        ExpectEndState(kCheckEnded);
        ExpectOnlyVersionRequested();
    }
};
} // namespace

// Only a fresh file is believed, whichever version it offers: an older one (a downgrade)
// too is offered only before its file expires.
TEST_P(FreshnessOfTheOffer, IsBelievedOnlyBeforeItsFileExpires)
{
    const Freshness& row = GetParam();
    ServeExpiringRelease(row.version, row.expiresInSeconds);
    if (!row.believed)
    {
        ExpectExpiredBox();
        return;
    }
    HWND box = nullptr;
    const ui::MessageBoxView view = StartAndReadBox(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION | MB_YESNOCANCEL), view.Style());
    EXPECT_EQ(Question(row.version), view.text);
    Answer(box, IDNO);
    ExpectEndState(kCheckEnded);
}

INSTANTIATE_TEST_SUITE_P(Rows, FreshnessOfTheOffer,
                         ::testing::Values(Freshness{"NewerExpiringInAnHour", "3.0.1.3", 3600, true},
                                           Freshness{"OlderExpiringInAnHour", "2.9.9.9", 3600, true},
                                           Freshness{"NewerExpiredAMinuteAgo", "3.0.1.3", -60, false},
                                           Freshness{"OlderExpiredAMinuteAgo", "2.9.9.9", -60, false}),
                         [](const ::testing::TestParamInfo<Freshness>& row)
                         { return std::string(row.param.name); });

// The freeze: a file that was genuine and fresh, served unchanged after its expiry by
// someone who would keep users on that release, is refused as expired.
TEST_F(FreshnessOfTheOffer, OnceValidFileServedLaterFailsAsExpired)
{
    constexpr long long kFreshForSeconds = 20;
    const DWORD staged = GetTickCount();
    const std::string file = ServeExpiringRelease("2.9.9.9", kFreshForSeconds);
    HWND box = nullptr;
    const ui::MessageBoxView offer = StartAndReadBox(box);
    ASSERT_LT(GetTickCount() - staged, static_cast<DWORD>(kFreshForSeconds - 2) * 1000)
        << "the first check came too late to see the file fresh";
    EXPECT_EQ(Question("2.9.9.9"), offer.text);
    Answer(box, IDNO);
    ExpectEndState(kCheckEnded);

    // The expiry is a whole second at most kFreshForSeconds after staging.
    const DWORD expiredAt = staged + static_cast<DWORD>(kFreshForSeconds + 2) * 1000;
    const LONG remainingMs = static_cast<LONG>(expiredAt - GetTickCount());
    if (remainingMs > 0)
        Sleep(static_cast<DWORD>(remainingMs));
    m_updater.Kill();
    testserver::ClearRequestLog();
    ASSERT_EQ(file, ReadFileBytes(testserver::ProductFolder() + "\\version.txt"));
    ExpectExpiredBox();
}

TEST_F(UpdateCheck, MissingProductModuleIsOfferedTheUpdate)
{
    m_installation.RemoveProductModule();
    testserver::ServeRelease("3.0.1.2");
    HWND box = nullptr;
    const ui::MessageBoxView view = StartAndReadBox(box);
    EXPECT_EQ(Question("3.0.1.2"), view.text);
    Answer(box, IDNO);
    m_installation.UseProductModule("Quorvel.dll");
}

TEST_F(UpdateCheck, UnreachableServerIsAWarningWithAnEmptyCaption)
{
    testserver::RouteUpdateHostNowhere();
    HWND box = nullptr;
    const ui::MessageBoxView view = StartAndReadBox(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
    EXPECT_EQ("", view.caption);
    EXPECT_EQ(kUnreachable, view.text);
    Screenshot(box, "check-unreachable");
    Answer(box, IDOK);
    ExpectEndState(kCheckEnded);
}

// Where the platform cannot check the vendor's signature, no update can be believed:
// the updater asks nothing of the server and says that it is this Windows, not the
// connection, so that trying again later is not what the user is told.
TEST_F(UpdateCheck, WithoutSha256ItSaysThisWindowsCannotCheckUpdates)
{
    testserver::ServeRelease("3.0.1.3");
    const CHiddenSha256Provider hidden;
    ASSERT_TRUE(hidden.Hidden()) << "the prefix has no provider type 24 to hide";
    HWND box = nullptr;
    const ui::MessageBoxView view = StartAndReadBox(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
    EXPECT_EQ("", view.caption);
    EXPECT_EQ(kCannotVerifyOnThisWindows, view.text);
    Screenshot(box, "check-cannot-verify");
    Answer(box, IDOK);
    ExpectEndState(kCheckEnded);
    EXPECT_TRUE(testserver::RequestLog().empty());
}

TEST_F(UpdateCheck, ErrorPageIsReportedAsUnreachable)
{
    testserver::ServeVersionFile("<html>Not here</html>", R"({"status": 404})");
    HWND box = nullptr;
    const ui::MessageBoxView view = StartAndReadBox(box);
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
    Answer(box, IDOK);
    ExpectEndState(kCheckEnded);
}

TEST_F(UpdateCheck, EnterPressesStartOnce)
{
    testserver::ServeRelease("3.0.1.2");
    ASSERT_TRUE(m_updater.Launch(m_installation));
    HWND dialog = m_updater.Dialog();
    ui::PressKey(dialog, VK_RETURN);
    HWND box = m_updater.WaitForModal();
    ASSERT_NE(nullptr, box);
    Answer(box, IDOK);
    ExpectEndState(kReady);
    ui::PressKey(dialog, VK_RETURN);
    EXPECT_FALSE(ui::WaitUntil([&] { return ui::FindOwnedDialog(dialog) != nullptr; }, 1500));
    ExpectOnlyVersionRequested();
}

TEST_F(UpdateCheck, AcceptedOfferAsksForAFolderAndCancellingItDownloadsNothing)
{
    testserver::ServeRelease("3.0.1.3");
    testserver::ServePackage("package");
    HWND box = nullptr;
    StartAndReadBox(box);
    Answer(box, IDYES);
    HWND saveAs = m_updater.WaitForModal();
    ASSERT_NE(nullptr, saveAs);
    EXPECT_EQ(kDownloading, StatusText());
    ASSERT_TRUE(ui::Click(saveAs, IDCANCEL));
    ExpectEndState(kCheckEnded);
    ExpectOnlyVersionRequested();
}

namespace
{
struct RoadLanguage
{
    const char* language;
    const char* question;
    const char* downloading;
    const char* downloaded;
};

class Road : public UpdateCheck, public ::testing::WithParamInterface<RoadLanguage>
{
};
} // namespace

TEST_P(Road, FromStartToADownloadedPackage)
{
    const RoadLanguage& road = GetParam();
    m_installation.Register(road.language);
    testserver::ServeRelease("3.0.1.3");
    // A package large enough, and served slowly enough, to see the bar move.
    std::string package(256 * 1024, '\0');
    for (size_t i = 0; i < package.size(); ++i)
        package[i] = static_cast<char>((i * 7919) >> 3);
    testserver::ServePackage(package, R"({"drip": {"bytes": 16384, "every_ms": 60}})");
    const std::string folder = "C:\\Downloads " + std::string(road.language);
    MakeFolders(folder);
    DeleteFileA((folder + "\\" SEEKWELL_PACKAGE_NAME).c_str());

    ASSERT_TRUE(m_updater.Launch(m_installation));
    HWND dialog = m_updater.Dialog();
    ASSERT_TRUE(ui::Click(dialog, IDC_START));
    HWND box = m_updater.WaitForModal();
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(road.question, ui::ReadMessageBox(box).text);
    Answer(box, IDYES);
    HWND saveAs = m_updater.WaitForModal();
    ASSERT_NE(nullptr, saveAs);
    EXPECT_EQ(road.downloading, StatusText());
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, folder + "\\typed-name.exe"));

    // The bar moves while the status line keeps saying the download runs.
    int seenBetween = -1;
    ASSERT_TRUE(ui::WaitUntil(
        [&]
        {
            const int position = ui::ProgressPosition(dialog, IDC_PROGRESS);
            if (position > 0 && position < 100 && seenBetween < 0)
            {
                seenBetween = position;
                EXPECT_EQ(road.downloading, StatusText());
                Screenshot(dialog, std::string("road-downloading-") + road.language);
            }
            return StatusText() == road.downloaded;
        },
        60000))
        << StatusText();
    EXPECT_GT(seenBetween, 0);
    EXPECT_EQ(100, ui::ProgressPosition(dialog, IDC_PROGRESS));
    EXPECT_TRUE(ui::ItemEnabled(dialog, IDC_INSTALL));
    EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_START));
    Screenshot(dialog, std::string("road-downloaded-") + road.language);
    // Saved under the package's own name in the chosen folder, not under the typed one.
    EXPECT_EQ(package, ReadFileBytes(folder + "\\" SEEKWELL_PACKAGE_NAME));
    EXPECT_FALSE(FileExists(folder + "\\typed-name.exe"));
    const auto log = testserver::RequestLog();
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(kVersionRequest, log[0]);
    EXPECT_EQ(0u, log[1].find(kPackageRequestStart)) << log[1];
}

INSTANTIATE_TEST_SUITE_P(
    Languages, Road,
    ::testing::Values(
        RoadLanguage{"English", "Quorvel 3.0.1.3 is available.\nDo you want to download it now?",
                     kDownloading, kDownloaded},
        RoadLanguage{"German",
                     "Quorvel 3.0.1.3 ist verf\xFC"
                     "gbar.\nM\xF6"
                     "chten Sie es jetzt herunterladen?",
                     "Die Aktualisierung wird heruntergeladen...",
                     "Die Aktualisierung wurde heruntergeladen. Klicken Sie auf Installieren."}),
    [](const ::testing::TestParamInfo<RoadLanguage>& row) { return std::string(row.param.language); });
