// The installed version from real modules' version resources, and the server's version
// from real transfers of the local update server through the proxy of the prefix.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "InstalledVersion.h"
#include "ServerVersion.h"
#include "SignedRelease.h"
#include "UpdateInfo.h"
#include "TestServer.h"
#include "TestFiles.h"
#include "UpdateHost.h"
#include "UtcTime.h"

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

// Release-note-like lines of about `size` bytes in all. The filler is itself full of
// other versions, so parsing anything but the start shows.
std::vector<std::string> FillerLines(size_t size)
{
    std::vector<std::string> lines;
    for (size_t total = 0; total < size; total += 40)
        lines.push_back("notes 9.8.7.6 was followed by 9.9.9.9 too");
    return lines;
}

// A version file body as served: signed by the server with `key` (from the version line
// and extra lines) when `signedVersion` is set, else `plainBody` as it is.
struct FetchRow
{
    const char* edge;
    const char* signedVersion;
    std::vector<std::string> extraLines;
    std::string plainBody;
    std::string sidecar;
    ServerAnswer answer;
    VersionQuad expected;
    testserver::SigningKey key = testserver::SigningKey::Vendor;
    // When it names a version, the file staged instead of `signedVersion`'s.
    testserver::VersionFileRequest staged = {};
};

// A file staged with the build's keys for both parts, expiring `expiresInSeconds` from
// now, for `product`, made as `form` says.
testserver::VersionFileRequest Staged(long long expiresInSeconds, const char* product = "Quorvel30",
                                      testserver::VersionFileForm form = testserver::VersionFileForm::TwoPart,
                                      testserver::SigningKey releaseKey = testserver::SigningKey::Vendor)
{
    testserver::VersionFileRequest request;
    request.version = "3.0.1.3";
    request.releaseKey = releaseKey;
    request.expiresInSeconds = expiresInSeconds;
    request.product = product;
    request.form = form;
    return request;
}

const ServerAnswer kVerified = ServerAnswer::Verified;
const ServerAnswer kUnverified = ServerAnswer::Unverified;
const ServerAnswer kUnreachable = ServerAnswer::Unreachable;
const ServerAnswer kExpiredAnswer = ServerAnswer::Expired;
constexpr long long kHour = 3600;

