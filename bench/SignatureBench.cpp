// The version file's check, measured from inside: the parse and one RSA verification
// (a file with one signature) against the parse and two (a file with a release and a
// freshness signature), with the updater's own parser and CryptoAPI verification.
//   cold one|two FILE SIGNED_LENGTH SIGNATURE_HEX  the first check of a fresh process, as
//                             the updater makes it once per run (the platform's libraries
//                             and provider are loaded by it)
//   warm FILE SIGNED_LENGTH SIGNATURE_HEX CALLS   both kinds again and again in one process,
//                             in mirrored order, per check; and the parts of one
//                             verification with the same CryptoAPI calls: the parse, the
//                             provider, the key's import, the hash, the RSA step
// The signature is verified with the build's development key (the updater's own key
// resources, linked in). A second signature costs what the first does whatever bytes it
// covers, so the two-signature check verifies the same signature twice.
#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Crypto.h"
#include "UpdateInfo.h"
#include "UpdateManifest.h"

namespace
{
std::vector<uint8_t> FromHex(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

struct Check
{
    std::string file;
    size_t signedLength = 0;
    std::vector<uint8_t> signature;
    SigningKeys keys;
};

// The parse and `signatures` verifications; true when every one held.
bool RunCheck(const Check& check, int signatures)
{
    UpdateManifest manifest;
    (void)ParseUpdateManifest(check.file, manifest);
    bool verified = !check.keys.empty();
    for (int i = 0; i < signatures && verified; ++i)
        verified = VerifyRsaSha256Signature(check.keys.front(), check.file.data(), check.signedLength,
                                            check.signature);
    return verified;
}

// Milliseconds per call of each part of a verification, `calls` times over.
void TimeParts(const Check& check, int calls)
{
    double parse = 0, provider = 0, import = 0, hash = 0, verify = 0;
    std::vector<uint8_t> littleEndian(check.signature.rbegin(), check.signature.rend());
    for (int call = 0; call < calls; ++call)
    {
        int64_t start = bench::Ticks();
        UpdateManifest manifest;
        (void)ParseUpdateManifest(check.file, manifest);
        parse += bench::MsSince(start);

        start = bench::Ticks();
        HCRYPTPROV context = 0;
        (void)CryptAcquireContextA(&context, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
        provider += bench::MsSince(start);

        start = bench::Ticks();
        CERT_PUBLIC_KEY_INFO* info = nullptr;
        DWORD infoSize = 0;
        HCRYPTKEY key = 0;
        if (CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, check.keys.front().data(),
                                static_cast<DWORD>(check.keys.front().size()), CRYPT_DECODE_ALLOC_FLAG,
                                nullptr, &info, &infoSize))
        {
            (void)CryptImportPublicKeyInfo(context, X509_ASN_ENCODING, info, &key);
            LocalFree(info);
        }
        import += bench::MsSince(start);

        start = bench::Ticks();
        HCRYPTHASH digest = 0;
        (void)CryptCreateHash(context, CALG_SHA_256, 0, 0, &digest);
        (void)CryptHashData(digest, reinterpret_cast<const BYTE*>(check.file.data()),
                            static_cast<DWORD>(check.signedLength), 0);
        hash += bench::MsSince(start);

        start = bench::Ticks();
        (void)CryptVerifySignatureA(digest, littleEndian.data(), static_cast<DWORD>(littleEndian.size()), key,
                                    nullptr, 0);
        verify += bench::MsSince(start);
        CryptDestroyHash(digest);
        CryptDestroyKey(key);
        CryptReleaseContext(context, 0);
    }
    bench::Result("signature.parts", "parse_ms", parse / calls);
    bench::Result("signature.parts", "provider_ms", provider / calls);
    bench::Result("signature.parts", "import_ms", import / calls);
    bench::Result("signature.parts", "hash_ms", hash / calls);
    bench::Result("signature.parts", "verify_ms", verify / calls);
}

bool Load(char** argv, Check& check)
{
    std::ifstream in(argv[0], std::ios::binary);
    check.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    check.signedLength = std::strtoul(argv[1], nullptr, 10);
    check.signature = FromHex(argv[2]);
    check.keys = LoadSigningKeys(GetModuleHandleA(nullptr));
    return !check.file.empty() && check.signedLength <= check.file.size();
}
} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    Check check;
    if (mode == "cold" && argc == 6 && Load(argv + 3, check))
    {
        const int signatures = std::string(argv[2]) == "two" ? 2 : 1;
        const int64_t start = bench::Ticks();
        const bool ok = RunCheck(check, signatures);
        const std::string group = std::string("signature.cold.") + argv[2];
        bench::Result(group, "wall_ms", bench::MsSince(start));
        bench::Result(group, "ok", ok ? 1 : 0);
        return ok ? 0 : 1;
    }
    if (mode == "warm" && argc == 6 && Load(argv + 2, check))
    {
        const int calls = std::atoi(argv[5]);
        // One check first, so that loading the platform's libraries is in neither side.
        bool ok = RunCheck(check, 1);
        double ms[3] = {};
        for (int round = 0; round < 2; ++round)
        {
            for (int signatures : {1, 2, 2, 1})
            {
                const int64_t start = bench::Ticks();
                for (int call = 0; call < calls; ++call)
                    ok = RunCheck(check, signatures) && ok;
                ms[signatures] += bench::MsSince(start);
            }
        }
        bench::Result("signature.warm", "one_ms", ms[1] / (4.0 * calls));
        bench::Result("signature.warm", "two_ms", ms[2] / (4.0 * calls));
        bench::Result("signature.warm", "ok", ok ? 1 : 0);
        TimeParts(check, calls);
        return ok ? 0 : 1;
    }
    bench::Note(
        "usage: bench_signature cold one|two FILE SIGNED_LENGTH SIGNATURE_HEX | warm FILE SIGNED_LENGTH "
        "SIGNATURE_HEX CALLS");
    return 2;
}
