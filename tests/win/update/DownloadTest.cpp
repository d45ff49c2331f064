// The package download against the real platform: the progress callback reporting to a
// fake window, and real transfers from the local update server.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Download.h"
#include "PackageMove.h"
#include "Crypto.h"
#include "DownloadStatus.h"
#include "TestServer.h"
#include "UpdateHost.h"

#include "CodePage.h"
#include "TestFiles.h"

using testfiles::FileExists;
using testfiles::FilesIn;
using testfiles::MakePackage;
using testfiles::ReadFileBytes;

namespace
{
// Stands in for the window that shows the download: records what the transfer reports
// and answers the time limit's clock readings.
class FakeProgress : public IDownloadProgress
{
  public:
    void SetDownloadProgress(int reported) override { percent = reported; }
    void PumpMessages() override { ++pumps; }
    int64_t NowSeconds() override { return clock ? clock() : now; }

    int percent = -1;
    int pumps = 0;
    int64_t now = 1'700'000'000;
    std::function<int64_t()> clock;
};

class DownloadStatusTest : public ::testing::Test
{
  protected:
    FakeProgress progress;
    CDownloadStatus status{progress};
};
} // namespace

TEST_F(DownloadStatusTest, FreshObjectHasNoDeadline)
{
    EXPECT_FALSE(status.DeadlineArmed());
    EXPECT_EQ(0, status.Deadline());
    // Never armed, it never aborts, however late it is.
    progress.now += 1'000'000;
    EXPECT_EQ(S_OK, status.OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    EXPECT_EQ(50, progress.percent);
}

TEST_F(DownloadStatusTest, ArmingSetsTheDeadlineEightySecondsFromNow)
{
    status.ArmDeadline();
    EXPECT_TRUE(status.DeadlineArmed());
    EXPECT_EQ(1'700'000'080, status.Deadline());
}

// The deadline's own second still moves the bar and pumps the queue; the next second
// aborts before touching either.
TEST_F(DownloadStatusTest, DeadlineSecondIsAcceptedAndTheNextAborts)
{
    struct Row
    {
        const char* edge;
        int64_t secondsAfterStart;
        HRESULT expected;
    };
    const Row rows[] = {
        {"just started", 0, S_OK},
        {"one second before the deadline", 79, S_OK},
        {"the deadline's own second", 80, S_OK},
        {"one second after the deadline", 81, E_ABORT},
        {"long after the deadline", 100'000, E_ABORT},
    };
    const int64_t start = progress.now;
    status.ArmDeadline();
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        progress.percent = 7;
        progress.pumps = 0;
        progress.now = start + row.secondsAfterStart;

        EXPECT_EQ(row.expected, status.OnProgress(512, 1024, BINDSTATUS_DOWNLOADINGDATA, nullptr));

        const bool accepted = row.expected == S_OK;
        EXPECT_EQ(accepted ? 50 : 7, progress.percent);
        EXPECT_EQ(accepted ? 1 : 0, progress.pumps);
    }
}

TEST_F(DownloadStatusTest, BarShowsTruncatedUnclampedPercentage)
{
    struct Row
    {
        const char* edge;
        ULONG progress;
        ULONG progressMax;
        int bar;
    };
    const Row rows[] = {
        {"half", 512, 1024, 50},
        {"1023 of 1024 truncates", 1023, 1024, 99},
        {"3e9 of 4e9 without overflow", 3'000'000'000u, 4'000'000'000u, 75},
        {"no total gives 0", 5, 0, 0},
        {"all of it", 1024, 1024, 100},
        {"beyond the total is sent unchanged", 1536, 1024, 150},
        {"nothing yet", 0, 1024, 0},
    };
    for (const Row& row : rows)
    {
        progress.percent = 333;
        EXPECT_EQ(S_OK, status.OnProgress(row.progress, row.progressMax, BINDSTATUS_DOWNLOADINGDATA, nullptr))
            << row.edge;
        EXPECT_EQ(row.bar, progress.percent) << row.edge;
    }
}

// Whatever kind of notification arrives, it moves the bar.
TEST_F(DownloadStatusTest, EveryNotificationKindMovesTheBar)
{
    for (ULONG code :
         {BINDSTATUS_CONNECTING, BINDSTATUS_SENDINGREQUEST, BINDSTATUS_MIMETYPEAVAILABLE,
          BINDSTATUS_BEGINDOWNLOADDATA, BINDSTATUS_ENDDOWNLOADDATA, BINDSTATUS_CACHEFILENAMEAVAILABLE})
    {
        progress.percent = 333;
        EXPECT_EQ(S_OK, status.OnProgress(1, 4, code, L"text")) << code;
        EXPECT_EQ(25, progress.percent) << code;
    }
}

TEST_F(DownloadStatusTest, OffersOnlyTheHttpStatusProbe)
{
    void* object = &status;
    for (REFIID iid : {IID_IUnknown, IID_IBindStatusCallback, IID_IServiceProvider, IID_IHttpNegotiate2,
                       IID_IAuthenticate, IID_IWindowForBindingUI})
    {
        object = &status;
        EXPECT_EQ(E_NOTIMPL, status.QueryInterface(iid, &object));
    }

    IHttpNegotiate* negotiate = nullptr;
    ASSERT_EQ(S_OK, status.QueryInterface(IID_IHttpNegotiate, reinterpret_cast<void**>(&negotiate)));
    ASSERT_NE(nullptr, negotiate);
    EXPECT_EQ(E_NOTIMPL, negotiate->QueryInterface(IID_IUnknown, &object));
    EXPECT_EQ(0u, negotiate->AddRef());
    EXPECT_EQ(0u, negotiate->Release());

    // The probe asks every cache on the way to revalidate, in memory the platform
    // frees, and takes in the response status.
    LPWSTR added = nullptr;
    EXPECT_EQ(S_OK, negotiate->BeginningTransaction(L"http://x/", L"", 0, &added));
    ASSERT_NE(nullptr, added);
    EXPECT_STREQ(L"Cache-Control: no-cache\r\nPragma: no-cache\r\n", added);
    CoTaskMemFree(added);
    EXPECT_EQ(0u, status.HttpStatus());
    added = reinterpret_cast<LPWSTR>(&object);
    EXPECT_EQ(S_OK, negotiate->OnResponse(404, L"HTTP/1.1 404 Not Found\r\n", nullptr, &added));
    EXPECT_EQ(nullptr, added);
    EXPECT_EQ(404u, status.HttpStatus());
}

// A transfer limited to a signed size of 1 MiB (limit 1 MiB + 4 KiB + 64 KiB = 1118208
// bytes) stops at the first notification, or the response, that shows more; the bar and
// the pump are left alone then, and every later notification is refused as well.
TEST_F(DownloadStatusTest, ByteLimitStopsAtTheFirstSignOfMore)
{
    struct Row
    {
        const char* edge;
        ULONG progress;
        ULONG progressMax;
        bool stopped;
    };
    const Row rows[] = {
        {"no total yet", 0, 0, false},
        {"the signed size of the signed size", 1048576, 1048576, false},
        {"one byte more, announced and arrived", 1048577, 1048577, false},
        {"at the limit exactly", 1118208, 1118208, false},
        {"one byte past the limit arrived, no total", 1118209, 0, true},
        {"announced one byte past the limit, nothing arrived", 0, 1118209, true},
        {"announced 4 GiB - 1", 65536, 4294967295u, true},
        {"arrived 4 GiB - 1", 4294967295u, 0, true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        CDownloadStatus limited(progress);
        limited.LimitTo(1048576);
        progress.percent = 7;
        progress.pumps = 0;

        EXPECT_EQ(row.stopped ? E_ABORT : S_OK,
                  limited.OnProgress(row.progress, row.progressMax, BINDSTATUS_DOWNLOADINGDATA, nullptr));
        EXPECT_EQ(row.stopped, limited.Oversized());
        EXPECT_EQ(row.stopped ? 0 : 1, progress.pumps);
        EXPECT_EQ(row.stopped, progress.percent == 7);
        // Once stopped, stopped for good: even a notification of nothing is refused.
        EXPECT_EQ(row.stopped ? E_ABORT : S_OK,
                  limited.OnProgress(0, 0, BINDSTATUS_DOWNLOADINGDATA, nullptr));
        // Without a limit the same counts pass.
        CDownloadStatus unlimited(progress);
        EXPECT_EQ(S_OK,
                  unlimited.OnProgress(row.progress, row.progressMax, BINDSTATUS_DOWNLOADINGDATA, nullptr));
    }
}

// The announced length is seen in the response, before any data: a length past the
// limit stops the transfer there, and again at the next notification.
TEST_F(DownloadStatusTest, LengthAnnouncedPastTheLimitStopsBeforeTheBody)
{
    struct Row
    {
        const char* edge;
        const wchar_t* headers;
        bool stopped;
    };
    const Row rows[] = {
        {"the signed size", L"HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n", false},
        {"at the limit", L"HTTP/1.1 200 OK\r\ncontent-length: 1118208\r\n\r\n", false},
        {"no length", L"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", false},
        {"no headers given", nullptr, false},
        {"one byte past the limit", L"HTTP/1.1 200 OK\r\nContent-Length: 1118209\r\n\r\n", true},
        {"2 GiB", L"HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n", true},
        {"past 64 bits", L"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", true},
        {"a second, larger length", L"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 9999999\r\n",
         true},
        {"non-ASCII text around it", L"HTTP/1.1 200 \x00e9\r\nX-Note: \x4e2d\r\nContent-Length: 9999999\r\n",
         true},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        CDownloadStatus limited(progress);
        limited.LimitTo(1048576);
        IHttpNegotiate* negotiate = nullptr;
        ASSERT_EQ(S_OK, limited.QueryInterface(IID_IHttpNegotiate, reinterpret_cast<void**>(&negotiate)));

        EXPECT_EQ(row.stopped ? E_ABORT : S_OK, negotiate->OnResponse(200, row.headers, nullptr, nullptr));
        EXPECT_EQ(200u, limited.HttpStatus());
        EXPECT_EQ(row.stopped, limited.Oversized());
        EXPECT_EQ(row.stopped ? E_ABORT : S_OK,
                  limited.OnProgress(0, 0, BINDSTATUS_MIMETYPEAVAILABLE, L"application/octet-stream"));
    }
    // Without a limit no length is refused.
    IHttpNegotiate* negotiate = nullptr;
    ASSERT_EQ(S_OK, status.QueryInterface(IID_IHttpNegotiate, reinterpret_cast<void**>(&negotiate)));
    EXPECT_EQ(S_OK, negotiate->OnResponse(200, L"HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n", nullptr,
                                          nullptr));
    EXPECT_FALSE(status.Oversized());
}

TEST_F(DownloadStatusTest, CountsNoReferencesAndImplementsOnlyProgress)
{
    IBindStatusCallback& callback = status;
    EXPECT_EQ(0u, callback.AddRef());
    EXPECT_EQ(0u, callback.AddRef());
    EXPECT_EQ(0u, callback.Release());
    EXPECT_EQ(0u, callback.Release());
    EXPECT_EQ(0u, callback.Release());

    LONG priority = 0;
    DWORD flags = 0;
    BINDINFO info{};
    info.cbSize = sizeof info;
    EXPECT_EQ(E_NOTIMPL, callback.OnStartBinding(0, nullptr));
    EXPECT_EQ(E_NOTIMPL, callback.GetPriority(&priority));
    EXPECT_EQ(E_NOTIMPL, callback.OnLowResource(0));
    EXPECT_EQ(E_NOTIMPL, callback.OnStopBinding(S_OK, nullptr));
    EXPECT_EQ(E_NOTIMPL, callback.GetBindInfo(&flags, &info));
    EXPECT_EQ(E_NOTIMPL, callback.OnDataAvailable(0, 0, nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, callback.OnObjectAvailable(IID_IUnknown, nullptr));
}

namespace
{

const std::string kPackageUrl = PackageUrl(SEEKWELL_UPDATE_BASE_URL, "Quorvel30", SEEKWELL_PACKAGE_NAME);

// The manifest entry of a package of these bytes.
ManifestPackage ExpectedPackage(const std::string& bytes)
{
    ManifestPackage package;
    package.name = SEEKWELL_PACKAGE_NAME;
    package.size = bytes.size();
    CSha256 sha;
    EXPECT_TRUE(sha.Update(bytes.data(), bytes.size()) && sha.Finish(package.sha256));
    return package;
}

bool CachedCopyExists()
{
    DWORD size = 0;
    return !GetUrlCacheEntryInfoA(kPackageUrl.c_str(), nullptr, &size) &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

const char* VerdictName(DownloadVerdict verdict)
{
    switch (verdict)
    {
    case DownloadVerdict::Complete:
        return "Complete";
    case DownloadVerdict::NoTemporaryFile:
        return "NoTemporaryFile";
    case DownloadVerdict::TransferFailed:
        return "TransferFailed";
    case DownloadVerdict::Oversized:
        return "Oversized";
    case DownloadVerdict::HttpError:
        return "HttpError";
    case DownloadVerdict::ShortBody:
        return "ShortBody";
    case DownloadVerdict::NotVerified:
        return "NotVerified";
    case DownloadVerdict::NotMoved:
        return "NotMoved";
    }
    return "?";
}

// Transfers from the local server into a fresh folder of the test's own.
class DownloadTransferTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const std::string missing = testserver::PrepareFreshServer();
        if (!missing.empty())
            FAIL() << missing;
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = std::string(temp) + "dl-" + info->name();
        RemoveFolder();
        CreateDirectoryA(m_folder.c_str(), nullptr);
        m_target = m_folder + "\\" SEEKWELL_PACKAGE_NAME;
    }
    void TearDown() override
    {
        if (!m_folder.empty())
            RemoveFolder();
        testserver::Clear();
    }
    void RemoveFolder()
    {
        for (const std::string& name : FilesIn(m_folder))
            DeleteFileA((m_folder + "\\" + name).c_str());
        RemoveDirectoryA(m_folder.c_str());
    }
    DownloadOutcome Download() { return DownloadPackage(kPackageUrl, m_target, m_expected, progress); }
    // Serves `bytes` as the package and expects exactly them, as a signed manifest would.
    void Serve(const std::string& bytes, const std::string& sidecar = std::string())
    {
        testserver::ServePackage(bytes, sidecar);
        m_expected = ExpectedPackage(bytes);
    }
    // Requests for the package that reached the server.
    int PackageRequests() const
    {
        int count = 0;
        for (const std::string& line : testserver::RequestLog())
            count += line.find("/Quorvel30/" SEEKWELL_PACKAGE_NAME " ") != std::string::npos ? 1 : 0;
        return count;
    }

    FakeProgress progress;
    ManifestPackage m_expected;
    std::string m_folder;
    std::string m_target;
};
} // namespace

TEST_F(DownloadTransferTest, GoodPackageArrivesByteIdentical)
{
    const std::string package = MakePackage(3 * 1024 * 1024 + 17, 1);
    Serve(package);

    const DownloadOutcome outcome = Download();

    EXPECT_EQ(DownloadVerdict::Complete, outcome.verdict) << VerdictName(outcome.verdict);
    EXPECT_EQ(S_OK, outcome.transferResult);
    EXPECT_EQ(200u, outcome.httpStatus);
    EXPECT_EQ(package.size(), outcome.announcedTotal);
    EXPECT_TRUE(ReadFileBytes(m_target) == package);
    EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(m_folder));
    // No second copy is left behind in the internet cache.
    EXPECT_FALSE(CachedCopyExists());
    EXPECT_EQ(100, progress.percent);
    EXPECT_GT(progress.pumps, 0);
    // The status probe costs no request of its own.
    EXPECT_EQ(1, PackageRequests());
    const auto log = testserver::RequestLog();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(0u, log[0].find("GET http://" SEEKWELL_UPDATE_HOST ":80/store/" SEEKWELL_UPDATE_TOKEN
                              "/Quorvel30/" SEEKWELL_PACKAGE_NAME " HTTP/1.1"))
        << log[0];
}

TEST_F(DownloadTransferTest, NewPackageReplacesAnOlderOne)
{
    const std::string package = MakePackage(200 * 1024, 2);
    Serve(package);
    testfiles::WriteFile(m_target, MakePackage(300 * 1024, 3));

    EXPECT_EQ(DownloadVerdict::Complete, Download().verdict);
    EXPECT_TRUE(ReadFileBytes(m_target) == package);
    EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(m_folder));
}

// A transfer that delivered nothing is never a package, whatever the call returned and
// even where an empty file is what was expected.
TEST_F(DownloadTransferTest, EmptyBodyIsNoPackage)
{
    Serve(std::string());

    const DownloadOutcome outcome = Download();

    EXPECT_EQ(DownloadVerdict::ShortBody, outcome.verdict) << VerdictName(outcome.verdict);
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(m_folder));
}

