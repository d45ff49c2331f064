// The hand-off to the shell against the real platform: only the signed package runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Crypto.h"
#include "Install.h"
#include "TestFiles.h"
#include "TestServer.h"
#include "StandInInstaller.h"

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
} // namespace

// The stand-in installer writes "<its path>.ran.txt" when it runs.
TEST(HandOff, RunsOnlyTheFileTheManifestNames)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string package = std::string(temp) + "handoff-package.exe";
    const std::string marker = package + ".ran.txt";
    const std::string installer =
        testfiles::ReadFileBytes(testfiles::BuildDirectory() + "fake_installer.exe");
    ASSERT_FALSE(installer.empty());
    const ManifestPackage expected = ExpectedFor(installer);
    std::string altered = installer;
    altered[altered.size() / 2] ^= 0x01;
    struct Row
    {
        const char* edge;
        const std::string* bytes; // null: no file at the package path
        HandOffVerdict verdict;
    };
    const std::string longer = installer + "x";
    const Row rows[] = {
        {"no file", nullptr, HandOffVerdict::Refused},
        {"one byte changed", &altered, HandOffVerdict::Refused},
        {"one byte more", &longer, HandOffVerdict::Refused},
        {"the signed package", &installer, HandOffVerdict::Handed},
    };
    for (const Row& row : rows)
    {
        DeleteFileA(marker.c_str());
        DeleteFileA(package.c_str());
        if (row.bytes != nullptr)
            testfiles::WriteFile(package, *row.bytes);

        EXPECT_EQ(row.verdict, HandOffPackage(package, expected)) << row.edge;

        // The shell has started whatever it was given by the time the hand-off returns; the
        // package is no longer in use once the installer has ended.
        const bool ran = row.verdict == HandOffVerdict::Handed ? standin::WaitForInstallerRun(package, 20000)
                                                               : !standin::InstallerHasNotRun(package);
        EXPECT_EQ(row.verdict == HandOffVerdict::Handed, ran) << row.edge;
    }
    // Once the shell has it, the package is no longer held.
    EXPECT_TRUE(DeleteFileA(package.c_str()));
    DeleteFileA(marker.c_str());
}
