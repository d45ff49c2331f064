// The road through a real web server and a real caching proxy: nginx serves the folder
// as the vendor's tool stages it, squid stands in front of it as a company's proxy
// does, and the prefix's proxy settings pick one of squid's routes (tools/real-servers.sh).
#include "FaultMatrix.h"
#include "SignedRelease.h"
#include "StandInInstaller.h"

#include <sstream>

using namespace e2e;

namespace
{
constexpr const char* kRealFolderPath = "\\store\\" SEEKWELL_UPDATE_TOKEN "\\Quorvel30";

std::string RealFolder()
{
    return testserver::Env("SEEKWELL_REAL_WWW") + kRealFolderPath;
}

// squid's access log lines of the package requests that came in through the squid port
// of `route` (a SEEKWELL_REAL_PROXY_* variable), as far as squid has written them: it
// logs a request a moment after its answer.
std::vector<std::string> ProxyLinesForThePackage(const char* route)
{
    const std::string hostPort = testserver::Env(route);
    const std::string port = hostPort.substr(hostPort.find(':') + 1);
    const std::string urlEnd = "/Quorvel30/" SEEKWELL_PACKAGE_NAME;
    std::vector<std::string> lines;
    const std::string log = testfiles::ReadFileBytes(testserver::Env("SEEKWELL_REAL_PROXY_LOG"));
    for (size_t start = 0, end = 0; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
    {
        const std::string line = log.substr(start, end - start);
        // Method, URL and the port the request came in on are the 6th, 7th and 11th fields.
        std::istringstream fields(line);
        std::vector<std::string> field(11);
        for (std::string& value : field)
            fields >> value;
        const std::string& url = field[6];
        if (field[5] == "GET" && url.size() > urlEnd.size() &&
            url.compare(url.size() - urlEnd.size(), urlEnd.size(), urlEnd) == 0 && field[10] == port)
            lines.push_back(line);
    }
    return lines;
}

class RealServer : public FaultMatrix
{
  protected:
    void SetUp() override
    {
        FaultMatrix::SetUp();
        if (HasFatalFailure())
            return;
        if (testserver::Env("SEEKWELL_REAL_PROXY_PLAIN").empty())
        {
            if (testserver::InSession())
                FAIL() << "the test session started no nginx and squid (tools/setup.sh installs them)";
            GTEST_SKIP() << "run through tools/run-win-tests.sh BUILD_DIR";
        }
        testfiles::RemoveFolder(RealFolder());
        MakeFolders(RealFolder());
        testfiles::RemoveFolder(kTargetFolder);
        MakeFolders(kTargetFolder);
        UseRoute("SEEKWELL_REAL_PROXY_PLAIN");
    }
    void TearDown() override
    {
        FaultMatrix::TearDown();
        testfiles::RemoveFolder(RealFolder());
    }

    static void UseRoute(const char* variable)
    {
        testserver::RouteUpdateHostThrough(testserver::Env(variable));
    }

    // Publishes `version` with `package` on nginx as the vendor's tool stages it: the
    // package first, then the signed version file (signed by the local server's copy of
    // the tool with the build's development key).
    static void Publish(const std::string& version, const std::string& package)
    {
        testserver::ServePackage(package);
        const std::string versionFile = testserver::PublishSignedVersion(version);
        testfiles::WriteFile(RealFolder() + "\\" SEEKWELL_PACKAGE_NAME, package);
        testfiles::WriteFile(RealFolder() + "\\version.txt", versionFile);
    }

    // One updater run: Start, the offer of `version` accepted, the package downloaded
    // into the target folder; returns the status line at its end.
    std::string DownloadOffered(const std::string& version)
    {
        LaunchAndStart();
        HWND question = m_updater.WaitForModal(kCheckPatienceMs);
        EXPECT_NE(nullptr, question);
        if (question == nullptr)
            return "no offer";
        EXPECT_EQ(Question(version), ReadBox(question).text);
        Answer(question, IDYES);
        HWND saveAs = m_updater.WaitForModal();
        if (saveAs == nullptr || !ui::AnswerSaveAs(saveAs, std::string(kTargetFolder) + "\\chosen.exe"))
            return "no Save-As";
        EXPECT_TRUE(WaitForDownloadEnd(kDownloadPatienceMs));
        return StatusText();
    }

    std::string PackageAtTarget() const
    {
        return ReadFileBytes(std::string(kTargetFolder) + "\\" + kPackageName);
    }
};
} // namespace

// The whole road through squid and nginx, then a new release under the same names while
// squid still holds the old one fresh: the updater's no-cache requests make squid ask
// nginx again, so 3.0.1.4 is offered and its own bytes arrive. Then a proxy that answers
// from its cache whatever it is asked hands over the package it holds: a cache hit must
// still be the complete, signed package.
TEST_F(RealServer, RoadNewReleaseAndCacheHit)
{
    const std::string installer = ReadFileBytes(BuildDirectory() + "fake_installer.exe");
    Publish("3.0.1.3", installer);
    ASSERT_EQ(kDownloaded, DownloadOffered("3.0.1.3"));
    EXPECT_TRUE(PackageAtTarget() == installer);
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
    EXPECT_EQ(0u, m_updater.WaitForExit(20000));
    // The next download replaces the package, which it cannot while the installer runs.
    EXPECT_TRUE(standin::WaitForInstallerRun(std::string(kTargetFolder) + "\\" + kPackageName, 20000))
        << "the shell did not run the package";

    const std::string newer = installer + std::string(4096, 'n');
    Publish("3.0.1.4", newer);
    EXPECT_EQ(kDownloaded, DownloadOffered("3.0.1.4"));
    EXPECT_TRUE(PackageAtTarget() == newer) << "the old package came from the cache";
    m_updater.Kill();

    const char* const cached = "SEEKWELL_REAL_PROXY_CACHED";
    UseRoute(cached);
    const size_t before = ProxyLinesForThePackage(cached).size();
    EXPECT_EQ(kDownloaded, DownloadOffered("3.0.1.4"));
    EXPECT_TRUE(PackageAtTarget() == newer);
    // This download's line is the next one for the package on the cached route, which
    // no other request takes.
    std::vector<std::string> lines;
    ASSERT_TRUE(
        ui::WaitUntil([&] { return (lines = ProxyLinesForThePackage(cached)).size() > before; }, 20000))
        << "squid logged no package request on the cached route";
    EXPECT_NE(std::string::npos, lines[before].find("HIT/200")) << lines[before];
}

// nginx compresses for a client that accepts gzip and streams every answer chunked,
// without a length: the size rules must not fail a correct package.
TEST_F(RealServer, GzipChunkedWithoutLengthGivesTheWholePackage)
{
    UseRoute("SEEKWELL_REAL_PROXY_GZIP");
    const std::string package = testfiles::MakePackage(300 * 1024, 21) + std::string(200 * 1024, 'z');
    Publish("3.0.1.3", package);
    EXPECT_EQ(kDownloaded, DownloadOffered("3.0.1.3"));
    EXPECT_TRUE(PackageAtTarget() == package);
    ExpectCancelEndsTheProgram();
}

// The servers' own error pages, a proxy that wants credentials nobody can give, and a
// web server that is down: the check says the server cannot be reached, or the download
// failed, and nothing is written; no prompt holds the run. Each row keeps one route for
// the whole run: some platforms read the proxy settings once per process.
namespace
{
struct RealFault
{
    const char* edge;
    const char* route;       // the route the failing request goes through
    bool publishVersion;     // version.txt on nginx
    bool publishPackage;     // the package on nginx
    bool failsAtTheDownload; // the offer comes, the package does not
};

void PrintTo(const RealFault& row, std::ostream* out)
{
    *out << row.edge;
}

class RealServerFault : public RealServer, public ::testing::WithParamInterface<RealFault>
{
};
} // namespace

TEST_P(RealServerFault, IsReportedAndWritesNothing)
{
    const RealFault& row = GetParam();
    if (row.publishVersion)
        Publish("3.0.1.3", kPackage);
    if (!row.publishPackage)
        DeleteFileA((RealFolder() + "\\" SEEKWELL_PACKAGE_NAME).c_str());
    UseRoute(row.route);
    WriteOlderPackage(kTargetFolder);
    TakeSnapshots();
    LaunchAndStart();
    HWND box = m_updater.WaitForModal(kCheckPatienceMs);
    ASSERT_NE(nullptr, box) << "the check did not end";
    const ui::MessageBoxView view = ReadBox(box);
    if (!row.failsAtTheDownload)
    {
        EXPECT_EQ(kUnreachable, view.text);
        Answer(box, IDOK);
        EXPECT_TRUE(ui::WaitUntil([&] { return StatusText() == kCheckEnded; }, 5000)) << StatusText();
    }
    else
    {
        EXPECT_EQ(Question("3.0.1.3"), view.text);
        Answer(box, IDYES);
        HWND saveAs = m_updater.WaitForModal();
        ASSERT_NE(nullptr, saveAs);
        ASSERT_TRUE(ui::AnswerSaveAs(saveAs, std::string(kTargetFolder) + "\\chosen.exe"));
        ASSERT_TRUE(WaitForDownloadEnd(kDownloadPatienceMs)) << StatusText();
        EXPECT_EQ(kFailed, StatusText());
    }
    EXPECT_TRUE(PackageAtTarget() == kOlderPackage);
    EXPECT_EQ(std::vector<std::string>{kPackageName}, FilesIn(kTargetFolder));
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside(kTargetFolder);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, RealServerFault,
    ::testing::Values(RealFault{"Nginx404", "SEEKWELL_REAL_PROXY_PLAIN", false, false, false},
                      RealFault{"Nginx403", "SEEKWELL_REAL_PROXY_FORBIDDEN", true, true, false},
                      RealFault{"Squid502NginxDown", "SEEKWELL_REAL_PROXY_DOWN", true, true, false},
                      RealFault{"Squid407", "SEEKWELL_REAL_PROXY_AUTH", true, true, false},
                      RealFault{"PackageNginx404", "SEEKWELL_REAL_PROXY_PLAIN", true, false, true}),
    [](const ::testing::TestParamInfo<RealFault>& row) { return std::string(row.param.edge); });