const FetchRow kFetchRows[] = {
    {"expires in an hour", nullptr, {}, "", "", kVerified, Quad(3, 0, 1, 3, 3013), {}, Staged(kHour)},
    {"expired an hour ago", nullptr, {}, "", "", kExpiredAnswer, kResetOnly, {}, Staged(-kHour)},
    {"expired, release part by a key the updater does not hold",
     nullptr,
     {},
     "",
     "",
     kUnverified,
     kResetOnly,
     {},
     Staged(-kHour, "Quorvel30", testserver::VersionFileForm::TwoPart, testserver::SigningKey::Other)},
    {"another product", nullptr, {}, "", "", kUnverified, kResetOnly, {}, Staged(kHour, "Quorvel31")},
    {"expired, another product",
     nullptr,
     {},
     "",
     "",
     kUnverified,
     kResetOnly,
     {},
     Staged(-kHour, "Quorvel31")},
    {"expiry moved on after signing",
     nullptr,
     {},
     "",
     "",
     kUnverified,
     kResetOnly,
     {},
     Staged(-kHour, "Quorvel30", testserver::VersionFileForm::FreshnessAlteredAfterSigning)},
    {"an expiry in the release part",
     nullptr,
     {},
     "",
     "",
     kUnverified,
     kResetOnly,
     {},
     Staged(kHour, "Quorvel30", testserver::VersionFileForm::ExpiryInReleasePart)},
    {"the older single-signature format",
     nullptr,
     {},
     "",
     "",
     kUnverified,
     kResetOnly,
     {},
     Staged(kHour, "Quorvel30", testserver::VersionFileForm::SingleSignature)},
    {"signed version", "3.0.1.2", {}, "", "", kVerified, Quad(3, 0, 1, 2, 3012)},
    {"signed newer version", "3.1.0.0", {}, "", "", kVerified, Quad(3, 1, 0, 0, 3100)},
    {"signed older version", "2.9.9.9", {}, "", "", kVerified, Quad(2, 9, 9, 9, 2999)},
    // Near the size limit with both signatures and the freshness lines.
    {"signed, 58 KiB of notes", "3.0.2.2", FillerLines(58 * 1024), "", "", kVerified, Quad(3, 0, 2, 2, 3022)},
    {"signed, delivered in small pieces",
     "3.0.2.4",
     {},
     "",
     R"({"drip": {"bytes": 16, "every_ms": 5}})",
     kVerified,
     Quad(3, 0, 2, 4, 3024)},
    {"signed, no length, ends at close",
     "3.0.2.7",
     {},
     "",
     R"({"omit_content_length": true})",
     kVerified,
     Quad(3, 0, 2, 7, 3027)},
    {"signed by a key the updater does not hold",
     "3.0.1.3",
     {},
     "",
     "",
     kUnverified,
     kResetOnly,
     testserver::SigningKey::Other},
    {"signed, closed after the version", "3.0.2.5", FillerLines(4096), "", R"({"close_after_bytes": 7})",
     kUnreachable, kResetOnly},
    {"signed, reset after 3000 bytes", "3.0.2.6", FillerLines(8192), "",
     R"({"reset_after_bytes": 3000, "drip": {"bytes": 1000, "every_ms": 100}})", kUnreachable, kResetOnly},
    {"unsigned version with a line end", nullptr, {}, "3.0.1.2\r\n", "", kUnverified, kResetOnly},
    {"unsigned, fewer than seven characters", nullptr, {}, "3.1", "", kUnverified, kResetOnly},
    {"unsigned two-digit major", nullptr, {}, "10.0.1.2", "", kUnverified, kResetOnly},
    {"unsigned, no dots", nullptr, {}, "3,0,1,2", "", kUnverified, kResetOnly},
    {"unsigned, NUL as minor", nullptr, {}, std::string("3.\0.1.2", 7), "", kUnverified, kResetOnly},
    {"unsigned, 100000 bytes",
     nullptr,
     {},
     "3.0.2.3\n" + std::string(100000, 'x'),
     "",
     kUnverified,
     kResetOnly},
    {"empty body", nullptr, {}, "", "", kUnreachable, kResetOnly},
    {"204 without content", nullptr, {}, "", R"({"status": 204})", kUnreachable, kResetOnly},
    {"NUL first", nullptr, {}, std::string("\0.1.2.3", 7), "", kUnreachable, kResetOnly},
    {"leading space", nullptr, {}, " 3.0.1.2", "", kUnreachable, kResetOnly},
    {"leading line end", nullptr, {}, "\r\n3.0.1.2", "", kUnreachable, kResetOnly},
    {"plus sign", nullptr, {}, "+3.0.1.2", "", kUnreachable, kResetOnly},
    {"minus sign", nullptr, {}, "-3.0.1.2", "", kUnreachable, kResetOnly},
    {"html page with status 200",
     nullptr,
     {},
     "<html><body>Sign in to continue</body></html>",
     "",
     kUnreachable,
     kResetOnly},
    {"404 with a version-like body",
     nullptr,
     {},
     "",
     R"({"status": 404, "body": "3.0.1.2\r\n"})",
     kUnreachable,
     kResetOnly},
    {"500 with a version-like body",
     nullptr,
     {},
     "",
     R"({"status": 500, "body": "3.0.1.2\r\n"})",
     kUnreachable,
     kResetOnly},
    {"503 from a proxy", nullptr, {}, "", R"({"status": 503, "body": "3.0.1.2"})", kUnreachable, kResetOnly},
    {"302 without a location",
     nullptr,
     {},
     "",
     R"({"status": 302, "body": "3.0.1.2"})",
     kUnreachable,
     kResetOnly},
    {"reset before the headers",
     nullptr,
     {},
     "3.0.1.2",
     R"({"reset_before_headers": true})",
     kUnreachable,
     kResetOnly},
    {"closed before the body",
     nullptr,
     {},
     "3.0.1.2",
     R"({"close_after_bytes": 0})",
     kUnreachable,
     kResetOnly},
    {"reset before the body",
     nullptr,
     {},
     "3.0.1.2",
     R"({"reset_after_bytes": 0})",
     kUnreachable,
     kResetOnly},
    {"closed mid-version",
     nullptr,
     {},
     "3.0.1.2\r\n",
     R"({"close_after_bytes": 3})",
     kUnreachable,
     kResetOnly},
    {"reset mid-version",
     nullptr,
     {},
     "3.0.1.2\r\n",
     R"({"reset_after_bytes": 3})",
     kUnreachable,
     kResetOnly},
};