TEST_F(DownloadTransferTest, PackageWithoutLengthArrivesWithTheBarAtZero)
{
    const std::string package = MakePackage(700 * 1024, 4);
    Serve(package, R"({"omit_content_length": true, "chunk_size": 16384})");

    const DownloadOutcome outcome = Download();

    EXPECT_EQ(DownloadVerdict::Complete, outcome.verdict) << VerdictName(outcome.verdict);
    EXPECT_TRUE(ReadFileBytes(m_target) == package);
    EXPECT_EQ(0, progress.percent);
}

// Under Wine the platform's call reports S_OK for all of these and leaves the error
// page, the cut body or the foreign bytes behind; none may become the package.
TEST_F(DownloadTransferTest, ErrorPagesShortBodiesAndForeignBytesAreNoPackage)
{
    const std::string package = MakePackage(1024 * 1024, 5);
    const std::string older = MakePackage(4096, 6);
    const std::string sameSizeOtherBytes = MakePackage(package.size(), 15);
    const std::string oneByteMore = package + "x";
    struct Row
    {
        const char* edge;
        const std::string* served;
        const char* sidecar;
        DownloadVerdict verdict;
    };
    const Row rows[] = {
        {"404, nothing served", nullptr, "", DownloadVerdict::HttpError},
        {"404 with a page", &package, R"({"status": 404, "body": "<html>not here</html>"})",
         DownloadVerdict::HttpError},
        {"500 with a page", &package, R"({"status": 500, "body": "<html>broken</html>"})",
         DownloadVerdict::HttpError},
        {"503 with the package as body", &package, R"({"status": 503})", DownloadVerdict::HttpError},
        {"closed after 300000 bytes", &package, R"({"close_after_bytes": 300000})",
         DownloadVerdict::ShortBody},
        {"closed before any byte", &package, R"({"close_after_bytes": 0})", DownloadVerdict::ShortBody},
        {"announced one byte more", &package, R"({"content_length": 1048577})", DownloadVerdict::ShortBody},
        {"same size, other bytes", &sameSizeOtherBytes, "", DownloadVerdict::NotVerified},
        {"one byte more than signed", &oneByteMore, "", DownloadVerdict::NotVerified},
    };
    for (const Row& row : rows)
    {
        for (const bool olderPresent : {false, true})
        {
            SCOPED_TRACE(std::string(row.edge) + (olderPresent ? ", older package present" : ""));
            testserver::Clear();
            m_expected = ExpectedPackage(package);
            if (row.served != nullptr)
                testserver::ServePackage(*row.served, row.sidecar);
            RemoveFolder();
            CreateDirectoryA(m_folder.c_str(), nullptr);
            if (olderPresent)
                testfiles::WriteFile(m_target, older);
            const DownloadOutcome outcome = Download();

            EXPECT_EQ(row.verdict, outcome.verdict) << VerdictName(outcome.verdict);
            if (olderPresent)
            {
                EXPECT_TRUE(ReadFileBytes(m_target) == older);
                EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(m_folder));
            }
            else
            {
                EXPECT_EQ(std::vector<std::string>{}, FilesIn(m_folder));
            }
        }
    }
}

