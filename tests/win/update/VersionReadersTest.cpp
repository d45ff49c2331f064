// The installed version from real modules' version resources, and the server's version
// from real transfers of the local update server through the proxy of the prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "InstalledVersion.h"
#include "ServerVersion.h"
#include "TestServer.h"
#include "TestFiles.h"

using testfiles::BuildDirectory;

namespace
{
// "65535655356553565535" modulo 2^32 is 4056749407, which as a signed 32-bit value is
// 4056749407 - 4294967296.
constexpr int32_t kWrappedMaxComposite = -238217889;

// A record as "M.m.b.r = composite", so a mismatch shows every field at once.
std::string Describe(const VersionQuad& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.build) + "." + std::to_string(version.revision) + " = " +
           std::to_string(version.composite);
}

VersionQuad Quad(int32_t major, int32_t minor, int32_t build, int32_t revision, int32_t composite)
{
    VersionQuad version;
    version.major = major;
    version.minor = minor;
    version.build = build;
    version.revision = revision;
    version.composite = composite;
    return version;
}

// What a reader leaves after a failure that came after its reset: zero components and
// the composite of the record as it was.
const VersionQuad kBefore = Quad(7, 7, 7, 7, 7777);
const VersionQuad kResetOnly = Quad(0, 0, 0, 0, 7777);

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// A scratch folder under the prefix's temp folder, removed with everything in it.
class ScratchFolder
{
  public:
    ScratchFolder()
    {
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        m_path = std::string(temp) + "seekwell-versions-" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~ScratchFolder()
    {
        for (const std::string& file : m_files)
            DeleteFileW(Widen("\\\\?\\" + file).c_str());
        for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder)
            RemoveDirectoryW(Widen("\\\\?\\" + *folder).c_str());
        RemoveDirectoryA(m_path.c_str());
    }
    const std::string& Path() const { return m_path; }

    // Copies `source` to `target`, creating the target's folder; long paths are allowed.
    bool Copy(const std::string& source, const std::string& target)
    {
        const std::string folder = target.substr(0, target.find_last_of('\\'));
        if (folder + "\\" != m_path && CreateDirectoryW(Widen("\\\\?\\" + folder).c_str(), nullptr))
            m_folders.push_back(folder);
        m_files.push_back(target);
        return CopyFileW(Widen(source).c_str(), Widen("\\\\?\\" + target).c_str(), FALSE) != FALSE;
    }

    bool Write(const std::string& target, const std::string& bytes)
    {
        m_files.push_back(target);
        HANDLE file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        return ok && written == bytes.size();
    }

    // A path of exactly `length` characters to a Quorvel.dll in a subfolder of this one.
    std::string PathOfLength(size_t length) const
    {
        const std::string name = "\\Quorvel.dll";
        return m_path + std::string(length - m_path.size() - name.size(), 'p') + name;
    }

  private:
    std::string m_path;
    std::vector<std::string> m_files;
    std::vector<std::string> m_folders;
};

std::string ReadBytes(const std::string& path)
{
    std::string bytes;
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

struct InstalledRow
{
    const char* edge;
    const char* relativePath; // to the build directory
    int result;
    VersionQuad expected;
};

const InstalledRow kInstalledRows[] = {
    {"sample module 3.0.1.2", "Quorvel.dll", 1, Quad(3, 0, 1, 2, 3012)},
    {"two-digit build", "fixtures\\quorvel\\build12\\Quorvel.dll", 1, Quad(3, 0, 12, 0, 30120)},
    {"1.10.0.0 reads as 11000", "fixtures\\quorvel\\minor10\\Quorvel.dll", 1, Quad(1, 10, 0, 0, 11000)},
    {"11.0.0.0 reads as 11000 too", "fixtures\\quorvel\\major11\\Quorvel.dll", 1, Quad(11, 0, 0, 0, 11000)},
    {"65535 components, composite wraps", "fixtures\\quorvel\\max\\Quorvel.dll", 1,
     Quad(65535, 65535, 65535, 65535, kWrappedMaxComposite)},
    {"missing file", "fixtures\\quorvel\\absent\\Quorvel.dll", 0, kResetOnly},
    {"module without a version resource", "Languages\\English\\Res.dll", 0, kResetOnly},
    {"folder instead of a file", "fixtures\\quorvel\\max", 0, kResetOnly},
};
} // namespace

TEST(InstalledVersion, ReadsTheVersionResource)
{
    const std::string build = BuildDirectory();
    for (const InstalledRow& row : kInstalledRows)
    {
        VersionQuad version = kBefore;
        EXPECT_EQ(row.result, ReadInstalledVersion(build + row.relativePath, version)) << row.edge;
        EXPECT_EQ(Describe(row.expected), Describe(version)) << row.edge;
    }
}