const char* AnswerName(ServerAnswer answer)
{
    switch (answer)
    {
    case ServerAnswer::Unreachable:
        return "Unreachable";
    case ServerAnswer::Unverified:
        return "Unverified";
    case ServerAnswer::Verified:
        return "Verified";
    case ServerAnswer::Expired:
        return "Expired";
    case ServerAnswer::CannotVerifyOnThisSystem:
        return "CannotVerifyOnThisSystem";
    }
    return "?";
}

// The package every fetch here looks for in the manifest.
const std::string kPackage = testfiles::MakePackage(1000, 1);

class ServerVersion : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const std::string missing = testserver::PrepareFreshServer();
        if (!missing.empty())
            FAIL() << missing;
        m_server = kBefore;
        testserver::ServePackage(kPackage);
        // The keys this build's updater holds, from the resources it carries.
        m_keys = LoadUpdateKeys();
        ASSERT_EQ(testserver::DevelopmentPublicKey(BuildDirectory()), m_keys.release.at(0));
        ASSERT_FALSE(m_keys.freshness.empty()) << "the build holds no freshness key";
    }
    void TearDown() override
    {
        testserver::Clear();
        testserver::RouteUpdateHostToServer();
    }
    // The fetch as the updater makes it, into the records of this test.
    ServerAnswer Fetch()
    {
        return FetchServerVersion("Quorvel30", SEEKWELL_PACKAGE_NAME, m_keys, m_server, m_expected);
    }
    // Serves `version` signed by the vendor's key, with no behaviour of its own.
    void ServeSigned(const std::string& version)
    {
        testserver::ServeVersionFile(testserver::PublishSignedVersion(version));
    }

    UpdateKeys m_keys;
    VersionQuad m_server;
    ManifestPackage m_expected;
};

// A fetch on a thread of its own, so that a test can give up waiting for it.
struct BackgroundFetch
{
    UpdateKeys keys;
    VersionQuad server;
    ManifestPackage expected;
    ServerAnswer answer = ServerAnswer::Unreachable;

    static DWORD WINAPI Run(void* parameter)
    {
        auto* fetch = static_cast<BackgroundFetch*>(parameter);
        fetch->answer = FetchServerVersion("Quorvel30", SEEKWELL_PACKAGE_NAME, fetch->keys, fetch->server,
                                           fetch->expected);
        return 0;
    }
};
} // namespace

TEST_F(ServerVersion, BelievesOnlyTheVendorsSignedFileFromA2xxAnswer)
{
    for (const FetchRow& row : kFetchRows)
    {
        std::string body = row.plainBody;
        if (row.signedVersion != nullptr)
            body = testserver::PublishSignedVersion(row.signedVersion, row.key, row.extraLines);
        if (!row.staged.version.empty())
            body = testserver::PublishVersionFile(row.staged);
        testserver::ServeVersionFile(body, row.sidecar);
        m_server = kBefore;
        m_expected = ManifestPackage();
        EXPECT_STREQ(AnswerName(row.answer), AnswerName(Fetch())) << row.edge;
        EXPECT_EQ(Describe(row.expected), Describe(m_server)) << row.edge;
        EXPECT_EQ(row.answer == kVerified ? kPackage.size() : 0u, m_expected.size) << row.edge;
    }
}

// Every byte up to the signature line is signed, and the manifest must name this
// language's package; the name is matched whatever the case of its letters.
TEST_F(ServerVersion, SignedFileMustBeWholeAndNameThePackage)
{
    const std::string signedFile = testserver::PublishSignedVersion("3.0.1.3");
    ASSERT_FALSE(signedFile.empty());
    std::string changedVersion = signedFile;
    changedVersion[6] = '9';
    std::string flippedSignature = signedFile;
    flippedSignature[flippedSignature.size() - 5] ^= 0x01;
    const std::string withoutSignature = signedFile.substr(0, signedFile.rfind("\nsignature ") + 1);
    // Another base64 digit, so that the release signature still reads and only fails to verify.
    std::string flippedReleaseSignature = signedFile;
    char& releaseDigit = flippedReleaseSignature[signedFile.find("\nexpires ") - 3];
    releaseDigit = releaseDigit == 'A' ? 'B' : 'A';
    for (const auto& [edge, body] :
         {std::pair<const char*, std::string>{"version changed after signing", changedVersion},
          {"one signature bit flipped", flippedSignature},
          {"one release signature digit changed", flippedReleaseSignature},
          {"signature line removed", withoutSignature},
          {"a line appended after the signature", signedFile + "package x 1 00\n"}})
    {
        testserver::ServeVersionFile(body);
        EXPECT_EQ(kUnverified, Fetch()) << edge;
    }

    testfiles::WriteFile(testserver::ProductFolder() + "\\Other.exe", "another package");
    testserver::ServeVersionFile(
        testserver::PublishSignedVersion("3.0.1.3", testserver::SigningKey::Vendor, {}, {"Other.exe"}));
    EXPECT_EQ(kUnverified, Fetch()) << "manifest without this language's package";
    DeleteFileA((testserver::ProductFolder() + "\\Other.exe").c_str());

    ServeSigned("3.0.1.3");
    ASSERT_EQ(kVerified, FetchServerVersion("Quorvel30", "quorvelUPDATE.EXE", m_keys, m_server, m_expected));
    EXPECT_EQ(SEEKWELL_PACKAGE_NAME, m_expected.name);
    EXPECT_EQ(kUnverified,
              FetchServerVersion("Quorvel30", SEEKWELL_PACKAGE_NAME, UpdateKeys{}, m_server, m_expected))
        << "an updater without keys trusts nothing";
}