TEST_F(DownloadTransferTest, UnwritableFolderFailsBeforeAnyRequest)
{
    Serve(MakePackage(1000, 7));
    for (const std::string& target :
         {std::string("Z:\\proc\\" SEEKWELL_PACKAGE_NAME), m_folder + "\\missing\\" SEEKWELL_PACKAGE_NAME,
          std::string("nofolder.exe")})
    {
        EXPECT_EQ(DownloadVerdict::NoTemporaryFile,
                  DownloadPackage(kPackageUrl, target, m_expected, progress).verdict)
            << target;
        EXPECT_FALSE(FileExists(target)) << target;
    }
    EXPECT_EQ(0, PackageRequests());
}

TEST_F(DownloadTransferTest, TargetThatIsAFolderKeepsItAndLeavesNoTemporaryFile)
{
    Serve(MakePackage(1000, 8));
    ASSERT_TRUE(CreateDirectoryA(m_target.c_str(), nullptr));

    EXPECT_EQ(DownloadVerdict::NotMoved, Download().verdict);

    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
              GetFileAttributesA(m_target.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(m_folder));
    RemoveDirectoryA(m_target.c_str());
}

namespace
{
// MoveFileExA as Windows 9x exports it, and as it fails for an ordinary reason.
BOOL WINAPI MoveNotImplemented(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI MoveDenied(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
} // namespace

// Where MoveFileExA is exported but not implemented (Windows 9x), the verified package
// replaces the older one step by step, and a step that fails loses neither; any other
// failure of the move is final.
TEST_F(DownloadTransferTest, WithoutMoveFileExThePackageIsReplacedStepByStep)
{
    const std::string verified = m_folder + "\\swd1.tmp";
    const std::string newer = MakePackage(5000, 11);
    const std::string older = MakePackage(7000, 12);
    const std::vector<std::string> packageOnly = {SEEKWELL_PACKAGE_NAME};
    const std::vector<std::string> both = {SEEKWELL_PACKAGE_NAME, "swd1.tmp"};
    enum class Older
    {
        None,
        File,
        ReadOnlyFile,
        Folder
    };
    struct Row
    {
        const char* edge;
        MoveFileExFunction move;
        Older older;
        bool verifiedThere;
        bool moved;
        std::vector<std::string> left;
    };
    const Row rows[] = {
        {"no older package", &MoveNotImplemented, Older::None, true, true, packageOnly},
        {"older package replaced", &MoveNotImplemented, Older::File, true, true, packageOnly},
        {"verified file gone: the older one stays", &MoveNotImplemented, Older::File, false, false,
         packageOnly},
        {"read-only older package stays", &MoveNotImplemented, Older::ReadOnlyFile, true, false, both},
        {"a folder at the target stays", &MoveNotImplemented, Older::Folder, true, false, both},
        {"another failure is not retried", &MoveDenied, Older::File, true, false, both},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        testfiles::RemoveFolder(m_folder);
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr));
        if (row.older == Older::File || row.older == Older::ReadOnlyFile)
            testfiles::WriteFile(m_target, older);
        ASSERT_TRUE(row.older != Older::Folder || CreateDirectoryA(m_target.c_str(), nullptr));
        ASSERT_TRUE(row.older != Older::ReadOnlyFile ||
                    SetFileAttributesA(m_target.c_str(), FILE_ATTRIBUTE_READONLY));
        if (row.verifiedThere)
            testfiles::WriteFile(verified, newer);

        EXPECT_EQ(row.moved, MovePackageIntoPlace(verified, m_target, row.move));

        EXPECT_EQ(row.left, FilesIn(m_folder));
        const bool olderFile = row.older == Older::File || row.older == Older::ReadOnlyFile;
        EXPECT_TRUE(!row.moved || ReadFileBytes(m_target) == newer);
        EXPECT_TRUE(row.moved || !olderFile || ReadFileBytes(m_target) == older);
        EXPECT_TRUE(row.moved || !row.verifiedThere || ReadFileBytes(verified) == newer);
    }
    testfiles::RemoveFolder(m_folder);
}

