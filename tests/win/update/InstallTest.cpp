// The hand-off to the shell against the real platform: only the signed package runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Crypto.h"
#include "Install.h"
#include "TestFiles.h"
#include "TestServer.h"

namespace
{
ManifestPackage ExpectedFor(const std::string& bytes)
{
    ManifestPackage package;
    package.size = bytes.size();
    CSha256 sha;
    EXPECT_TRUE(sha.Update(bytes.data(), bytes.size()) && sha.Finish(package.sha256));
    return package;
}

bool WaitForFile(const std::string& path, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50)
    {
        if (testfiles::FileExists(path))
            return true;
        Sleep(50);
    }
    return false;
}
} // namespace

// The stand-in installer writes "<its path>.ran.txt" when it runs. A resource-only DLL
// of the build under the package's name is the vendor's bytes that no Windows can start
// as a program.
TEST(HandOff, RunsOnlyTheFileTheManifestNames)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string package = std::string(temp) + "handoff-package.exe";
    const std::string marker = package + ".ran.txt";
    const std::string installer =
        testfiles::ReadFileBytes(testfiles::BuildDirectory() + "fake_installer.exe");
    const std::string notAProgram =
        testfiles::ReadFileBytes(testfiles::BuildDirectory() + "Languages\\English\\Res.dll");
    ASSERT_FALSE(installer.empty());
    ASSERT_FALSE(notAProgram.empty());
    const ManifestPackage expected = ExpectedFor(installer);
    std::string altered = installer;
    altered[altered.size() / 2] ^= 0x01;
    struct Row
    {
        const char* edge;
        const std::string* bytes; // null: no file at the package path
        ManifestPackage expected;
        HandOffVerdict verdict;
    };
    const std::string longer = installer + "x";
    const Row rows[] = {
        {"no file", nullptr, expected, HandOffVerdict::Refused},
        {"one byte changed", &altered, expected, HandOffVerdict::Refused},
        {"one byte more", &longer, expected, HandOffVerdict::Refused},
        {"the signed package", &installer, expected, HandOffVerdict::Handed},
        {"signed, but not a program", &notAProgram, ExpectedFor(notAProgram), HandOffVerdict::NotStarted},
    };
    for (const Row& row : rows)
    {
        DeleteFileA(marker.c_str());
        DeleteFileA(package.c_str());
        if (row.bytes != nullptr)
            testfiles::WriteFile(package, *row.bytes);

        EXPECT_EQ(row.verdict, HandOffPackage(package, row.expected, nullptr)) << row.edge;

        const bool ran = WaitForFile(marker, row.verdict == HandOffVerdict::Handed ? 10000 : 1000);
        EXPECT_EQ(row.verdict == HandOffVerdict::Handed, ran) << row.edge;
        // Whatever the shell did, the package is left where it was.
        EXPECT_TRUE(row.bytes == nullptr || testfiles::ReadFileBytes(package) == *row.bytes) << row.edge;
    }
    // Once the shell has it, the package is no longer held.
    EXPECT_TRUE(DeleteFileA(package.c_str()));
    DeleteFileA(marker.c_str());
}