TEST_F(ServerVersion, NoVersionFileOnTheServer)
{
    EXPECT_EQ(kUnreachable, Fetch());
    EXPECT_EQ(Describe(kResetOnly), Describe(m_server));
}

TEST_F(ServerVersion, UnreachableServer)
{
    ServeSigned("3.0.1.2");
    testserver::ClearRequestLog();
    testserver::RouteUpdateHostNowhere();
    EXPECT_EQ(kUnreachable, Fetch());
    EXPECT_EQ(Describe(kResetOnly), Describe(m_server));
    EXPECT_TRUE(testserver::RequestLog().empty());
}

TEST_F(ServerVersion, RequestsTheProductsVersionFileAsGetURL)
{
    ServeSigned("3.0.1.2");
    testserver::ClearRequestLog();
    ASSERT_EQ(kVerified, Fetch());
    EXPECT_EQ(std::vector<std::string>{kVersionUrlLine}, testserver::RequestLog());
}

// The answer invites caching for an hour, yet a release made in between is seen at once,
// and each fetch is one GET of the same URL. (Wine's WinINet does not answer from its
// cache at all, so there this passes with or without the no-cache flags.)
TEST_F(ServerVersion, EveryFetchAsksTheServerAfresh)
{
    const std::string cacheable = R"({"headers": {"Cache-Control": "public, max-age=3600",)"
                                  R"( "Last-Modified": "Mon, 07 Dec 2026 10:00:00 GMT"}})";
    testserver::ServeVersionFile(testserver::PublishSignedVersion("3.0.1.2"), cacheable);
    testserver::ClearRequestLog();
    ASSERT_EQ(kVerified, Fetch());
    EXPECT_EQ(3012, m_server.composite);

    testserver::ServeVersionFile(testserver::PublishSignedVersion("3.0.1.3"), cacheable);
    testserver::ClearRequestLog();
    VersionQuad later;
    ASSERT_EQ(kVerified, FetchServerVersion("Quorvel30", SEEKWELL_PACKAGE_NAME, m_keys, later, m_expected));
    EXPECT_EQ(3013, later.composite);
    EXPECT_EQ(std::vector<std::string>{kVersionUrlLine}, testserver::RequestLog());
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
        testserver::ServeVersionFile(testserver::PublishSignedVersion("3.0.1.2"), row.sidecar);
        auto* fetch = new BackgroundFetch;
        fetch->keys = m_keys;
        const DWORD started = GetTickCount();
        HANDLE thread = CreateThread(nullptr, 0, BackgroundFetch::Run, fetch, 0, nullptr);
        ASSERT_NE(nullptr, thread) << row.edge;

        if (WaitForSingleObject(thread, kPatienceMs) == WAIT_OBJECT_0)
        {
            // The time-outs fired: a fetch cut short is a failure, not a version.
            EXPECT_EQ(kUnreachable, fetch->answer) << row.edge;
        }
        else if (WaitForSingleObject(thread, kStallMs + 10000) == WAIT_OBJECT_0)
        {
            // Blocked past the time-outs until the server went on, then read normally.
            EXPECT_GE(GetTickCount() - started, kStallMs - 100) << row.edge;
            EXPECT_EQ(kVerified, fetch->answer) << row.edge;
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

namespace
{
// The key sets a check is given: the build's development key signs release parts, its
// freshness key (kept apart in the test build) signs freshness parts.
enum class Keys
{
    AsBuilt,            // release: the development key; freshness: the freshness key
    ReleaseByFreshness, // release: the freshness key only; freshness: both
    FreshnessByRelease, // release: both; freshness: the development key only
    BothForBoth,
    NoFreshnessKeys,
    NoReleaseKeys,
};

const char* const kOtherPackage = "Other.exe";

// The file a verdict is asked of, all staged with the build's keys for both parts.
enum class File
{
    AsStaged,                 // fresh for a week, its release part for a year
    VersionChanged,           // as staged, the version line changed after signing
    FreshUntilReleaseExpires, // both expiries at one second, a day from now
    ReplayedRelease,          // the release part expired a month ago, fresh for a day
    OutlivesRelease,          // fresh an hour past its release part's expiry, a day from now
};

struct VerdictRow
{
    const char* edge;
    Keys keys;
    const char* product;
    const char* package;   // null: this language's package
    int64_t nowFromExpiry; // from the file's freshness expiry
    File file;
    UpdateInfoVerdict verdict;
};

constexpr int64_t kYear = 365 * 86400;
const UpdateInfoVerdict kBelieved = UpdateInfoVerdict::Believed;
const UpdateInfoVerdict kExpired = UpdateInfoVerdict::Expired;
const UpdateInfoVerdict kNotBelieved = UpdateInfoVerdict::NotBelieved;

const VerdictRow kVerdictRows[] = {
    {"as built, one second before expiry", Keys::AsBuilt, "Quorvel30", nullptr, -1, File::AsStaged,
     kBelieved},
    {"as built, a year before expiry", Keys::AsBuilt, "Quorvel30", nullptr, -kYear, File::AsStaged,
     kBelieved},
    {"at the second of expiry", Keys::AsBuilt, "Quorvel30", nullptr, 0, File::AsStaged, kExpired},
    {"a year after expiry", Keys::AsBuilt, "Quorvel30", nullptr, kYear, File::AsStaged, kExpired},
    {"either key trusted for both parts", Keys::BothForBoth, "Quorvel30", nullptr, -1, File::AsStaged,
     kBelieved},
    {"release part signed by a key trusted only for freshness", Keys::ReleaseByFreshness, "Quorvel30",
     nullptr, -1, File::AsStaged, kNotBelieved},
    {"freshness part signed by a key trusted only for releases", Keys::FreshnessByRelease, "Quorvel30",
     nullptr, -1, File::AsStaged, kNotBelieved},
    {"no freshness keys", Keys::NoFreshnessKeys, "Quorvel30", nullptr, -1, File::AsStaged, kNotBelieved},
    {"no release keys", Keys::NoReleaseKeys, "Quorvel30", nullptr, -1, File::AsStaged, kNotBelieved},
    {"another product", Keys::AsBuilt, "Quorvel31", nullptr, -1, File::AsStaged, kNotBelieved},
    {"the product in lower case", Keys::AsBuilt, "quorvel30", nullptr, -1, File::AsStaged, kNotBelieved},
    {"a product the file's begins with", Keys::AsBuilt, "Quorvel3", nullptr, -1, File::AsStaged,
     kNotBelieved},
    {"no package of this language", Keys::AsBuilt, "Quorvel30", kOtherPackage, -1, File::AsStaged,
     kNotBelieved},
    {"version changed after signing", Keys::AsBuilt, "Quorvel30", nullptr, -1, File::VersionChanged,
     kNotBelieved},
    // Only the vendor's own file earns the hint that it is out of date.
    {"expired, release part by a freshness-only key", Keys::ReleaseByFreshness, "Quorvel30", nullptr, kYear,
     File::AsStaged, kNotBelieved},
    {"expired, freshness part by a release-only key", Keys::FreshnessByRelease, "Quorvel30", nullptr, kYear,
     File::AsStaged, kNotBelieved},
    {"expired, another product", Keys::AsBuilt, "Quorvel31", nullptr, kYear, File::AsStaged, kNotBelieved},
    {"expired, no package of this language", Keys::AsBuilt, "Quorvel30", kOtherPackage, kYear, File::AsStaged,
     kNotBelieved},
    {"expired, version changed after signing", Keys::AsBuilt, "Quorvel30", nullptr, kYear,
     File::VersionChanged, kNotBelieved},
    // The release part's own expiry ends belief whatever the freshness part says, and an
    // authentic file past it earns the date hint; a freshness part that outlives it, while
    // the release part is still within its expiry, is what the release key never allowed.
    {"freshness expiry at the release expiry, a second before", Keys::AsBuilt, "Quorvel30", nullptr, -1,
     File::FreshUntilReleaseExpires, kBelieved},
    {"freshness expiry at the release expiry, at that second", Keys::AsBuilt, "Quorvel30", nullptr, 0,
     File::FreshUntilReleaseExpires, kExpired},
    {"an old release part replayed, before its freshness expiry", Keys::AsBuilt, "Quorvel30", nullptr, -1,
     File::ReplayedRelease, kExpired},
    {"an old release part replayed, past both expiries", Keys::AsBuilt, "Quorvel30", nullptr, kYear,
     File::ReplayedRelease, kExpired},
    {"an old release part replayed under a freshness-only key", Keys::ReleaseByFreshness, "Quorvel30",
     nullptr, -1, File::ReplayedRelease, kNotBelieved},
    {"fresh past the release expiry, a second before the release expiry", Keys::AsBuilt, "Quorvel30", nullptr,
     -3601, File::OutlivesRelease, kNotBelieved},
    {"fresh past the release expiry, at the release expiry", Keys::AsBuilt, "Quorvel30", nullptr, -3600,
     File::OutlivesRelease, kExpired},
};

const char* VerdictName(UpdateInfoVerdict verdict)
{
    switch (verdict)
    {
    case UpdateInfoVerdict::Believed:
        return "Believed";
    case UpdateInfoVerdict::Expired:
        return "Expired";
    case UpdateInfoVerdict::NotBelieved:
        return "NotBelieved";
    }
    return "?";
}

UpdateKeys KeySet(Keys keys, const std::vector<uint8_t>& release, const std::vector<uint8_t>& freshness)
{
    switch (keys)
    {
    case Keys::AsBuilt:
        return UpdateKeys{{release}, {freshness}};
    case Keys::ReleaseByFreshness:
        return UpdateKeys{{freshness}, {release, freshness}};
    case Keys::FreshnessByRelease:
        return UpdateKeys{{release, freshness}, {release}};
    case Keys::BothForBoth:
        return UpdateKeys{{release, freshness}, {release, freshness}};
    case Keys::NoFreshnessKeys:
        return UpdateKeys{{release}, {}};
    case Keys::NoReleaseKeys:
        return UpdateKeys{{}, {freshness}};
    }
    return UpdateKeys{};
}

// The freshness expiry a file names, seconds since 1970; -1 without one.
int64_t FreshnessExpiry(const std::string& file)
{
    const std::string word = "\nexpires ";
    const size_t at = file.find(word);
    int64_t expires = -1;
    if (at == std::string::npos ||
        !ParseUtcTimestamp(std::string_view(file).substr(at + word.size(), 20), expires))
        return -1;
    return expires;
}

std::string StagedFile(File file)
{
    testserver::VersionFileRequest request;
    request.version = "3.0.1.3";
    switch (file)
    {
    case File::AsStaged:
    case File::VersionChanged:
        break;
    case File::FreshUntilReleaseExpires:
        request.expiresInSeconds = request.releaseExpiresInSeconds = 86400;
        break;
    case File::ReplayedRelease:
        request.expiresInSeconds = 86400;
        request.releaseExpiresInSeconds = -30 * 86400;
        request.form = testserver::VersionFileForm::FreshnessBeyondRelease;
        break;
    case File::OutlivesRelease:
        request.releaseExpiresInSeconds = 86400;
        request.expiresInSeconds = 86400 + 3600;
        request.form = testserver::VersionFileForm::FreshnessBeyondRelease;
        break;
    }
    std::string staged = testserver::PublishVersionFile(request);
    if (file == File::VersionChanged && !staged.empty())
        staged[6] = '9';
    return staged;
}
} // namespace

// Each part under its own keys, the product exactly this one, this language's package,
// and the clock before both expiries, the freshness one never past the release's; the
// files as the vendor's tool stages them, or as a replay would have them.
TEST_F(ServerVersion, BelievesBothPartsUnderTheirOwnKeysForThisProductUntilItsExpiry)
{
    const std::vector<uint8_t>& release = m_keys.release.at(0);
    const std::vector<uint8_t>& freshness = m_keys.freshness.at(0);
    if (release == freshness)
        GTEST_SKIP()
            << "this build signs both parts with one key (configure with SEEKWELL_DEV_FRESHNESS_APART=ON)";
    std::map<File, std::string> files;
    for (const File file : {File::AsStaged, File::VersionChanged, File::FreshUntilReleaseExpires,
                            File::ReplayedRelease, File::OutlivesRelease})
    {
        files[file] = StagedFile(file);
        ASSERT_NE(-1, FreshnessExpiry(files[file])) << files[file];
    }
    UpdateManifest manifest;
    ASSERT_EQ(ManifestStatus::Valid, ParseUpdateManifest(files[File::AsStaged], manifest));
    ASSERT_EQ("Quorvel30", manifest.product);
    ASSERT_EQ(manifest.expires, FreshnessExpiry(files[File::AsStaged]));

    for (const VerdictRow& row : kVerdictRows)
    {
        ManifestPackage expected;
        expected.size = 7;
        const std::string& file = files[row.file];
        const UpdateInfoVerdict verdict = VerifyUpdateInfo(
            file, row.product, row.package != nullptr ? row.package : SEEKWELL_PACKAGE_NAME,
            KeySet(row.keys, release, freshness), FreshnessExpiry(file) + row.nowFromExpiry, expected);
        EXPECT_STREQ(VerdictName(row.verdict), VerdictName(verdict)) << row.edge;
        EXPECT_EQ(row.verdict == kBelieved ? kPackage.size() : 7u, expected.size) << row.edge;
    }
}

namespace
{
// A short deadline for the rows below; the check's own 30 s are shown end to end.
constexpr uint32_t kShortDeadlineMs = 2000;
// What may lie between the deadline and the fetch's return: closing the handles.
constexpr DWORD kDeadlineSlackMs = 1000;

const std::string kVersionFileUrl = VersionFileUrl("Quorvel30");

enum class Route
{
    Server,
    SilentHost,
};

struct DeadlineRow
{
    const char* edge;
    std::string sidecar;
    Route route;
    // The status the fetch saw, and whether body bytes had arrived, when the deadline came.
    DWORD httpStatus;
    bool bodyStarted;
};

// Far longer than the deadline, each piece well inside the 500 ms time-outs.
const std::string kLongReason = std::string(300, 'O');
const DeadlineRow kDeadlineRows[] = {
    {"status line dripped",
     R"({"reason": ")" + kLongReason + R"(", "drip_status_line": {"bytes": 1, "every_ms": 100}})",
     Route::Server, 0, false},
    {"headers dripped",
     R"({"headers": {"X-Padding": ")" + kLongReason + R"("}, "drip_headers": {"bytes": 1, "every_ms": 100}})",
     Route::Server, 0, false},
    {"body dripped", R"({"drip": {"bytes": 1, "every_ms": 100}})", Route::Server, 200, true},
    {"nothing after the request", R"({"delay_headers_ms": 0, "held_by": ".silence"})", Route::Server, 0,
     false},
    {"headers, then nothing", R"({"stall_after_bytes": 0, "stall_ms": 0, "held_by": ".silence"})",
     Route::Server, 200, false},
    {"a connection that never completes", "", Route::SilentHost, 0, false},
};
} // namespace

// Whatever the server does before or during the body, the fetch ends at its deadline:
// reported as the deadline's doing, with what had arrived by then.
TEST_F(ServerVersion, FetchEndsAtItsDeadlineWhateverTheServerDoes)
{
    for (const DeadlineRow& row : kDeadlineRows)
    {
        SCOPED_TRACE(row.edge);
        testserver::Hold silence(".silence");
        testserver::ServeVersionFile(testserver::PublishSignedVersion("3.0.1.2"), row.sidecar);
        std::unique_ptr<testserver::SilentHost> silentHost;
        if (row.route == Route::SilentHost)
        {
            silentHost = std::make_unique<testserver::SilentHost>();
            ASSERT_TRUE(silentHost->Ready()) << silentHost->Problem();
        }
        const DWORD started = GetTickCount();
        VersionFileFetch fetch;

        EXPECT_FALSE(FetchVersionFile(kVersionFileUrl, kShortDeadlineMs, fetch));

        const DWORD took = GetTickCount() - started;
        RecordProperty(std::string(row.edge) + " ms", std::to_string(took));
        std::printf("deadline row: %s = %lu ms\n", row.edge, static_cast<unsigned long>(took));

        EXPECT_GE(took, kShortDeadlineMs - 20);
        EXPECT_LE(took, kShortDeadlineMs + kDeadlineSlackMs);
        EXPECT_TRUE(fetch.deadlineEnded);
        EXPECT_EQ(row.httpStatus, fetch.httpStatus);
        EXPECT_EQ(row.bodyStarted, fetch.bytesReceived > 0) << fetch.bytesReceived;
        EXPECT_EQ(fetch.bytesReceived, fetch.body.size());
        EXPECT_EQ(0u, fetch.platformError);
    }
}

namespace
{
struct ReportRow
{
    const char* edge;
    std::string sidecar;
    bool refused;
    bool fetched;
    DWORD httpStatus;
    DWORD platformError;
    // Body bytes that arrive; -1: the whole file.
    long long received;
    bool lengthAnnounced;
    // Requests the server sees.
    size_t requests = 1;
};

constexpr long long kWholeFile = -1;
// The signed file also lies here, for the redirects to find.
constexpr const char* kMovedFile = "version-moved.txt";
std::string Redirect(int status, const std::string& to)
{
    return R"({"status": )" + std::to_string(status) + R"(, "redirect_to": ")" + to +
           R"(", "headers": {"Connection": "close"}})";
}