// Renamed through the handle that read it, the checked file replaces an older package as
// the move by name does, and is refused where the move by name would be.
TEST_F(DownloadTransferTest, RenameThroughTheHeldHandleReplacesAsTheMoveDoes)
{
    const std::string temporary = m_folder + "\\swd1.tmp";
    const std::string newer = MakePackage(5000, 13);
    const std::string older = MakePackage(7000, 14);
    enum class Older
    {
        None,
        File,
        ReadOnlyFile,
        Folder
    };
    struct Row
    {
        const char* edge;
        Older older;
        bool renamed;
    };
    const Row rows[] = {
        {"no older package", Older::None, true},
        {"older package replaced", Older::File, true},
        {"read-only older package stays", Older::ReadOnlyFile, false},
        {"a folder at the target stays", Older::Folder, false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        testfiles::RemoveFolder(m_folder);
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr));
        if (row.older == Older::File || row.older == Older::ReadOnlyFile)
            testfiles::WriteFile(m_target, older);
        ASSERT_TRUE(row.older != Older::Folder || CreateDirectoryA(m_target.c_str(), nullptr));
        ASSERT_TRUE(row.older != Older::ReadOnlyFile ||
                    SetFileAttributesA(m_target.c_str(), FILE_ATTRIBUTE_READONLY));
        testfiles::WriteFile(temporary, newer);
        {
            HANDLE held = CreateFileA(temporary.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
            EXPECT_EQ(row.renamed, RenameHeldFile(held, m_target));
            CloseHandle(held);
        }
        EXPECT_TRUE(!row.renamed || ReadFileBytes(m_target) == newer);
        EXPECT_TRUE(row.renamed || row.older == Older::Folder || ReadFileBytes(m_target) == older);
        EXPECT_EQ(!row.renamed, FileExists(temporary));
        SetFileAttributesA(m_target.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    testfiles::RemoveFolder(m_folder);
}

namespace
{
// Someone who can write to the chosen folder, acting between the check of the temporary
// file and its move: writes into it, or renames it away (or deletes it) and puts other
// bytes of the same size under its name. Counts what the platform let them do.
std::string g_temporary;
std::string g_foreign;
int g_attacksLetThrough = 0;
void SwapTheTemporaryFile()
{
    HANDLE file = CreateFileA(g_temporary.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
    {
        DWORD written = 0;
        WriteFile(file, g_foreign.data(), static_cast<DWORD>(g_foreign.size()), &written, nullptr);
        CloseHandle(file);
        ++g_attacksLetThrough;
    }
    if (MoveFileA(g_temporary.c_str(), (g_temporary + ".away").c_str()) || DeleteFileA(g_temporary.c_str()))
    {
        testfiles::WriteFile(g_temporary, g_foreign);
        ++g_attacksLetThrough;
    }
}

bool SwapThenRenameHeld(HANDLE held, const std::string& target) noexcept
{
    SwapTheTemporaryFile();
    return RenameHeldFile(held, target);
}

BOOL WINAPI SwapThenFindNoMoveFileEx(LPCSTR, LPCSTR, DWORD)
{
    SwapTheTemporaryFile();
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
} // namespace

// What reaches the package path is what was hashed. Held open against writing, renaming
// and deleting, and renamed through its own handle, the file cannot be swapped; where it
// must be moved by name (Windows 9x) a swap is caught at the target before "downloaded",
// and the foreign bytes do not stay there.
TEST_F(DownloadTransferTest, SwapOfTheTemporaryFileBetweenHashAndMoveIsRefusedOrCaught)
{
    const std::string checked = MakePackage(64 * 1024, 16);
    g_foreign = MakePackage(checked.size(), 17);
    g_temporary = m_folder + "\\swd2.tmp";
    struct Row
    {
        const char* edge;
        PlacementFunctions functions;
        PlacementVerdict verdict;
    };
    const Row rows[] = {
        {"held, renamed through its handle", PlacementFunctions{&SwapThenRenameHeld, &MoveFileExA},
         PlacementVerdict::Placed},
        {"moved by name, checked where it arrived", PlacementFunctions{nullptr, &SwapThenFindNoMoveFileEx},
         PlacementVerdict::NotThePackage},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        testfiles::RemoveFolder(m_folder);
        ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr));
        testfiles::WriteFile(m_target, MakePackage(1000, 18));
        testfiles::WriteFile(g_temporary, checked);
        g_attacksLetThrough = 0;

        EXPECT_EQ(row.verdict,
                  PlaceCheckedPackage(g_temporary, m_target, ExpectedPackage(checked), row.functions));

        EXPECT_FALSE(ReadFileBytes(m_target) == g_foreign);
        if (row.verdict == PlacementVerdict::Placed)
        {
            EXPECT_EQ(0, g_attacksLetThrough);
            EXPECT_TRUE(ReadFileBytes(m_target) == checked);
        }
        else
        {
            EXPECT_GT(g_attacksLetThrough, 0);
            EXPECT_FALSE(FileExists(m_target));
        }
    }
    testfiles::RemoveFolder(m_folder);
}

namespace
{
// Stands still at the start for a number of readings, then jumps past the limit.
int g_readingsBeforeJump = 0;
int g_readings = 0;
int64_t JumpingClock()
{
    ++g_readings;
    return g_readings <= g_readingsBeforeJump ? 1'700'000'000 : 1'700'000'000 + 81;
}

// The real clock, but as if the transfer had begun 77 seconds before it did: the time
// limit passes about three seconds into the transfer. The first reading arms the limit.
DWORD g_rushedStart = 0;
bool g_rushedArmed = false;
int64_t RushedClock()
{
    if (!g_rushedArmed)
    {
        g_rushedArmed = true;
        g_rushedStart = GetTickCount();
        return 1'700'000'000;
    }
    return 1'700'000'000 + 77 + (GetTickCount() - g_rushedStart) / 1000;
}
void RushTheClock(FakeProgress& progress)
{
    g_rushedArmed = false;
    progress.clock = RushedClock;
}
} // namespace

TEST_F(DownloadTransferTest, TimeLimitAbortsMidBodyAndRemovesThePartialFile)
{
    const std::string package = MakePackage(1024 * 1024, 9);
    Serve(package, R"({"drip": {"bytes": 65536, "every_ms": 30}})");
    g_readings = 0;
    // One reading arms the deadline; a few notifications pass before the jump.
    g_readingsBeforeJump = 8;
    progress.clock = JumpingClock;

    const DownloadOutcome outcome = Download();

    EXPECT_EQ(DownloadVerdict::TransferFailed, outcome.verdict) << VerdictName(outcome.verdict);
    EXPECT_EQ(E_ABORT, outcome.transferResult);
    EXPECT_EQ(g_readingsBeforeJump + 1, g_readings) << "the first reading past the limit ends the transfer";
    EXPECT_GT(outcome.bytesNotified, 0u);
    EXPECT_LT(outcome.bytesNotified, package.size());
    EXPECT_LT(progress.percent, 100);
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(m_folder));
}

// A body that never ends, or a length announced far past the signed size, is stopped
// long before the time limit: a failure of its own, nothing left in the folder but the
// older package, and no copy in the internet cache. The server's own count of what it
// sent shows where the transfer was stopped.
TEST_F(DownloadTransferTest, EndlessOrOverlongBodyIsStoppedEarly)
{
    const std::string package = MakePackage(256 * 1024, 16);
    const std::string older = MakePackage(4096, 17);
    // A paced body comes at about 100 Mbit/s, so eighty seconds of it would be a gigabyte;
    // its bound is a small part of that, well above what the platform's buffers take in
    // before it stops. A body at the loopback's full speed without a length is stopped
    // as soon (the bytes are counted as they are written), but the platform may have
    // taken in more than the bound by then; what it sent is recorded. One at full speed
    // under a length has a test of its own (below).
    constexpr long long kRecordOnly = -1;
    constexpr long long kPacedBound = 16ll * 1024 * 1024;
    struct Row
    {
        const char* edge;
        std::string sidecar;
        DownloadVerdict verdict;
        long long sentBound;
        // Refused on the announced length, before any data was notified.
        bool refusedOnLength;
    };
    const Row rows[] = {
        {"endless, no length", R"({"endless": true})", DownloadVerdict::Oversized, kRecordOnly, false},
        {"endless, no length, paced", R"({"endless": true, "drip": {"bytes": 65536, "every_ms": 5}})",
         DownloadVerdict::Oversized, kPacedBound, false},
        {"endless under a length of 4 GiB - 1, paced",
         R"({"endless": true, "content_length": 4294967295, "drip": {"bytes": 65536, "every_ms": 5}})",
         DownloadVerdict::Oversized, kPacedBound, true},
        {"2 GiB announced, the package sent", R"({"content_length": 2147483648})", DownloadVerdict::Oversized,
         kPacedBound, true},
        // What follows the announced length is never read: the package arrives. (The
        // platform keeps the connection for another request, so the server, whose
        // writes then wait, records nothing.)
        {"endless under the signed length", R"({"endless": true, "content_length": 262144})",
         DownloadVerdict::Complete, 0, false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        const std::string record = ".sent-" + std::to_string(&row - rows);
        testserver::Clear();
        testserver::ClearSentRecord(record);
        std::string sidecar = row.sidecar;
        if (row.sentBound != 0)
            sidecar.insert(sidecar.size() - 1, ", " + testserver::RecordSentField(record));
        Serve(package, sidecar);
        RemoveFolder();
        CreateDirectoryA(m_folder.c_str(), nullptr);
        testfiles::WriteFile(m_target, older);

        const DownloadOutcome outcome = Download();

        EXPECT_EQ(row.verdict, outcome.verdict) << VerdictName(outcome.verdict);
        RecordProperty(std::string(row.edge) + " bytes notified", std::to_string(outcome.bytesNotified));
        if (row.sentBound != 0)
        {
            const long long sent = testserver::RecordedBytesSent(record);
            RecordProperty(std::string(row.edge) + " bytes sent", std::to_string(sent));
            EXPECT_GT(sent, 0);
            if (row.sentBound != kRecordOnly)
            {
                EXPECT_LT(sent, row.sentBound);
            }
        }
        EXPECT_TRUE(ReadFileBytes(m_target) == (row.verdict == DownloadVerdict::Complete ? package : older));
        EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(m_folder));
        EXPECT_FALSE(CachedCopyExists());
        if (row.verdict == DownloadVerdict::Oversized)
        {
            EXPECT_EQ(E_ABORT, outcome.transferResult);
            EXPECT_LT(progress.percent, 100);
        }
        if (row.refusedOnLength)
        {
            EXPECT_EQ(0u, outcome.bytesNotified);
        }
    }
}

namespace
{
// Plants a copy of the package URL in the internet cache, valid for a day, as an
// earlier run would have left it; true when the entry is there.
bool PlantCachedPackage(const std::string& bytes)
{
    char cacheFile[MAX_PATH] = {};
    if (!CreateUrlCacheEntryA(kPackageUrl.c_str(), 0, "exe", cacheFile, 0))
        return false;
    testfiles::WriteFile(cacheFile, bytes);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER expiry{{now.dwLowDateTime, now.dwHighDateTime}};
    expiry.QuadPart += 24ull * 3600 * 10'000'000;
    const FILETIME expires{expiry.LowPart, expiry.HighPart};
    std::string headers = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bytes.size()) +
                          "\r\nCache-Control: max-age=86400\r\n\r\n";
    if (!CommitUrlCacheEntryA(kPackageUrl.c_str(), cacheFile, expires, now, NORMAL_CACHE_ENTRY,
                              reinterpret_cast<BYTE*>(&headers[0]), static_cast<DWORD>(headers.size()),
                              nullptr, nullptr))
        return false;
    return CachedCopyExists();
}
} // namespace

