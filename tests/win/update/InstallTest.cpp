// The hand-off to the shell against the real platform: only the signed package runs, and
// it runs as a copy from a folder of the updater's own, with nothing beside it that
// anybody else put there.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Crypto.h"
#include "HandOffFolder.h"
#include "Handles.h"
#include "Install.h"
#include "InstallerSignature.h"
#include "TestFiles.h"
#include "TestServer.h"
#include "StandInInstaller.h"

using testfiles::FileExists;
using testfiles::ReadFileBytes;

namespace
{
constexpr const char* kPackageName = "handoff-package.exe";

ManifestPackage ExpectedFor(const std::string& bytes)
{
    ManifestPackage package;
    package.size = bytes.size();
    CSha256 sha;
    EXPECT_TRUE(sha.Update(bytes.data(), bytes.size()) && sha.Finish(package.sha256));
    return package;
}

std::string TempPath()
{
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    return temp;
}

std::string Built(const char* name)
{
    return ReadFileBytes(testfiles::BuildDirectory() + name);
}

// The folder the user chose in the Save-As dialog, which the dialog makes the current
// directory, with the library the stand-in installer loads by name planted in it by
// someone who can write there.
class ChosenFolder
{
  public:
    ChosenFolder() : m_path(TempPath() + "handoff-chosen")
    {
        testfiles::RemoveFolder(m_path);
        testfiles::MakeFolders(m_path);
        testfiles::CopyInto(testfiles::BuildDirectory() + "fixtures\\planted\\" SEEKWELL_STANDIN_LIBRARY,
                            Planted());
        GetCurrentDirectoryA(sizeof m_previous, m_previous);
        SetCurrentDirectoryA(m_path.c_str());
        standin::RemoveHandOffFolders();
    }
    ~ChosenFolder()
    {
        SetCurrentDirectoryA(m_previous);
        testfiles::RemoveFolder(m_path);
        standin::RemoveHandOffFolders();
    }
    ChosenFolder(const ChosenFolder&) = delete;
    ChosenFolder& operator=(const ChosenFolder&) = delete;

    std::string Package() const { return m_path + "\\" + kPackageName; }
    std::string Planted() const { return m_path + "\\" SEEKWELL_STANDIN_LIBRARY; }
    // The planted library writes this file whenever a process loads it.
    bool PlantedWasLoaded() const { return FileExists(Planted() + ".loaded"); }

  private:
    std::string m_path;
    char m_previous[MAX_PATH] = {};
};

// What a run of the stand-in from the one hand-off folder shows: it ran as the copy there,
// from there, loading nothing from the chosen folder, and the copy is `checked`.
void ExpectRunFromTheHandOffFolder(const ChosenFolder& chosen, const std::string& checked)
{
    const std::vector<std::string> folders = standin::HandOffFolders();
    ASSERT_EQ(1u, folders.size());
    const std::string copy = folders[0] + "\\" + kPackageName;
    const std::string record = ReadFileBytes(standin::RunRecordOf(chosen.Package()));
    EXPECT_EQ(copy, standin::RecordField(record, "path")) << record;
    EXPECT_EQ(folders[0], standin::RecordField(record, "directory")) << record;
    EXPECT_EQ("none", standin::RecordField(record, "library")) << record;
    EXPECT_FALSE(chosen.PlantedWasLoaded());
    EXPECT_TRUE(ReadFileBytes(copy) == checked);
}
} // namespace

