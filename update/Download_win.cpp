#include "Download.h"

#include <utility>

#include "DownloadMath.h"
#include "DownloadStatus.h"
#include "Handles.h"
#include "PackageMove.h"
#include "PackageTransfer.h"
#include "Mbcs.h"
#include "Platform.h"

namespace
{
constexpr const char* kTemporaryPrefix = "swd";
// "swd", up to four hexadecimal digits and ".tmp".
constexpr size_t kTemporaryNameLength = 11;

// Removes the file it names when it goes out of scope, unless told to keep it.
class CTemporaryFile
{
  public:
    explicit CTemporaryFile(std::string path) noexcept : m_path(std::move(path)) {}
    ~CTemporaryFile()
    {
        if (!m_path.empty())
            (void)DeleteFileA(m_path.c_str());
    }
    CTemporaryFile(const CTemporaryFile&) = delete;
    CTemporaryFile& operator=(const CTemporaryFile&) = delete;

    const std::string& Path() const noexcept { return m_path; }
    void Keep() noexcept { m_path.clear(); }

  private:
    std::string m_path;
};

// The package URL never changes between releases, so the platform's download call may
// answer it from the internet cache with an older package. The cache function is looked
// up at run time because not every system has it; wininet, once loaded, stays loaded
// until the process ends.
void ForgetCachedCopy(const std::string& url) noexcept
{
    using DeleteUrlCacheEntryFunction = BOOL(WINAPI*)(LPCSTR);
    const HMODULE wininet = LoadLibraryA("wininet.dll");
    if (wininet == nullptr)
        return;
    const auto deleteEntry = BindProcedure<DeleteUrlCacheEntryFunction>(wininet, "DeleteUrlCacheEntryA");
    if (deleteEntry != nullptr)
        (void)deleteEntry(url.c_str());
}

// Size of a file, or -1 when it cannot be read.
int64_t FileSize(const std::string& path) noexcept
{
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes))
        return -1;
    return (static_cast<int64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
}

bool IsSuccessStatus(DWORD status)
{
    return status >= 200 && status < 300;
}

// The platform's download call reports a success for a body cut short, for a connection
// that failed before anything arrived, and may even leave the target empty when it could
// not copy what it received, so what arrived and what was written are both held against
// what the server announced. Without an announced length only the written size can be
// held against the notifications. A transfer that delivered nothing is never a package.
bool WholeBodyArrived(const CDownloadStatus& status, int64_t writtenBytes) noexcept
{
    if (status.BytesNotified() == 0 || writtenBytes <= 0)
        return false;
    const uint32_t announced = status.AnnouncedTotal();
    if (announced != 0)
        return status.BytesNotified() == announced && writtenBytes == announced;
    return writtenBytes == status.BytesNotified();
}

} // namespace

std::string PackageUrl(const std::string& baseUrl, const std::string& productCode,
                       const std::string& packageName)
{
    return baseUrl + productCode + "/" + packageName;
}

std::string PackagePathFor(const std::string& confirmedPath, const std::string& packageName)
{
    return FolderOfPath(confirmedPath, IsLeadByte) + "\\" + packageName;
}

DownloadOutcome DownloadPackage(const std::string& url, const std::string& target,
                                const ManifestPackage& expected, IDownloadProgress& progress) noexcept
{
    DownloadOutcome outcome;
    ForgetCachedCopy(url);

    // The temporary file sits in the target's own folder, so that the final move is a
    // rename and a failed transfer never touches the package already there. The folder
    // keeps its backslash: "C:" alone would name the drive's current directory.
    const std::string folder = DirectoryWithSlash(target, IsLeadByte);
    char temporaryPath[MAX_PATH] = {};
    // Neither the package nor the temporary file may pass the platform's path limit: a
    // temporary name cut short to fit would be created but could not be removed by the
    // name reported. Such a target fails before anything is requested or written.
    const bool fits = target.size() < MAX_PATH && folder.size() + kTemporaryNameLength < MAX_PATH;
    // Some platforms report a name even when the file could not be created, so the
    // file itself is the proof that the folder takes files.
    if (folder.empty() || !fits ||
        GetTempFileNameA(folder.c_str(), kTemporaryPrefix, 0, temporaryPath) == 0 ||
        GetFileAttributesA(temporaryPath) == INVALID_FILE_ATTRIBUTES)
    {
        outcome.verdict = DownloadVerdict::NoTemporaryFile;
        return outcome;
    }
    CTemporaryFile temporary(temporaryPath);

    // The transfer writes into the temporary file alone: nobody else may write to it,
    // rename or remove it meanwhile.
    UniqueFileHandle file(CreateFileA(temporary.Path().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
    {
        outcome.verdict = DownloadVerdict::NoTemporaryFile;
        return outcome;
    }

    // The time limit counts from just before the transfer starts.
    CDownloadStatus status(progress);
    status.LimitTo(expected.size);
    status.ArmDeadline();
    const TransferOutcome transfer = TransferToFile(url, file.get(), status);
    file.reset();
    outcome.transferResult = transfer.result;
    outcome.httpStatus = status.HttpStatus();
    outcome.bytesNotified = status.BytesNotified();
    outcome.announcedTotal = status.AnnouncedTotal();
    outcome.bytesReceived = transfer.bytesWritten;
    outcome.writeFailed = transfer.writeFailed;
    outcome.timeLimitReached = status.TimeLimitReached();
    outcome.abandoned = transfer.abandoned;
    // The platform keeps a second copy of the package in its internet cache; nothing
    // but the chosen folder is to hold it.
    ForgetCachedCopy(url);
    // A body the platform took in whole before it notified again may have run past the
    // limit unseen; what was written tells.
    const int64_t written = FileSize(temporary.Path());
    if (status.Oversized() || (outcome.transferResult == S_OK && written > 0 &&
                               static_cast<uint64_t>(written) > DownloadByteLimit(expected.size)))
    {
        outcome.verdict = DownloadVerdict::Oversized;
        return outcome;
    }
    if (outcome.transferResult != S_OK)
    {
        outcome.verdict = DownloadVerdict::TransferFailed;
        return outcome;
    }
    // An error page is no package, whatever the call returned. A response the platform
    // did not report (a copy a proxy's cache handed over, say) has no status to judge:
    // its bytes are held against the manifest below.
    if (outcome.httpStatus != 0 && !IsSuccessStatus(outcome.httpStatus))
    {
        outcome.verdict = DownloadVerdict::HttpError;
        return outcome;
    }
    if (!WholeBodyArrived(status, written))
    {
        outcome.verdict = DownloadVerdict::ShortBody;
        return outcome;
    }
    // What is moved onto the package path is what was hashed; on systems that must move
    // it by name, it is checked again where it arrived.
    const PlacementVerdict placement = PlaceCheckedPackage(temporary.Path(), target, expected);
    if (placement == PlacementVerdict::NotThePackage)
    {
        outcome.verdict = DownloadVerdict::NotVerified;
        return outcome;
    }
    if (placement == PlacementVerdict::NotMoved)
    {
        outcome.verdict = DownloadVerdict::NotMoved;
        return outcome;
    }
    temporary.Keep();
    outcome.verdict = DownloadVerdict::Complete;
    return outcome;
}