TEST_F(DownloadTransferTest, StaleCacheEntryIsForgottenBeforeTheTransfer)
{
    ASSERT_TRUE(PlantCachedPackage("stale package"));

    // A folder that cannot take the package stops the download before any transfer:
    // the entry is gone all the same.
    EXPECT_EQ(DownloadVerdict::NoTemporaryFile,
              DownloadPackage(kPackageUrl, "Z:\\proc\\" SEEKWELL_PACKAGE_NAME, m_expected, progress).verdict);
    EXPECT_FALSE(CachedCopyExists());
}

TEST_F(DownloadTransferTest, FreshPackageWinsOverACachedOne)
{
    const std::string stale = MakePackage(64 * 1024, 10);
    const std::string fresh = MakePackage(64 * 1024, 11);
    ASSERT_TRUE(PlantCachedPackage(stale));
    Serve(fresh);

    ASSERT_EQ(DownloadVerdict::Complete, Download().verdict);

    EXPECT_TRUE(ReadFileBytes(m_target) == fresh);
    EXPECT_EQ(1, PackageRequests());
}

namespace
{
// When the clock was read and when a notification moved the bar.
std::vector<DWORD> g_readingTicks;
int64_t TickRecordingClock()
{
    g_readingTicks.push_back(GetTickCount());
    return 1'700'000'000;
}

DWORD LongestGap(const std::vector<DWORD>& ticks)
{
    DWORD longest = 0;
    for (size_t i = 1; i < ticks.size(); ++i)
        longest = std::max<DWORD>(longest, ticks[i] - ticks[i - 1]);
    return longest;
}

class NotificationTimes : public FakeProgress
{
  public:
    void SetDownloadProgress(int reported) override
    {
        FakeProgress::SetDownloadProgress(reported);
        ticks.push_back(GetTickCount());
    }
    std::vector<DWORD> ticks;
};
} // namespace

