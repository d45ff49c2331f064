#include "HandOffFolder.h"

#include <cstdint>
#include <cstring>

#include "Mbcs.h"
#include "Platform.h"

namespace
{
constexpr const char* kFolderPrefix = "SeekwellHandOff-";
constexpr size_t kFolderPrefixLength = 16;
constexpr size_t kRandomBytes = 16;
constexpr size_t kFolderNameLength = kFolderPrefixLength + 2 * kRandomBytes;
// Enough for any chance meeting of names; a name that is taken every time was put there.
constexpr int kNameAttempts = 8;
constexpr const char* kMarkerName = "handoff.seekwell";
constexpr const char* kMarkerFirstLine = "Seekwell hand-off\r\n";
// The marker's first line and a file name.
constexpr DWORD kMarkerBytes = 512;
// Folders an installer made inside its own are removed this deep, no deeper.
constexpr int kMaxNesting = 8;

// --- The folder's security on the NT family -------------------------------------------

// A SID with up to two sub-authorities, laid out as the platform's SID.
struct WellKnownSid
{
    BYTE revision;
    BYTE subAuthorityCount;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD subAuthority[2];
};
WellKnownSid g_localSystem = {SID_REVISION, 1, SECURITY_NT_AUTHORITY, {SECURITY_LOCAL_SYSTEM_RID, 0}};
WellKnownSid g_administrators = {
    SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

// The NT family's security functions, bound at run time: Windows 9x lacks most of them or
// exports them as stubs, and SetSecurityDescriptorControl came with Windows 2000.
struct SecurityFunctions
{
    decltype(&OpenProcessToken) openProcessToken = nullptr;
    decltype(&GetTokenInformation) getTokenInformation = nullptr;
    decltype(&GetLengthSid) getLengthSid = nullptr;
    decltype(&InitializeAcl) initializeAcl = nullptr;
    decltype(&AddAccessAllowedAce) addAccessAllowedAce = nullptr;
    decltype(&GetAce) getAce = nullptr;
    decltype(&InitializeSecurityDescriptor) initializeDescriptor = nullptr;
    decltype(&SetSecurityDescriptorDacl) setDacl = nullptr;
    // Null before Windows 2000, which merges no inherited entries into a given list anyway.
    decltype(&SetSecurityDescriptorControl) setControl = nullptr;
};

bool BindSecurityFunctions(SecurityFunctions& functions) noexcept
{
    // advapi32.dll is imported, so it is loaded.
    const HMODULE advapi32 = GetModuleHandleA("advapi32.dll");
    if (advapi32 == nullptr)
        return false;
    functions.openProcessToken = BindProcedure<decltype(&OpenProcessToken)>(advapi32, "OpenProcessToken");
    functions.getTokenInformation =
        BindProcedure<decltype(&GetTokenInformation)>(advapi32, "GetTokenInformation");
    functions.getLengthSid = BindProcedure<decltype(&GetLengthSid)>(advapi32, "GetLengthSid");
    functions.initializeAcl = BindProcedure<decltype(&InitializeAcl)>(advapi32, "InitializeAcl");
    functions.addAccessAllowedAce =
        BindProcedure<decltype(&AddAccessAllowedAce)>(advapi32, "AddAccessAllowedAce");
    functions.getAce = BindProcedure<decltype(&GetAce)>(advapi32, "GetAce");
    functions.initializeDescriptor =
        BindProcedure<decltype(&InitializeSecurityDescriptor)>(advapi32, "InitializeSecurityDescriptor");
    functions.setDacl =
        BindProcedure<decltype(&SetSecurityDescriptorDacl)>(advapi32, "SetSecurityDescriptorDacl");
    functions.setControl =
        BindProcedure<decltype(&SetSecurityDescriptorControl)>(advapi32, "SetSecurityDescriptorControl");
    return functions.openProcessToken && functions.getTokenInformation && functions.getLengthSid &&
           functions.initializeAcl && functions.addAccessAllowedAce && functions.getAce &&
           functions.initializeDescriptor && functions.setDacl;
}

// Full access for the user who runs the updater, SYSTEM and Administrators, inherited by
// everything made inside, and no access for anybody else; the parent folder's inheritable
// entries are not merged in.
class CPrivateFolderSecurity
{
  public:
    // False, with the last error set, when the descriptor cannot be had.
    bool Build() noexcept
    {
        SecurityFunctions api;
        if (!BindSecurityFunctions(api))
        {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return false;
        }
        PSID user = nullptr;
        if (!ReadUser(api, user))
            return false;
        PSID sids[] = {user, &g_localSystem, &g_administrators};
        DWORD aclSize = sizeof(ACL);
        for (PSID sid : sids)
            aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + api.getLengthSid(sid);
        if (aclSize > sizeof m_acl)
        {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        auto* acl = reinterpret_cast<PACL>(m_acl);
        if (!api.initializeAcl(acl, aclSize, ACL_REVISION))
            return false;
        for (DWORD index = 0; index < sizeof sids / sizeof sids[0]; ++index)
        {
            // AddAccessAllowedAce sets no inheritance (its Ex form came with Windows 2000):
            // the entry's flags are set where it lies.
            void* ace = nullptr;
            if (!api.addAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sids[index]) ||
                !api.getAce(acl, index, &ace))
                return false;
            static_cast<ACE_HEADER*>(ace)->AceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        }
        if (!api.initializeDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !api.setDacl(&m_descriptor, TRUE, acl, FALSE))
            return false;
        if (api.setControl != nullptr && !api.setControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return false;
        m_attributes.nLength = sizeof m_attributes;
        m_attributes.lpSecurityDescriptor = &m_descriptor;
        m_attributes.bInheritHandle = FALSE;
        return true;
    }

    SECURITY_ATTRIBUTES* Attributes() noexcept { return &m_attributes; }

  private:
    bool ReadUser(const SecurityFunctions& api, PSID& user) noexcept
    {
        HANDLE token = nullptr;
        if (!api.openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return false;
        const UniqueKernelHandle owned(token);
        DWORD size = 0;
        if (!api.getTokenInformation(token, TokenUser, m_user, sizeof m_user, &size))
            return false;
        user = reinterpret_cast<TOKEN_USER*>(m_user)->User.Sid;
        return user != nullptr;
    }

    // TOKEN_USER and the SID it points to (at most 68 bytes).
    alignas(8) BYTE m_user[256] = {};
    alignas(8) BYTE m_acl[512] = {};
    SECURITY_DESCRIPTOR m_descriptor = {};
    SECURITY_ATTRIBUTES m_attributes = {};
};

// --- Names --------------------------------------------------------------------------

uint64_t Mix(uint64_t value) noexcept
{
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// Where the platform gives no random numbers, the clock, the thread (whose id no other
// running thread has) and the attempt at least make the name new; the folder's security
// and its creation as new keep it private all the same.
void FillFromClock(uint8_t (&bytes)[kRandomBytes], int attempt) noexcept
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const uint64_t time = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const uint64_t first = Mix(time ^ (static_cast<uint64_t>(GetCurrentThreadId()) << 32) ^ GetTickCount());
    const uint64_t second = Mix(first ^ static_cast<uint64_t>(attempt) ^ reinterpret_cast<uintptr_t>(&now));
    std::memcpy(bytes, &first, sizeof first);
    std::memcpy(bytes + sizeof first, &second, sizeof second);
}

std::string DrawFolderName(RandomFunction random, int attempt)
{
    uint8_t bytes[kRandomBytes] = {};
    if (!random(bytes, sizeof bytes))
        FillFromClock(bytes, attempt);
    static const char kDigits[] = "0123456789abcdef";
    std::string name = kFolderPrefix;
    for (const uint8_t byte : bytes)
    {
        name += kDigits[byte >> 4];
        name += kDigits[byte & 0x0F];
    }
    return name;
}

bool IsHandOffFolderName(const std::string& name) noexcept
{
    if (name.size() != kFolderNameLength || name.compare(0, kFolderPrefixLength, kFolderPrefix) != 0)
        return false;
    for (size_t i = kFolderPrefixLength; i < name.size(); ++i)
    {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// A name that stays inside the folder it is joined to: no path, no drive, no "." or "..".
bool IsPlainFileName(const std::string& name) noexcept
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/:") == std::string::npos &&
           FindLastBackslash(name, IsLeadByte) == std::string::npos;
}

bool IsRealFolder(DWORD attributes) noexcept
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// --- The marker ----------------------------------------------------------------------

bool WriteMarker(const std::string& folder, const std::string& packageName) noexcept
{
    const std::string path = folder + "\\" + kMarkerName;
    const UniqueFileHandle marker(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!marker)
        return false;
    const std::string text = std::string(kMarkerFirstLine) + packageName + "\r\n";
    DWORD written = 0;
    if (!WriteFile(marker.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return false;
    if (written == text.size())
        return true;
    SetLastError(ERROR_WRITE_FAULT);
    return false;
}

// The package file name the marker in `folder` names; false when there is no marker of
// the updater's, or the name it holds is not a plain file name.
bool ReadMarker(const std::string& folder, std::string& packageName) noexcept
{
    const std::string path = folder + "\\" + kMarkerName;
    const UniqueFileHandle marker(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!marker)
        return false;
    char text[kMarkerBytes] = {};
    DWORD read = 0;
    if (!ReadFile(marker.get(), text, sizeof text, &read, nullptr) || read == sizeof text)
        return false;
    const std::string content(text, read);
    const size_t firstLength = std::strlen(kMarkerFirstLine);
    if (content.compare(0, firstLength, kMarkerFirstLine) != 0 || content.size() < firstLength + 2 ||
        content.compare(content.size() - 2, 2, "\r\n") != 0)
        return false;
    packageName = content.substr(firstLength, content.size() - firstLength - 2);
    return IsPlainFileName(packageName) && packageName.find_first_of("\r\n") == std::string::npos;
}

// --- Removal ---------------------------------------------------------------------------

bool IsGone(DWORD error) noexcept
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Removes what `folder` holds, but for the marker at the top (`nesting` 0). A link inside
// is removed as a link: nothing it points to is touched. Stops at the first thing that
// cannot be removed; the marker then stays, so that a later run tries again.
bool RemoveFolderContents(const std::string& folder, int nesting) noexcept
{
    if (nesting > kMaxNesting)
        return false;
    WIN32_FIND_DATAA found;
    const UniqueFindHandle search(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!search)
        return IsGone(GetLastError());
    do
    {
        const std::string name = found.cFileName;
        if (name == "." || name == ".." || (nesting == 0 && name == kMarkerName))
            continue;
        const std::string path = folder + "\\" + name;
        const DWORD attributes = found.dwFileAttributes;
        bool removed = false;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            removed = DeleteFileA(path.c_str()) != FALSE;
        else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            removed = RemoveDirectoryA(path.c_str()) != FALSE;
        else
            removed = RemoveFolderContents(path, nesting + 1) && RemoveDirectoryA(path.c_str()) != FALSE;
        if (!removed && !IsGone(GetLastError()))
            return false;
    } while (FindNextFileA(search.get(), &found));
    return true;
}

// Removes a hand-off folder whose package copy is `packageName`: the copy first, and
// nothing at all when the copy is still in use.
bool RemoveHandOffFolder(const std::string& folder, const std::string& packageName) noexcept
{
    if (!IsRealFolder(GetFileAttributesA(folder.c_str())))
        return false;
    const std::string package = folder + "\\" + packageName;
    if (!DeleteFileA(package.c_str()) && !IsGone(GetLastError()))
        return false;
    if (!RemoveFolderContents(folder, 0))
        return false;
    const std::string marker = folder + "\\" + kMarkerName;
    if (!DeleteFileA(marker.c_str()) && !IsGone(GetLastError()))
        return false;
    return RemoveDirectoryA(folder.c_str()) != FALSE;
}
} // namespace

std::string TemporaryFolder()
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof path, path);
    if (length == 0)
        return std::string();
    if (length >= sizeof path)
    {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return std::string();
    }
    std::string folder(path, length);
    if (folder.back() != '\\')
        folder += '\\';
    return folder;
}

CHandOffFolder::~CHandOffFolder()
{
    if (m_path.empty() || m_kept)
        return;
    m_held.reset();
    (void)RemoveHandOffFolder(m_path, m_packageName);
}

bool CHandOffFolder::Fail(DWORD error) noexcept
{
    m_error = error != NO_ERROR ? error : ERROR_GEN_FAILURE;
    return false;
}

bool CHandOffFolder::Create(const std::string& parent, const std::string& packageName,
                            RandomFunction random) noexcept
{
    m_packageName = packageName;
    if (!IsPlainFileName(packageName))
        return Fail(ERROR_INVALID_NAME);
    // Windows 9x keeps no security on files: there the folder is private by its name.
    const bool nt = !IsWindows9xFamily();
    CPrivateFolderSecurity security;
    if (nt && !security.Build())
        return Fail(GetLastError());
    SECURITY_ATTRIBUTES* attributes = nt ? security.Attributes() : nullptr;
    std::string path;
    for (int attempt = 0; attempt < kNameAttempts && m_path.empty(); ++attempt)
    {
        path = parent + DrawFolderName(random, attempt);
        if (path.size() + 1 + packageName.size() >= MAX_PATH)
            return Fail(ERROR_FILENAME_EXCED_RANGE);
        // Creating, never opening: whatever already has the name makes this fail.
        if (CreateDirectoryA(path.c_str(), attributes))
            m_path = path;
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            return Fail(GetLastError());
    }
    if (m_path.empty())
        return Fail(ERROR_ALREADY_EXISTS);
    if (nt)
    {
        // Held without delete sharing, the folder cannot be renamed or removed, and what the
        // handle shows is the folder that is used.
        m_held.reset(CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
        BY_HANDLE_FILE_INFORMATION information = {};
        if (!m_held || !GetFileInformationByHandle(m_held.get(), &information))
            return Fail(GetLastError());
        if (!IsRealFolder(information.dwFileAttributes))
        {
            // Not the folder just made: nothing under that name is the updater's to remove.
            m_path.clear();
            return Fail(ERROR_REPARSE_ATTRIBUTE_CONFLICT);
        }
    }
    if (!WriteMarker(m_path, packageName))
        return Fail(GetLastError());
    return true;
}

size_t RemoveEarlierHandOffFolders(const std::string& parent) noexcept
{
    size_t removed = 0;
    WIN32_FIND_DATAA found;
    const UniqueFindHandle search(FindFirstFileA((parent + kFolderPrefix + "*").c_str(), &found));
    if (!search)
        return 0;
    do
    {
        const std::string name = found.cFileName;
        if (!IsHandOffFolderName(name) || !IsRealFolder(found.dwFileAttributes))
            continue;
        const std::string folder = parent + name;
        std::string packageName;
        if (ReadMarker(folder, packageName) && RemoveHandOffFolder(folder, packageName))
            ++removed;
    } while (FindNextFileA(search.get(), &found));
    return removed;
}
