// The hand-off to the shell against the real platform: only the signed package runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Crypto.h"
#include "Handles.h"
#include "Install.h"
#include "InstallerSignature.h"
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

// The stand-in installer writes "<its path>.ran.txt" when it runs. Each row's manifest
// names `named` (null: the bytes served), as one made by whoever holds the manifest keys
// would: only the installer signed with the pinned code-signing key runs. A resource-only
// DLL of the build, signed with that key, is the vendor's bytes that no Windows can start
// as a program.
TEST(HandOff, RunsOnlyTheFileTheManifestNamesSignedByThePinnedKey)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string package = std::string(temp) + "handoff-package.exe";
    const std::string marker = package + ".ran.txt";
    const std::string build = testfiles::BuildDirectory();
    const std::string installer = testfiles::ReadFileBytes(build + "fake_installer.exe");
    const std::string unsignedInstaller = testfiles::ReadFileBytes(build + "fake_installer-unsigned.exe");
    const std::string otherSigner = testfiles::ReadFileBytes(build + "fake_installer-other-signer.exe");
    const std::string notAProgram = testfiles::ReadFileBytes(build + "signed-not-a-program.exe");
    ASSERT_FALSE(installer.empty() || unsignedInstaller.empty() || otherSigner.empty() ||
                 notAProgram.empty());
    ASSERT_NE(installer, unsignedInstaller) << "the build should sign the stand-in installer";
    std::string altered = installer;
    altered[altered.size() / 2] ^= 0x01;
    const std::string longer = installer + "x";
    struct Row
    {
        const char* edge;
        const std::string* bytes; // null: no file at the package path
        const std::string* named; // what the manifest names; null: `bytes`
        HandOffVerdict verdict;
    };
    const Row rows[] = {
        {"no file", nullptr, &installer, HandOffVerdict::Refused},
        {"one byte changed from the manifest's", &altered, &installer, HandOffVerdict::Refused},
        {"one byte more than the manifest's", &longer, &installer, HandOffVerdict::Refused},
        {"unsigned", &unsignedInstaller, nullptr, HandOffVerdict::Refused},
        {"another key under the same name", &otherSigner, nullptr, HandOffVerdict::Refused},
        {"signed bytes changed afterwards", &altered, nullptr, HandOffVerdict::Refused},
        {"signed bytes and a byte more", &longer, nullptr, HandOffVerdict::Refused},
        {"the pinned signer's package", &installer, nullptr, HandOffVerdict::Handed},
        {"signed, but not a program", &notAProgram, nullptr, HandOffVerdict::NotStarted},
    };
    for (const Row& row : rows)
    {
        DeleteFileA(marker.c_str());
        DeleteFileA(package.c_str());
        if (row.bytes != nullptr)
            testfiles::WriteFile(package, *row.bytes);

        EXPECT_EQ(row.verdict,
                  HandOffPackage(package, ExpectedFor(row.named ? *row.named : *row.bytes), nullptr))
            << row.edge;

        // The shell has started whatever it was given by the time the hand-off returns; the
        // package is no longer in use once the installer has ended.
        const bool ran = row.verdict == HandOffVerdict::Handed ? standin::WaitForInstallerRun(package, 20000)
                                                               : !standin::InstallerHasNotRun(package);
        EXPECT_EQ(row.verdict == HandOffVerdict::Handed, ran) << row.edge;
        // Whatever the shell did, the package is left where it was.
        EXPECT_TRUE(row.bytes == nullptr || testfiles::ReadFileBytes(package) == *row.bytes) << row.edge;
    }
    // Once the shell has it, the package is no longer held.
    EXPECT_TRUE(DeleteFileA(package.c_str()));
    DeleteFileA(marker.c_str());
}

// The pins come from the module that carries them: one that pins no key, and does not
// say that it checks no signature, trusts no installer.
TEST(HandOff, AModuleThatPinsNoKeyTrustsNoInstaller)
{
    const std::string path = testfiles::BuildDirectory() + "fake_installer.exe";
    HMODULE pinsNothing = LoadLibraryExA((testfiles::BuildDirectory() + "Quorvel.dll").c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, pinsNothing);
    for (HMODULE module : {static_cast<HMODULE>(nullptr), pinsNothing})
    {
        const UniqueFileHandle file(
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        EXPECT_EQ(module == nullptr, IsSignedByVendor(file.get(), path, module));
    }
    FreeLibrary(pinsNothing);
}

// Run alone by the test command with wintrust.dll disabled, as on a system that has none:
// the pinned signer's own package, exactly as the manifest names it, does not run.
TEST(HandOff, DISABLED_WithoutWinTrustNothingRuns)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string package = std::string(temp) + "handoff-no-wintrust.exe";
    const std::string marker = package + ".ran.txt";
    const std::string installer =
        testfiles::ReadFileBytes(testfiles::BuildDirectory() + "fake_installer.exe");
    ASSERT_FALSE(installer.empty());
    ASSERT_EQ(nullptr, LoadLibraryA("wintrust.dll")) << "the test runs with wintrust.dll disabled";
    DeleteFileA(marker.c_str());
    testfiles::WriteFile(package, installer);

    EXPECT_EQ(HandOffVerdict::Refused, HandOffPackage(package, ExpectedFor(installer), nullptr));
    EXPECT_TRUE(standin::InstallerHasNotRun(package));
    EXPECT_TRUE(DeleteFileA(package.c_str()));
}