const ReportRow kReportRows[] = {
    {"the signed file", "", false, true, 200, 0, kWholeFile, true},
    {"no length, ends at close", R"({"omit_content_length": true})", false, true, 200, 0, kWholeFile, false},
    {"closed after 3 bytes", R"({"close_after_bytes": 3})", false, false, 200, 0, 3, true},
    {"404 with a page", R"({"status": 404, "body": "<html>not here</html>"})", false, false, 404, 0, 0, true},
    {"refused", "", true, false, 0, ERROR_INTERNET_CANNOT_CONNECT, 0, false, 0},
    {"redirected to a relative address", Redirect(302, kMovedFile), false, true, 200, 0, kWholeFile, true, 2},
    {"redirected to an absolute address",
     Redirect(307, kVersionFileUrl.substr(0, kVersionFileUrl.rfind('/') + 1) + kMovedFile), false, true, 200,
     0, kWholeFile, true, 2},
    // The platform would follow it for ever (Wine does, even after its handle is closed).
    {"redirected to itself, the eleventh time given up", Redirect(301, kVersionFileUrl), false, false, 301,
     ERROR_HTTP_REDIRECT_FAILED, 0, false, 11},
    {"redirected to another scheme", Redirect(302, "ftp://updates.brannick.example/version.txt"), false,
     false, 302, ERROR_HTTP_REDIRECT_FAILED, 0, false},
};
} // namespace