TEST(InstalledVersion, FilesThatAreNoModulesGiveNothing)
{
    ScratchFolder scratch;
    const std::string module = ReadBytes(BuildDirectory() + "Quorvel.dll");
    ASSERT_GT(module.size(), 1024u);
    const struct
    {
        const char* edge;
        std::string bytes;
    } rows[] = {
        {"text file", "3.0.1.2\r\nnot a module\r\n"},
        {"empty file", ""},
        {"only the DOS header", module.substr(0, 64)},
        {"cut after the headers", module.substr(0, 1024)},
    };
    int index = 0;
    for (const auto& row : rows)
    {
        const std::string path = scratch.Path() + "Quorvel" + std::to_string(index++) + ".dll";
        ASSERT_TRUE(scratch.Write(path, row.bytes)) << row.edge;
        VersionQuad version = kBefore;
        EXPECT_EQ(0, ReadInstalledVersion(path, version)) << row.edge;
        EXPECT_EQ(Describe(kResetOnly), Describe(version)) << row.edge;
    }
}

// The path buffer holds 260 characters and the terminator. A real module at a longer
// path is not read, and an arbitrarily long path is turned away without a write past
// the buffer.
TEST(InstalledVersion, PathsLongerThanTheBufferAreNotRead)
{
    ScratchFolder scratch;
    const std::string source = BuildDirectory() + "Quorvel.dll";
    const std::string fits = scratch.PathOfLength(kInstalledPathBuffer - 1);
    const std::string tooLong = scratch.PathOfLength(kInstalledPathBuffer);
    ASSERT_TRUE(scratch.Copy(source, fits));
    ASSERT_TRUE(scratch.Copy(source, tooLong));

    VersionQuad version = kBefore;
    EXPECT_EQ(1, ReadInstalledVersion(fits, version)) << fits.size() << " characters";
    EXPECT_EQ(Describe(Quad(3, 0, 1, 2, 3012)), Describe(version));

    version = kBefore;
    EXPECT_EQ(0, ReadInstalledVersion(tooLong, version)) << tooLong.size() << " characters";
    EXPECT_EQ(Describe(kResetOnly), Describe(version));

    version = kBefore;
    EXPECT_EQ(0, ReadInstalledVersion(std::string(100000, 'x'), version));
    EXPECT_EQ(Describe(kResetOnly), Describe(version));
}

