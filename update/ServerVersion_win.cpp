#include "ServerVersion.h"

#include <algorithm>
#include <string>

#include "Crypto.h"
#include "DownloadMath.h"
#include "SystemClock.h"
#include "UpdateInfo.h"
#include "UpdateHost.h"
#include "VersionFileFetch.h"
#include "VersionQuad.h"

namespace
{
constexpr const char* kVersionFileName = "/version.txt";
// "M.m.b.r": the characters of the version file that make the version.
constexpr size_t kVersionTextLength = 7;
} // namespace

std::string VersionFileUrl(const std::string& productCode)
{
    return SEEKWELL_UPDATE_BASE_URL + productCode + kVersionFileName;
}

ServerAnswer FetchServerVersion(const std::string& productCode, const std::string& packageName,
                                const UpdateKeys& keys, VersionQuad& server, ManifestPackage& expected,
                                VersionFileFetch* report)
{
    server.major = 0;
    server.minor = 0;
    server.build = 0;
    server.revision = 0;
    if (!CanCheckSignatures())
        return ServerAnswer::CannotVerifyOnThisSystem;
    VersionFileFetch ownFetch;
    VersionFileFetch& fetch = report != nullptr ? *report : ownFetch;
    if (!FetchVersionFile(VersionFileUrl(productCode), kVersionFileDeadlineMs, fetch) ||
        !LooksLikeVersionFile(fetch.body.data(), fetch.body.size()))
        return ServerAnswer::Unreachable;
    const std::string& body = fetch.body;
    // Even "you are up to date" is believed only from the vendor, and only while fresh.
    const UpdateInfoVerdict verdict =
        VerifyUpdateInfo(body, productCode, packageName, keys, SystemClockSeconds(), expected);
    if (verdict == UpdateInfoVerdict::Expired)
        return ServerAnswer::Expired;
    if (verdict != UpdateInfoVerdict::Believed)
        return ServerAnswer::Unverified;
    server = ParseVersionText(body.data(), std::min(body.size(), kVersionTextLength));
    return ServerAnswer::Verified;
}