// Each row's manifest names `named` (null: the bytes at the package path), as one made by
// whoever holds the manifest keys would: only the installer signed with the pinned
// code-signing key runs. A resource-only DLL of the build, signed with that key, is the
// vendor's bytes that no Windows can start as a program.
TEST(HandOff, RunsOnlyTheFileTheManifestNamesSignedByThePinnedKey)
{
    const ChosenFolder chosen;
    const std::string package = chosen.Package();
    const std::string installer = Built("fake_installer.exe");
    const std::string unsignedInstaller = Built("fake_installer-unsigned.exe");
    const std::string otherSigner = Built("fake_installer-other-signer.exe");
    const std::string notAProgram = Built("signed-not-a-program.exe");
    ASSERT_FALSE(installer.empty() || unsignedInstaller.empty() || otherSigner.empty() ||
                 notAProgram.empty());
    ASSERT_TRUE(FileExists(chosen.Planted()));
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
        HandOffStep step;
    };
    const Row rows[] = {
        {"no file", nullptr, &installer, HandOffVerdict::Refused, HandOffStep::OpenPackage},
        {"one byte changed from the manifest's", &altered, &installer, HandOffVerdict::Refused,
         HandOffStep::CopyPackage},
        {"one byte more than the manifest's", &longer, &installer, HandOffVerdict::Refused,
         HandOffStep::CopyPackage},
        {"unsigned", &unsignedInstaller, nullptr, HandOffVerdict::Refused, HandOffStep::CheckCopy},
        {"another key under the same name", &otherSigner, nullptr, HandOffVerdict::Refused,
         HandOffStep::CheckCopy},
        {"signed bytes changed afterwards", &altered, nullptr, HandOffVerdict::Refused,
         HandOffStep::CheckCopy},
        {"signed bytes and a byte more", &longer, nullptr, HandOffVerdict::Refused, HandOffStep::CheckCopy},
        {"the pinned signer's package", &installer, nullptr, HandOffVerdict::Handed, HandOffStep::Start},
        {"signed, but not a program", &notAProgram, nullptr, HandOffVerdict::NotStarted, HandOffStep::Start},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        standin::RemoveHandOffFolders();
        DeleteFileA(package.c_str());
        if (row.bytes != nullptr)
            testfiles::WriteFile(package, *row.bytes);

        const HandOffOutcome outcome =
            HandOffPackage(package, ExpectedFor(row.named ? *row.named : *row.bytes), nullptr);
        EXPECT_EQ(row.verdict, outcome.verdict);
        EXPECT_EQ(row.step, outcome.step);

        // The shell has started whatever it was given by the time the hand-off returns; the
        // package is no longer in use once the installer has ended.
        const bool handed = row.verdict == HandOffVerdict::Handed;
        const bool ran =
            handed ? standin::WaitForInstallerRun(package, 20000) : !standin::InstallerHasNotRun(package);
        EXPECT_EQ(handed, ran);
        if (handed && ran)
            ExpectRunFromTheHandOffFolder(chosen, installer);
        // Only a hand-off leaves a folder, for the installer.
        if (!handed)
        {
            EXPECT_EQ(std::vector<std::string>{}, standin::HandOffFolders());
        }
        // Whatever the shell did, the package is left where it was, as it was.
        EXPECT_TRUE(row.bytes == nullptr || ReadFileBytes(package) == *row.bytes);
    }
    // Once the shell has it, the user's file is no longer held.
    EXPECT_TRUE(DeleteFileA(package.c_str()));
}