namespace
{
const char kVersionUrlLine[] =
    "GET http://updates.brannick.example:80/store/q7k2m9x4/Quorvel30/version.txt HTTP/1.1 | UA: GetURL";

// `version` followed by release-note-like filler up to `size` bytes. The filler is
// itself full of other versions, so parsing anything but the start shows.
std::string WithFiller(const std::string& version, size_t size)
{
    std::string body = version;
    while (body.size() < size)
        body += "\r\n9.8.7.6";
    body.resize(size);
    return body;
}

struct FetchRow
{
    const char* edge;
    std::string body;
    std::string sidecar;
    int result;
    VersionQuad expected;
};

const FetchRow kFetchRows[] = {
    {"version with a line end", "3.0.1.2\r\n", "", 1, Quad(3, 0, 1, 2, 3012)},
    {"newer version", "3.1.0.0\n", "", 1, Quad(3, 1, 0, 0, 3100)},
    {"older version", "2.9.9.9", "", 1, Quad(2, 9, 9, 9, 2999)},
    {"fewer than seven characters", "3.1", "", 1, Quad(3, 1, 0, 0, 3100)},
    {"two-digit major", "10.0.1.2", "", 1, Quad(1, 0, 0, 0, 1000)},
    {"1 byte", "3", "", 1, Quad(3, 0, 0, 0, 3000)},
    {"6 bytes", "3.0.1.", "", 1, Quad(3, 0, 1, 0, 3010)},
    {"7 bytes", "3.0.1.4", "", 1, Quad(3, 0, 1, 4, 3014)},
    {"255 bytes", WithFiller("3.0.1.5", 255), "", 1, Quad(3, 0, 1, 5, 3015)},
    {"256 bytes", WithFiller("3.0.1.6", 256), "", 1, Quad(3, 0, 1, 6, 3016)},
    {"257 bytes", WithFiller("3.0.1.7", 257), "", 1, Quad(3, 0, 1, 7, 3017)},
    {"511 bytes", WithFiller("3.0.2.1", 511), "", 1, Quad(3, 0, 2, 1, 3021)},
    {"512 bytes", WithFiller("3.0.2.2", 512), "", 1, Quad(3, 0, 2, 2, 3022)},
    {"100000 bytes", WithFiller("3.0.2.3", 100000), "", 1, Quad(3, 0, 2, 3, 3023)},
    {"no dots", "3,0,1,2", "", 1, Quad(3, 0, 0, 0, 3000)},
    {"dots doubled", "3..1.2", "", 1, Quad(3, 0, 0, 0, 3000)},
    {"dot at 2", "31.0.1.2", "", 1, Quad(3, 0, 0, 0, 3000)},
    {"letters at the digit positions", "3.a.1.b", "", 1, Quad(3, 0, 1, 0, 3010)},
    {"NUL as minor", std::string("3.\0.1.2", 7), "", 1, Quad(3, 0, 1, 2, 3012)},
    {"NUL after the major", std::string("3\0\0\0\0\0\0", 7), "", 1, Quad(3, 0, 0, 0, 3000)},
    {"delivered one byte at a time", "3.0.2.4\r\n", R"({"drip": {"bytes": 1, "every_ms": 15}})", 1,
     Quad(3, 0, 2, 4, 3024)},
    {"closed after the version", WithFiller("3.0.2.5", 4096), R"({"close_after_bytes": 7})", 1,
     Quad(3, 0, 2, 5, 3025)},
    {"reset well after the version", WithFiller("3.0.2.6", 100000),
     R"({"reset_after_bytes": 3000, "drip": {"bytes": 1000, "every_ms": 100}})", 1, Quad(3, 0, 2, 6, 3026)},
    {"no length, ends at close", "3.0.2.7\r\n", R"({"omit_content_length": true})", 1,
     Quad(3, 0, 2, 7, 3027)},
    {"empty body", "", "", 0, kResetOnly},
    {"204 without content", "", R"({"status": 204})", 0, kResetOnly},
    {"NUL first", std::string("\0.1.2.3", 7), "", 0, kResetOnly},
    {"leading space", " 3.0.1.2", "", 0, kResetOnly},
    {"leading line end", "\r\n3.0.1.2", "", 0, kResetOnly},
    {"plus sign", "+3.0.1.2", "", 0, kResetOnly},
    {"minus sign", "-3.0.1.2", "", 0, kResetOnly},
    {"html page with status 200", "<html><body>Sign in to continue</body></html>", "", 0, kResetOnly},
    {"404 with a version-like body", "", R"({"status": 404, "body": "3.0.1.2\r\n"})", 0, kResetOnly},
    {"500 with a version-like body", "", R"({"status": 500, "body": "3.0.1.2\r\n"})", 0, kResetOnly},
    {"503 from a proxy", "", R"({"status": 503, "body": "3.0.1.2"})", 0, kResetOnly},
    {"302 without a location", "", R"({"status": 302, "body": "3.0.1.2"})", 0, kResetOnly},
    {"reset before the headers", "3.0.1.2", R"({"reset_before_headers": true})", 0, kResetOnly},
    {"closed before the body", "3.0.1.2", R"({"close_after_bytes": 0})", 0, kResetOnly},
    {"reset before the body", "3.0.1.2", R"({"reset_after_bytes": 0})", 0, kResetOnly},
    {"closed mid-version", "3.0.1.2\r\n", R"({"close_after_bytes": 3})", 0, kResetOnly},
    {"reset mid-version", "3.0.1.2\r\n", R"({"reset_after_bytes": 3})", 0, kResetOnly},
};

class ServerVersion : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const std::string missing = testserver::PrepareFreshServer();
        if (!missing.empty())
            FAIL() << missing;
        m_server = kBefore;
    }
    void TearDown() override
    {
        testserver::Clear();
        testserver::RouteUpdateHostToServer();
    }
    // The fetch as the updater makes it, into the record of this test: 1 or 0.
    int Fetch() { return FetchServerVersion("Quorvel30", m_server) ? 1 : 0; }

    VersionQuad m_server;
};

// A fetch on a thread of its own, so that a test can give up waiting for it.
struct BackgroundFetch
{
    VersionQuad server;
    int result = -1;

    static DWORD WINAPI Run(void* parameter)
    {
        auto* fetch = static_cast<BackgroundFetch*>(parameter);
        fetch->result = FetchServerVersion("Quorvel30", fetch->server) ? 1 : 0;
        return 0;
    }
};
} // namespace

TEST_F(ServerVersion, ParsesTheStartOfA2xxBodyAndRejectsEverythingElse)
{
    for (const FetchRow& row : kFetchRows)
    {
        testserver::ServeVersionFile(row.body, row.sidecar);
        m_server = kBefore;
        EXPECT_EQ(row.result, Fetch()) << row.edge;
        EXPECT_EQ(Describe(row.expected), Describe(m_server)) << row.edge;
    }
}