// A stall sends no notifications, but the time limit is looked at all through it; the
// transfer resumes when the data does.
TEST_F(DownloadTransferTest, StallSendsNoNotificationsButTheLimitIsWatched)
{
    const std::string package = MakePackage(256 * 1024, 12);
    Serve(package, R"({"stall_after_bytes": 65536, "stall_ms": 3000})");
    g_readingTicks.clear();
    NotificationTimes notified;
    notified.clock = TickRecordingClock;

    EXPECT_EQ(DownloadVerdict::Complete,
              DownloadPackage(kPackageUrl, m_target, m_expected, notified).verdict);

    EXPECT_GE(LongestGap(notified.ticks), 2500u);
    EXPECT_LT(LongestGap(g_readingTicks), 1000u);
    EXPECT_TRUE(ReadFileBytes(m_target) == package);
}

// A server that sends nothing more, a redirect loop the platform follows without end, or
// a connection the platform never reports as reset: the time limit ends the transfer all
// the same, at its first look after the deadline, with no notification to wait for. The
// clock is rushed so that the limit comes about three seconds in.
TEST_F(DownloadTransferTest, SilenceOrALoopIsEndedByTheTimeLimit)
{
    const std::string package = MakePackage(512 * 1024, 13);
    const struct
    {
        const char* edge;
        const char* sidecar;
    } rows[] = {
        // Wine's platform follows a redirect loop without a limit.
        {"redirected to itself",
         R"({"status": 302, "redirect_to": "http://)" SEEKWELL_UPDATE_HOST R"(/store/)" SEEKWELL_UPDATE_TOKEN
         "/Quorvel30/" SEEKWELL_PACKAGE_NAME R"(", "headers": {"Connection": "close"}})"},
        {"nothing after the request", R"({"delay_headers_ms": 0, "held_by": ".silence"})"},
        {"headers, then nothing", R"({"stall_after_bytes": 0, "stall_ms": 0, "held_by": ".silence"})"},
        {"nothing after 64 KiB", R"({"stall_after_bytes": 65536, "stall_ms": 0, "held_by": ".silence"})"},
        // Wine's platform call never reported a reset mid-body, nor notified after it.
        {"reset after 128 KiB", R"({"reset_after_bytes": 131072})"},
    };
    const std::string older = MakePackage(4096, 17);
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.edge);
        testserver::Hold silence(".silence");
        Serve(package, row.sidecar);
        testfiles::WriteFile(m_target, older);
        RushTheClock(progress);
        const DWORD started = GetTickCount();

        const DownloadOutcome outcome = Download();

        const DWORD took = GetTickCount() - started;
        RecordProperty(std::string(row.edge) + " ms", std::to_string(took));
        std::printf("silent download: %s = %lu ms\n", row.edge, static_cast<unsigned long>(took));
        EXPECT_NE(DownloadVerdict::Complete, outcome.verdict) << VerdictName(outcome.verdict);
        // The limit passes between the third and the fourth second; a quarter of a
        // second more for the wait to look, two for the platform to confirm.
        EXPECT_LE(took, 6500u);
        if (outcome.timeLimitReached)
        {
            EXPECT_GE(took, 2900u);
            EXPECT_EQ(DownloadVerdict::TransferFailed, outcome.verdict) << VerdictName(outcome.verdict);
            EXPECT_EQ(E_ABORT, outcome.transferResult);
        }
        else
        {
            // Only a platform that reports the reset ends it before the limit.
            EXPECT_STREQ("reset after 128 KiB", row.edge);
        }
        EXPECT_LT(progress.percent, 100);
        EXPECT_TRUE(ReadFileBytes(m_target) == older);
        EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(m_folder));
    }
}