// A view mapped for writing survives the closing of its handles, and share modes count
// handles only: the user's file can change after the check, while the shell starts the
// package (an elevation prompt may be up for long). What runs is the checked copy.
TEST(HandOff, TheUsersFileChangedThroughAMappedViewIsNotWhatRuns)
{
    const ChosenFolder chosen;
    const std::string installer = Built("fake_installer.exe");
    testfiles::WriteFile(chosen.Package(), installer);
    HANDLE file = CreateFileA(chosen.Package().c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    ASSERT_NE(nullptr, mapping);
    auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(nullptr, view);
    CloseHandle(mapping);
    CloseHandle(file);

    const HandOffOutcome outcome = HandOffPackage(chosen.Package(), ExpectedFor(installer), nullptr);
    view[installer.size() / 2] ^= 0x01;
    FlushViewOfFile(view, 0);
    UnmapViewOfFile(view);

    // A platform that counts the writable view as a writer refuses to hold the file: then
    // nothing runs, which is as safe.
    ::testing::Test::RecordProperty("writable view", outcome.verdict == HandOffVerdict::Handed
                                                         ? "the file was held and copied"
                                                         : "holding the file was refused");
    if (outcome.verdict != HandOffVerdict::Handed)
    {
        EXPECT_EQ(HandOffVerdict::Refused, outcome.verdict);
        EXPECT_TRUE(standin::InstallerHasNotRun(chosen.Package()));
        return;
    }
    ASSERT_TRUE(standin::WaitForInstallerRun(chosen.Package(), 20000));
    ExpectRunFromTheHandOffFolder(chosen, installer);
    EXPECT_FALSE(ReadFileBytes(chosen.Package()) == installer) << "the view did not change the user's file";
}

// Where no folder or copy can be made on this computer nothing runs, the user's package
// stays, and the verdict says that the cause is local, with the step and its error.
TEST(HandOff, NothingRunsWhereThePackageCannotBePrepared)
{
    const ChosenFolder chosen;
    const std::string installer = Built("fake_installer.exe");
    testfiles::WriteFile(chosen.Package(), installer);
    const std::string smallDrive = testserver::Env("SEEKWELL_TEST_SMALL_DRIVE");
    struct Row
    {
        const char* edge;
        std::string temporary; // empty: the row cannot be set up on this runner
        HandOffStep step;
    };
    const Row rows[] = {
        {"no temporary folder", TempPath() + "handoff-no-such-folder\\", HandOffStep::MakeFolder},
        {"a full drive", smallDrive.empty() ? "" : smallDrive + "\\", HandOffStep::CopyPackage},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        if (row.temporary.empty())
        {
            ::testing::Test::RecordProperty(row.edge, "skipped: the runner has no small drive");
            continue;
        }
        // What the drive holds but a few kilobytes, for the folder and its marker.
        const std::string filler = row.temporary + "handoff-filler.bin";
        ULARGE_INTEGER free = {};
        if (row.step == HandOffStep::CopyPackage &&
            GetDiskFreeSpaceExA(row.temporary.c_str(), &free, nullptr, nullptr) && free.QuadPart > 16384)
            testfiles::WriteFile(filler, std::string(static_cast<size_t>(free.QuadPart - 16384), 'f'));
        const testfiles::ScopedVariable temporary("TMP", row.temporary);

        const HandOffOutcome outcome = HandOffPackage(chosen.Package(), ExpectedFor(installer), nullptr);

        EXPECT_EQ(HandOffVerdict::NotPrepared, outcome.verdict);
        EXPECT_EQ(row.step, outcome.step);
        EXPECT_NE(static_cast<DWORD>(NO_ERROR), outcome.error);
        EXPECT_TRUE(standin::InstallerHasNotRun(chosen.Package()));
        EXPECT_TRUE(ReadFileBytes(chosen.Package()) == installer);
        EXPECT_EQ(std::vector<std::string>{}, standin::HandOffFolders());
        DeleteFileA(filler.c_str());
    }
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
    const ChosenFolder chosen;
    const std::string installer = Built("fake_installer.exe");
    ASSERT_FALSE(installer.empty());
    ASSERT_EQ(nullptr, LoadLibraryA("wintrust.dll")) << "the test runs with wintrust.dll disabled";
    testfiles::WriteFile(chosen.Package(), installer);

    EXPECT_EQ(HandOffVerdict::Refused,
              HandOffPackage(chosen.Package(), ExpectedFor(installer), nullptr).verdict);
    EXPECT_TRUE(standin::InstallerHasNotRun(chosen.Package()));
    EXPECT_EQ(std::vector<std::string>{}, standin::HandOffFolders());
}

namespace
{
// Draws bytes of 0xAB for the first `g_knownDraws` names, other bytes after: the first
// name is known beforehand, as to someone who guessed it.
int g_draws = 0;
int g_knownDraws = 0;
bool KnownFirst(void* data, size_t size) noexcept
{
    const int draw = g_draws++;
    std::memset(data, draw < g_knownDraws ? 0xAB : 0x10 + draw, size);
    return true;
}

std::string KnownFolder()
{
    std::string name = "SeekwellHandOff-";
    for (int i = 0; i < 16; ++i)
        name += "ab";
    return TempPath() + name;
}

using CreateSymbolicLinkFunction = BOOLEAN(WINAPI*)(LPCSTR link, LPCSTR target, DWORD flags);

bool IsLink(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A junction, which any user may make in a folder of theirs: an empty folder turned into
// a mount point that names `target`.
bool MakeJunction(const std::string& link, const std::string& target)
{
    if (!CreateDirectoryA(link.c_str(), nullptr))
        return false;
    const UniqueFileHandle folder(CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                              nullptr));
    wchar_t substitute[MAX_PATH] = L"\\??\\";
    MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, substitute + 4, MAX_PATH - 4);
    const WORD nameBytes = static_cast<WORD>(wcslen(substitute) * sizeof(wchar_t));
    // The mount point's data: tag, length, the substitute name and an empty print name.
    struct
    {
        DWORD tag;
        WORD length;
        WORD reserved;
        WORD substituteOffset, substituteLength, printOffset, printLength;
        wchar_t names[MAX_PATH + 2];
    } data = {IO_REPARSE_TAG_MOUNT_POINT, 0, 0, 0, nameBytes, static_cast<WORD>(nameBytes + 2), 0, {}};
    std::memcpy(data.names, substitute, nameBytes);
    data.length = static_cast<WORD>(8 + nameBytes + 2 * sizeof(wchar_t));
    DWORD returned = 0;
    const bool made = folder && DeviceIoControl(folder.get(), 0x000900A4 /* FSCTL_SET_REPARSE_POINT */, &data,
                                                8 + data.length, nullptr, 0, &returned, nullptr);
    if (!made)
        RemoveDirectoryA(link.c_str());
    return made;
}

// A link to a folder, where the platform makes one for this user: a symbolic link (which
// may need a privilege), else a junction.
bool MakeFolderLink(const std::string& link, const std::string& target)
{
    const auto create = reinterpret_cast<CreateSymbolicLinkFunction>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
    if (create != nullptr && create(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) &&
        IsLink(link))
        return true;
    if (MakeJunction(link, target) && IsLink(link))
        return true;
    RemoveDirectoryA(link.c_str());
    return false;
}
} // namespace