TEST_F(ServerVersion, NoVersionFileOnTheServer)
{
    EXPECT_EQ(0, Fetch());
    EXPECT_EQ(Describe(kResetOnly), Describe(m_server));
}

TEST_F(ServerVersion, UnreachableServer)
{
    testserver::ServeVersionFile("3.0.1.2\r\n");
    testserver::RouteUpdateHostNowhere();
    EXPECT_EQ(0, Fetch());
    EXPECT_EQ(Describe(kResetOnly), Describe(m_server));
    EXPECT_TRUE(testserver::RequestLog().empty());
}

TEST_F(ServerVersion, RequestsTheProductsVersionFileAsGetURL)
{
    testserver::ServeVersionFile("3.0.1.2\r\n");
    ASSERT_EQ(1, Fetch());
    EXPECT_EQ(std::vector<std::string>{kVersionUrlLine}, testserver::RequestLog());
}

// The answer invites caching for an hour, yet a release made in between is seen at once,
// and each fetch is one GET of the same URL. (Wine's WinINet does not answer from its
// cache at all, so there this passes with or without the no-cache flags.)
TEST_F(ServerVersion, EveryFetchAsksTheServerAfresh)
{
    const std::string cacheable = R"({"headers": {"Cache-Control": "public, max-age=3600",)"
                                  R"( "Last-Modified": "Mon, 07 Dec 2026 10:00:00 GMT"}})";
    testserver::ServeVersionFile("3.0.1.2\r\n", cacheable);
    ASSERT_EQ(1, Fetch());
    EXPECT_EQ(3012, m_server.composite);

    testserver::ServeVersionFile("3.0.1.3\r\n", cacheable);
    VersionQuad later;
    ASSERT_TRUE(FetchServerVersion("Quorvel30", later));
    EXPECT_EQ(3013, later.composite);
    EXPECT_EQ((std::vector<std::string>{kVersionUrlLine, kVersionUrlLine}), testserver::RequestLog());
}

// The fetch asks for 500 ms time-outs. Wine accepts the options and ignores them, so
// there a stalled server holds the fetch until it goes on by itself; the server here
// goes on after a while, which also lets the fetch thread end before the process does.
TEST_F(ServerVersion, StalledServerIsWaitedOutOnlyWhereTimeOutsWork)
{
    constexpr DWORD kStallMs = 2500;
    constexpr DWORD kPatienceMs = 1500;
    const struct
    {
        const char* edge;
        std::string sidecar;
    } rows[] = {
        {"stall before the headers", R"({"delay_headers_ms": )" + std::to_string(kStallMs) + "}"},
        {"stall after 3 body bytes",
         R"({"stall_after_bytes": 3, "stall_ms": )" + std::to_string(kStallMs) + "}"},
    };
    std::string ignoredBy;
    for (const auto& row : rows)
    {
        testserver::ServeVersionFile("3.0.1.2\r\n", row.sidecar);
        auto* fetch = new BackgroundFetch;
        const DWORD started = GetTickCount();
        HANDLE thread = CreateThread(nullptr, 0, BackgroundFetch::Run, fetch, 0, nullptr);
        ASSERT_NE(nullptr, thread) << row.edge;

        if (WaitForSingleObject(thread, kPatienceMs) == WAIT_OBJECT_0)
        {
            // The time-outs fired: a fetch cut short is a failure, not a version.
            EXPECT_EQ(0, fetch->result) << row.edge;
        }
        else if (WaitForSingleObject(thread, kStallMs + 10000) == WAIT_OBJECT_0)
        {
            // Blocked past the time-outs until the server went on, then read normally.
            EXPECT_GE(GetTickCount() - started, kStallMs - 100) << row.edge;
            EXPECT_EQ(1, fetch->result) << row.edge;
            EXPECT_EQ(3012, fetch->server.composite) << row.edge;
            ignoredBy += std::string(ignoredBy.empty() ? "" : "; ") + row.edge + ": blocked for " +
                         std::to_string(GetTickCount() - started) + " ms";
        }
        else
        {
            // Still blocked after the server went on: leave the thread its object.
            CloseHandle(thread);
            FAIL() << row.edge << ": fetch still blocked " << GetTickCount() - started
                   << " ms after it started";
        }
        CloseHandle(thread);
        delete fetch;
    }
    if (!ignoredBy.empty())
        GTEST_SKIP() << "the platform ignores the 500 ms time-outs (" << ignoredBy << ")";
}