namespace
{
struct WorkerDownload
{
    std::string target;
    ManifestPackage expected;
    DownloadOutcome outcome;
};

DWORD WINAPI RunWorkerDownload(void* parameter)
{
    auto* work = static_cast<WorkerDownload*>(parameter);
    FakeProgress windowless;
    work->outcome = DownloadPackage(kPackageUrl, work->target, work->expected, windowless);
    return 0;
}
} // namespace

// A length far past the signed size is refused in the response, before any data. When
// the server then sends without a pause at the loopback's full speed, Wine's platform,
// as it closes the connection, goes on reading what remains of the announced length on
// the thread that stopped the transfer, for as long as data is waiting: the refusal is
// right, but it returns late. The transfer runs on a thread of its own, so the wait for
// it is bounded from here; how long it took is recorded.
TEST_F(DownloadTransferTest, EndlessBodyAtFullSpeedUnderALengthIsRefused)
{
    Serve(MakePackage(256 * 1024, 16), R"({"endless": true, "content_length": 4294967295})");
    static WorkerDownload work;
    work.target = m_target;
    work.expected = m_expected;
    const DWORD started = GetTickCount();
    HANDLE thread = CreateThread(nullptr, 0, RunWorkerDownload, &work, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    const DWORD waited = WaitForSingleObject(thread, 20'000);
    CloseHandle(thread);
    RecordProperty("refused_after_ms", std::to_string(GetTickCount() - started));
    if (waited == WAIT_TIMEOUT)
    {
        // The worker may still hold the temporary file; leave the folder alone.
        m_folder.clear();
        GTEST_SKIP() << "the platform was still reading the refused body after 20 s";
    }
    EXPECT_EQ(DownloadVerdict::Oversized, work.outcome.verdict) << VerdictName(work.outcome.verdict);
    EXPECT_EQ(E_ABORT, work.outcome.transferResult);
    EXPECT_EQ(0u, work.outcome.bytesNotified);
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(m_folder));
    EXPECT_FALSE(CachedCopyExists());
}

namespace
{
// Runs where the test runner starts this executable with a double-byte locale (code
// page 932); skipped elsewhere. 0x83 0x5C is one character whose trail byte is a
// backslash.
class DownloadDoubleByte : public DownloadTransferTest
{
  protected:
    void SetUp() override
    {
        const std::string whyNot = codepage::WhyNotDoubleByte();
        if (!whyNot.empty())
            GTEST_SKIP() << whyNot;
        DownloadTransferTest::SetUp();
    }
};
} // namespace

TEST_F(DownloadDoubleByte, FolderIsCutAtTheLastRealBackslash)
{
    struct Row
    {
        const char* edge;
        const char* confirmed;
        const char* folder;
    };
    const Row rows[] = {
        {"folder ending in a trail-byte backslash", "C:\\\x83\x5C\\x.exe", "C:\\\x83\x5C"},
        {"file name ending in a trail-byte backslash", "C:\\Downloads\\\x83\x5C", "C:\\Downloads"},
        {"two double-byte characters", "C:\\\x95\x5C\x8E\xA6\\mine.exe", "C:\\\x95\x5C\x8E\xA6"},
        {"drive root", "C:\\\x83\x5C.exe", "C:"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(std::string(row.folder) + "\\" SEEKWELL_PACKAGE_NAME,
                  PackagePathFor(row.confirmed, SEEKWELL_PACKAGE_NAME))
            << row.edge;
}

TEST_F(DownloadDoubleByte, PackageArrivesInADoubleByteFolder)
{
    const std::string folder = m_folder + "\\\x83\x5C";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string package = MakePackage(128 * 1024, 14);
    Serve(package);
    const std::string target = PackagePathFor(folder + "\\typed.exe", SEEKWELL_PACKAGE_NAME);
    ASSERT_EQ(folder + "\\" SEEKWELL_PACKAGE_NAME, target);

    EXPECT_EQ(DownloadVerdict::Complete, DownloadPackage(kPackageUrl, target, m_expected, progress).verdict);

    EXPECT_TRUE(ReadFileBytes(target) == package);
    EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(folder));
    DeleteFileA(target.c_str());
    RemoveDirectoryA(folder.c_str());
}
