#include "SignedRelease.h"

#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "TestFiles.h"
#include "TestServer.h"
#include "UpdateHost.h"

namespace testserver
{
namespace
{

std::string JsonText(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text)
    {
        if (c == '"' || c == '\\')
        {
            quoted += '\\';
            quoted += c;
        }
        else if (static_cast<unsigned char>(c) < 0x20)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            quoted += escaped;
        }
        else
        {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string JsonList(const std::vector<std::string>& texts)
{
    std::string list = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        list += (i == 0 ? "" : ", ") + JsonText(texts[i]);
    return list + "]";
}

// Posts `body` to the local server's `path` directly (no proxy); the answer's body, and
// its status in `status` (0 when the server could not be asked).
std::string PostToServer(const std::string& path, const std::string& body, DWORD& status)
{
    status = 0;
    std::string answer;
    HINTERNET session = InternetOpenA("SeekwellTests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection =
        session != nullptr
            ? InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(std::stoi(Port())), nullptr,
                               nullptr, INTERNET_SERVICE_HTTP, 0, 0)
            : nullptr;
    HINTERNET request = connection != nullptr
                            ? HttpOpenRequestA(connection, "POST", path.c_str(), nullptr, nullptr, nullptr,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                            : nullptr;
    const char headers[] = "Content-Type: application/json\r\n";
    if (request != nullptr &&
        HttpSendRequestA(request, headers, static_cast<DWORD>(sizeof headers - 1),
                         const_cast<char*>(body.data()), static_cast<DWORD>(body.size())))
    {
        DWORD size = sizeof status;
        (void)HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                             nullptr);
        char chunk[4096];
        DWORD read = 0;
        while (InternetReadFile(request, chunk, sizeof chunk, &read) && read > 0)
            answer.append(chunk, read);
    }
    for (HINTERNET handle : {request, connection, session})
        if (handle != nullptr)
            InternetCloseHandle(handle);
    return answer;
}

const char* KeyName(SigningKey key, const char* vendor)
{
    switch (key)
    {
    case SigningKey::Vendor:
        return vendor;
    case SigningKey::Other:
        return "other";
    case SigningKey::FreshnessOnly:
        break;
    }
    return "freshness";
}

const char* FormName(VersionFileForm form)
{
    switch (form)
    {
    case VersionFileForm::TwoPart:
        break;
    case VersionFileForm::FreshnessAlteredAfterSigning:
        return "freshness-altered";
    case VersionFileForm::ExpiryInReleasePart:
        return "expires-in-release-part";
    case VersionFileForm::SingleSignature:
        return "single-signature";
    case VersionFileForm::NoReleaseExpiry:
        return "no-release-expiry";
    case VersionFileForm::FreshnessBeyondRelease:
        return "freshness-beyond-release";
    }
    return "two-part";
}

} // namespace

std::string PublishVersionFile(const VersionFileRequest& file)
{
    std::string request =
        "{\"folder\": \"store/" SEEKWELL_UPDATE_TOKEN "/Quorvel30\", \"version\": " + JsonText(file.version) +
        ", \"key\": \"" + KeyName(file.releaseKey, "dev") + "\", \"freshness_key\": \"" +
        KeyName(file.freshnessKey, "freshness") +
        "\", \"expires_in_seconds\": " + std::to_string(file.expiresInSeconds) +
        ", \"release_expires_in_seconds\": " + std::to_string(file.releaseExpiresInSeconds) +
        ", \"product\": " + JsonText(file.product) + ", \"form\": \"" + FormName(file.form) +
        "\", \"extra_lines\": " + JsonList(file.extraLines);
    if (!file.packages.empty())
        request += ", \"packages\": " + JsonList(file.packages);
    request += "}";
    DWORD status = 0;
    const std::string answer = PostToServer("/__control/stage", request, status);
    if (status != 200)
    {
        ADD_FAILURE() << "the update server did not stage " << file.version << " (status " << status
                      << "): " << answer;
        return std::string();
    }
    return answer;
}

std::string PublishSignedVersion(const std::string& version, SigningKey key,
                                 const std::vector<std::string>& extraLines,
                                 const std::vector<std::string>& packages)
{
    VersionFileRequest request;
    request.version = version;
    request.releaseKey = key;
    request.freshnessKey = key == SigningKey::Other ? SigningKey::Other : SigningKey::Vendor;
    request.extraLines = extraLines;
    request.packages = packages;
    return PublishVersionFile(request);
}

// The build's development public key, which the updater of this build holds.
std::vector<uint8_t> DevelopmentPublicKey(const std::string& buildDirectory)
{
    const std::string bytes = testfiles::ReadFileBytes(buildDirectory + "signing\\dev-public.der");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
} // namespace testserver