// Someone who can write to the temporary folder makes, under the name the next hand-off
// would draw, a folder of their own, a file or a link to a folder they control. The
// hand-off never uses it, and leaves it as it was; a name that is taken at every draw
// makes the hand-off fail without leaving anything behind.
TEST(HandOffFolder, NeverUsesWhatSomeoneElseMadeUnderItsName)
{
    const std::string known = KnownFolder();
    const std::string elsewhere = TempPath() + "handoff-elsewhere";
    enum class Made
    {
        Folder,
        File,
        Link
    };
    struct Row
    {
        const char* edge;
        Made made;
        int knownDraws;
        bool created;
    };
    const Row rows[] = {
        {"a folder with a library in it", Made::Folder, 1, true},
        {"a file", Made::File, 1, true},
        {"a link to another folder", Made::Link, 1, true},
        {"the name drawn every time", Made::Folder, 1000, false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        standin::RemoveHandOffFolders();
        RemoveDirectoryA(known.c_str());
        DeleteFileA(known.c_str());
        testfiles::RemoveFolder(elsewhere);
        testfiles::MakeFolders(elsewhere);
        testfiles::WriteFile(elsewhere + "\\" SEEKWELL_STANDIN_LIBRARY, "theirs");
        if (row.made == Made::Folder)
            testfiles::WriteFile(known + "\\" SEEKWELL_STANDIN_LIBRARY, "theirs");
        else if (row.made == Made::File)
            testfiles::WriteFile(known, "theirs");
        else if (!MakeFolderLink(known, elsewhere))
        {
            ::testing::Test::RecordProperty(row.edge, "skipped: the platform made no link");
            continue;
        }
        g_draws = 0;
        g_knownDraws = row.knownDraws;

        {
            CHandOffFolder folder;
            EXPECT_EQ(row.created, folder.Create(TempPath(), kPackageName, &KnownFirst));
            if (row.created)
            {
                EXPECT_NE(known, folder.Path());
                EXPECT_EQ(0u, folder.Path().find(TempPath() + "SeekwellHandOff-")) << folder.Path();
                EXPECT_EQ(std::vector<std::string>{"handoff.seekwell"}, testfiles::FilesIn(folder.Path()));
            }
            else
            {
                EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), folder.Error());
            }
            EXPECT_GT(g_draws, row.created ? 1 : 7);
        }
        // Theirs as it was; nothing of the updater's is left inside it or beside it.
        const std::string inside = known + "\\" SEEKWELL_STANDIN_LIBRARY;
        EXPECT_TRUE(ReadFileBytes(row.made == Made::File ? known : inside) == "theirs");
        EXPECT_TRUE(ReadFileBytes(elsewhere + "\\" SEEKWELL_STANDIN_LIBRARY) == "theirs");
        EXPECT_EQ(std::vector<std::string>{SEEKWELL_STANDIN_LIBRARY}, testfiles::FilesIn(elsewhere));
        const std::vector<std::string> theirsOnly =
            row.made == Made::File ? std::vector<std::string>{} : std::vector<std::string>{known};
        EXPECT_EQ(theirsOnly, standin::HandOffFolders());
    }
    RemoveDirectoryA(known.c_str());
    testfiles::RemoveFolder(known);
    DeleteFileA(known.c_str());
    testfiles::RemoveFolder(elsewhere);
}

