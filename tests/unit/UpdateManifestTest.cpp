#include "UpdateManifest.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
const std::string kSha(64, 'a');
const std::string kOtherSha = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
// "AAEC" decodes to 00 01 02.
const std::string kSignature = "signature AAEC";

struct ManifestRow
{
    const char* edge;
    std::string file;
    ManifestStatus status;
    size_t packages = 0;
};

const ManifestRow kManifestRows[] = {
    {"LF lines", "3.0.1.3\npackage Q.exe 5 " + kSha + "\n" + kSignature + "\n", ManifestStatus::Valid, 1},
    {"CRLF lines", "3.0.1.3\r\npackage Q.exe 5 " + kSha + "\r\n" + kSignature + "\r\n", ManifestStatus::Valid,
     1},
    {"no line end after the signature", "3.0.1.3\n" + kSignature, ManifestStatus::Valid, 0},
    {"name with spaces, two packages",
     "3.0.1.3\npackage Q Setup.exe 5 " + kSha + "\npackage Q-de.exe 6 " + kOtherSha + "\n" + kSignature +
         "\n",
     ManifestStatus::Valid, 2},
    {"unknown lines are kept", "3.0.1.3\nnotes: fixes\n\npackagex y\n" + kSignature + "\n",
     ManifestStatus::Valid, 0},
    {"empty file", "", ManifestStatus::NoVersionLine},
    {"signature as the first line", kSignature + "\n", ManifestStatus::NoVersionLine},
    {"no signature", "3.0.1.3\npackage Q.exe 5 " + kSha + "\n", ManifestStatus::NoSignature},
    {"signature word without its space", "3.0.1.3\nsignature\n", ManifestStatus::NoSignature},
    {"a blank line after the signature", "3.0.1.3\n" + kSignature + "\n\n", ManifestStatus::SignatureNotLast},
    {"two signatures", "3.0.1.3\n" + kSignature + "\n" + kSignature + "\n", ManifestStatus::SignatureNotLast},
    {"package after the signature", "3.0.1.3\n" + kSignature + "\npackage Q.exe 5 " + kSha + "\n",
     ManifestStatus::SignatureNotLast},
    {"empty signature", "3.0.1.3\nsignature \n", ManifestStatus::BadSignatureText},
    {"signature not a multiple of four", "3.0.1.3\nsignature AAE\n", ManifestStatus::BadSignatureText},
    {"space inside the signature", "3.0.1.3\nsignature AA EC\n", ManifestStatus::BadSignatureText},
    {"signature padding with leftover bits", "3.0.1.3\nsignature AAF=\n", ManifestStatus::BadSignatureText},
    {"bare CR ends no line", "3.0.1.3\n" + kSignature + "\r", ManifestStatus::BadSignatureText},
    {"upper-case hex", "3.0.1.3\npackage Q.exe 5 " + std::string(64, 'A') + "\n" + kSignature,
     ManifestStatus::BadPackageLine},
    {"63 hex digits", "3.0.1.3\npackage Q.exe 5 " + kSha.substr(1) + "\n" + kSignature,
     ManifestStatus::BadPackageLine},
    {"empty name", "3.0.1.3\npackage  5 " + kSha + "\n" + kSignature, ManifestStatus::BadPackageLine},
    {"no name at all", "3.0.1.3\npackage 5 " + kSha + "\n" + kSignature, ManifestStatus::BadPackageLine},
    {"signed size", "3.0.1.3\npackage Q.exe +5 " + kSha + "\n" + kSignature, ManifestStatus::BadPackageLine},
    {"size past 2^63 - 1", "3.0.1.3\npackage Q.exe 9223372036854775808 " + kSha + "\n" + kSignature,
     ManifestStatus::BadPackageLine},
    {"size of 2^63 - 1", "3.0.1.3\npackage Q.exe 9223372036854775807 " + kSha + "\n" + kSignature,
     ManifestStatus::Valid, 1},
    {"same name twice, other case",
     "3.0.1.3\npackage Q.exe 5 " + kSha + "\npackage q.EXE 5 " + kSha + "\n" + kSignature,
     ManifestStatus::DuplicatePackage},
    {"exactly 64 KiB",
     "3.0.1.3\n" + std::string(kMaxVersionFileBytes - 9 - kSignature.size(), 'x') + "\n" + kSignature,
     ManifestStatus::Valid},
    {"one byte past 64 KiB",
     "3.0.1.3\n" + std::string(kMaxVersionFileBytes - 8 - kSignature.size(), 'x') + "\n" + kSignature,
     ManifestStatus::TooLarge},
};
} // namespace

TEST(UpdateManifest, ReadsOnlyWellFormedManifests)
{
    for (const ManifestRow& row : kManifestRows)
    {
        UpdateManifest manifest;
        EXPECT_EQ(row.status, ParseUpdateManifest(row.file, manifest)) << row.edge;
        if (row.status == ManifestStatus::Valid)
        {
            EXPECT_EQ(row.packages, manifest.packages.size()) << row.edge;
            EXPECT_EQ(row.file.rfind("signature "), manifest.signedLength) << row.edge;
            EXPECT_EQ((std::vector<uint8_t>{0, 1, 2}), manifest.signature) << row.edge;
            EXPECT_EQ("3.0.1.3", manifest.versionLine) << row.edge;
        }
    }
}

TEST(UpdateManifest, PackagesAreFoundByNameWhateverTheCase)
{
    const std::string file = "3.0.1.3\r\npackage Quorvel Setup.exe 3145728 " + kOtherSha +
                             "\r\npackage Q-de.exe 1 " + kSha + "\r\nsignature AAEC\r\n";
    UpdateManifest manifest;
    ASSERT_EQ(ManifestStatus::Valid, ParseUpdateManifest(file, manifest));
    const ManifestPackage* setup = FindManifestPackage(manifest, "QUORVEL setup.EXE");
    ASSERT_NE(nullptr, setup);
    EXPECT_EQ("Quorvel Setup.exe", setup->name);
    EXPECT_EQ(3145728u, setup->size);
    EXPECT_EQ(0x00, setup->sha256[0]);
    EXPECT_EQ(0x11, setup->sha256[1]);
    EXPECT_EQ(0xff, setup->sha256[15]);
    EXPECT_EQ(nullptr, FindManifestPackage(manifest, "Quorvel Setup"));
    EXPECT_EQ(nullptr, FindManifestPackage(manifest, "Quorvel  Setup.exe"));
    // The signature covers the CRLF before its own line.
    EXPECT_EQ(file.find("signature"), manifest.signedLength);
    EXPECT_EQ("\r\n", file.substr(manifest.signedLength - 2, 2));
}