// Every fetch says what it got and why it ended: the status, the platform's error, the
// bytes announced and received. None of these ends by the deadline.
TEST_F(ServerVersion, FetchReportsWhatItGotAndWhy)
{
    const std::string signedFile = testserver::PublishSignedVersion("3.0.1.2");
    const std::string movedFile = testserver::ProductFolder() + "\\" + kMovedFile;
    testfiles::WriteFile(movedFile, signedFile);
    for (const ReportRow& row : kReportRows)
    {
        SCOPED_TRACE(row.edge);
        testserver::ServeVersionFile(signedFile, row.sidecar);
        if (row.refused)
            testserver::RouteUpdateHostNowhere();
        testserver::ClearRequestLog();
        VersionFileFetch fetch;

        EXPECT_EQ(row.fetched, FetchVersionFile(kVersionFileUrl, kShortDeadlineMs, fetch));

        testserver::RouteUpdateHostToServer();
        const size_t whole = signedFile.size();
        const uint64_t received = row.received == kWholeFile ? whole : static_cast<uint64_t>(row.received);
        EXPECT_FALSE(fetch.deadlineEnded);
        EXPECT_EQ(row.httpStatus, fetch.httpStatus);
        EXPECT_EQ(row.platformError, fetch.platformError);
        EXPECT_EQ(row.lengthAnnounced, fetch.lengthAnnounced);
        if (row.lengthAnnounced && row.httpStatus == 200)
        {
            EXPECT_EQ(whole, fetch.bytesAnnounced);
        }
        EXPECT_EQ(received, fetch.bytesReceived);
        EXPECT_TRUE(!row.fetched || fetch.body == signedFile);
        EXPECT_EQ(row.requests, testserver::RequestLog().size());
    }
    DeleteFileA(movedFile.c_str());
}