namespace
{
bool SameSid(PSID sid, const char* wellKnown, PSID user)
{
    if (wellKnown == nullptr)
        return EqualSid(sid, user) != FALSE;
    PSID known = nullptr;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    const bool system = std::string(wellKnown) == "SYSTEM";
    if (!AllocateAndInitializeSid(&nt, system ? 1 : 2,
                                  system ? SECURITY_LOCAL_SYSTEM_RID : SECURITY_BUILTIN_DOMAIN_RID,
                                  system ? 0 : DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &known))
        return false;
    const bool same = EqualSid(sid, known) != FALSE;
    FreeSid(known);
    return same;
}
} // namespace

// The folder's own access list: full access, inherited by what is made inside, for the
// user who runs the updater, SYSTEM and Administrators, and no entry for anybody else;
// the temporary folder's inheritable entries are not taken in.
TEST(HandOffFolder, OnlyTheUserSystemAndAdministratorsHaveAccess)
{
    std::string path;
    {
        CHandOffFolder folder;
        ASSERT_TRUE(folder.Create(TempPath(), kPackageName));
        path = folder.Path();
        const DWORD attributes = GetFileAttributesA(path.c_str());
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
                  attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));

        BYTE descriptor[4096] = {};
        DWORD needed = 0;
        ASSERT_TRUE(GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                                     &needed));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL acl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
        ASSERT_TRUE(present && acl != nullptr) << "no access list: everybody may write";

        HANDLE token = nullptr;
        ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
        BYTE user[256] = {};
        DWORD size = 0;
        ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
        CloseHandle(token);
        const PSID self = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
        // Windows keeps the list as given. Wine keeps a file's access as Unix permission
        // bits and makes a list from them: the owner's entry and SYSTEM's, no other, and
        // no protection flag; what it keeps must still be nobody's but these three.
        const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
        ::testing::Test::RecordProperty("access list entries", std::to_string(acl->AceCount));
        if (!wine)
        {
            EXPECT_EQ(SE_DACL_PROTECTED, control & SE_DACL_PROTECTED);
            EXPECT_EQ(3u, acl->AceCount);
        }
        bool userHasFullAccess = false;
        for (DWORD index = 0; index < acl->AceCount; ++index)
        {
            void* entry = nullptr;
            ASSERT_TRUE(GetAce(acl, index, &entry));
            const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            const PSID sid = const_cast<DWORD*>(&ace->SidStart);
            EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType) << index;
            EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags & ~INHERITED_ACE)
                << index;
            EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask & FILE_ALL_ACCESS) << index;
            const bool known = SameSid(sid, nullptr, self) || SameSid(sid, "SYSTEM", self) ||
                               SameSid(sid, "Administrators", self);
            EXPECT_TRUE(known) << "entry " << index << " is for somebody else";
            userHasFullAccess = userHasFullAccess || SameSid(sid, nullptr, self);
        }
        EXPECT_TRUE(userHasFullAccess);
    }
    // Not kept for an installer: gone with the object.
    EXPECT_FALSE(FileExists(path));
}

namespace
{
// What a row of the clean-up lays out under the temporary folder.
enum class Layout
{
    EndedHandOff,
    CopyStillOpen,
    NoMarker,
    OtherName,
    FileUnderTheName,
    MarkerNamingAFileOutside,
};
} // namespace

// A later run removes the folders of earlier hand-offs that are no longer in use, and
// nothing else: not a folder whose copy is still open, nor anything named like a hand-off
// folder without the updater's marker, nor a marked folder under another name, nor a
// file outside that a forged marker names.
TEST(HandOffFolder, ALaterRunRemovesOnlyEarlierHandOffFoldersNoLongerInUse)
{
    standin::RemoveHandOffFolders();
    const std::string temp = TempPath();
    const std::string victim = temp + "handoff-victim.txt";
    testfiles::WriteFile(victim, "keep me");
    struct Row
    {
        const char* edge;
        Layout layout;
        bool removed;
        std::string path = std::string();
    };
    Row rows[] = {
        {"an earlier hand-off whose installer has ended", Layout::EndedHandOff, true},
        {"an earlier hand-off whose copy is still open", Layout::CopyStillOpen, false},
        {"named like one, without the marker", Layout::NoMarker, false},
        {"the marker under another name", Layout::OtherName, false},
        {"a file named like one", Layout::FileUnderTheName, false},
        {"a forged marker naming a file outside", Layout::MarkerNamingAFileOutside, false},
    };
    const std::string marker = "Seekwell hand-off\r\n" + std::string(kPackageName) + "\r\n";
    UniqueFileHandle stillOpen;
    int draw = 0;
    for (Row& row : rows)
    {
        row.path = temp + "SeekwellHandOff-" + std::string(31, 'c') + "0123456789abcdef"[draw++];
        switch (row.layout)
        {
        case Layout::EndedHandOff:
        case Layout::CopyStillOpen:
        {
            CHandOffFolder folder;
            ASSERT_TRUE(folder.Create(temp, kPackageName));
            folder.Keep();
            row.path = folder.Path();
            testfiles::WriteFile(folder.PackagePath(), "the copy");
            testfiles::WriteFile(folder.PackagePath() + ".ran.txt", "the installer's own");
            testfiles::WriteFile(folder.Path() + "\\setup\\extracted.bin", "the installer's own");
            if (row.layout == Layout::CopyStillOpen)
                stillOpen.reset(CreateFileA(folder.PackagePath().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
            break;
        }
        case Layout::NoMarker:
            testfiles::WriteFile(row.path + "\\" + kPackageName, "theirs");
            break;
        case Layout::OtherName:
            row.path = temp + "SeekwellHandOff-theirs";
            testfiles::WriteFile(row.path + "\\handoff.seekwell", marker);
            testfiles::WriteFile(row.path + "\\" + kPackageName, "theirs");
            break;
        case Layout::FileUnderTheName:
            testfiles::WriteFile(row.path, "theirs");
            break;
        case Layout::MarkerNamingAFileOutside:
            testfiles::WriteFile(row.path + "\\handoff.seekwell",
                                 "Seekwell hand-off\r\n..\\handoff-victim.txt\r\n");
            testfiles::WriteFile(row.path + "\\" + kPackageName, "theirs");
            break;
        }
    }
    ASSERT_TRUE(stillOpen);

    EXPECT_EQ(1u, RemoveEarlierHandOffFolders(temp));

    for (const Row& row : rows)
        EXPECT_EQ(!row.removed, FileExists(row.path)) << row.edge;
    EXPECT_TRUE(ReadFileBytes(victim) == "keep me");
    // The open copy's folder is whole: its copy, the installer's files and the marker.
    const Row& open = rows[1];
    EXPECT_EQ((std::vector<std::string>{kPackageName, std::string(kPackageName) + ".ran.txt",
                                        "handoff.seekwell", "setup"}),
              testfiles::FilesIn(open.path));
    // Once the copy is closed, the next run removes that folder too.
    stillOpen.reset();
    EXPECT_EQ(1u, RemoveEarlierHandOffFolders(temp));
    EXPECT_FALSE(FileExists(open.path));
    for (const Row& row : rows)
    {
        testfiles::RemoveFolder(row.path);
        DeleteFileA(row.path.c_str());
    }
    DeleteFileA(victim.c_str());
}
