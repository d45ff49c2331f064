#include "UpdateManifest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace
{
// The verdicts by the names the shared vectors give them.
const std::pair<const char*, ManifestStatus> kVerdictNames[] = {
    {"Valid", ManifestStatus::Valid},
    {"TooLarge", ManifestStatus::TooLarge},
    {"NoVersionLine", ManifestStatus::NoVersionLine},
    {"NoProduct", ManifestStatus::NoProduct},
    {"DuplicateProduct", ManifestStatus::DuplicateProduct},
    {"BadProductLine", ManifestStatus::BadProductLine},
    {"BadPackageLine", ManifestStatus::BadPackageLine},
    {"DuplicatePackage", ManifestStatus::DuplicatePackage},
    {"BadPackageSize", ManifestStatus::BadPackageSize},
    {"NoReleaseSignature", ManifestStatus::NoReleaseSignature},
    {"DuplicateReleaseSignature", ManifestStatus::DuplicateReleaseSignature},
    {"BadReleaseSignatureText", ManifestStatus::BadReleaseSignatureText},
    {"MisplacedLine", ManifestStatus::MisplacedLine},
    {"NoReleaseExpiry", ManifestStatus::NoReleaseExpiry},
    {"DuplicateReleaseExpiry", ManifestStatus::DuplicateReleaseExpiry},
    {"BadReleaseExpiry", ManifestStatus::BadReleaseExpiry},
    {"NoExpiry", ManifestStatus::NoExpiry},
    {"DuplicateExpiry", ManifestStatus::DuplicateExpiry},
    {"BadExpiry", ManifestStatus::BadExpiry},
    {"FreshnessBeyondRelease", ManifestStatus::FreshnessBeyondRelease},
    {"NoSignature", ManifestStatus::NoSignature},
    {"SignatureNotLast", ManifestStatus::SignatureNotLast},
    {"BadSignatureText", ManifestStatus::BadSignatureText},
};

std::string VerdictName(ManifestStatus status)
{
    for (const auto& [name, value] : kVerdictNames)
    {
        if (value == status)
            return name;
    }
    return "(unnamed " + std::to_string(static_cast<int>(status)) + ")";
}

bool VerdictByName(const std::string& name, ManifestStatus& status)
{
    for (const auto& [known, value] : kVerdictNames)
    {
        if (name == known)
        {
            status = value;
            return true;
        }
    }
    return false;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes a vector's <file> field stands for: \n \r \t \\ \xHH and the placeholders
// {SHA}, {SHA2} and {SIG}. False on an escape or placeholder the header does not name.
bool DecodeVectorText(const std::string& text, std::string& bytes)
{
    static const std::pair<std::string, std::string> kPlaceholders[] = {
        {"{SHA}", std::string(64, 'a')},
        {"{SHA2}", "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
        {"{SIG}", "AAEC"},
    };
    bytes.clear();
    for (size_t i = 0; i < text.size();)
    {
        if (text[i] == '{')
        {
            bool known = false;
            for (const auto& [name, value] : kPlaceholders)
            {
                if (text.compare(i, name.size(), name) == 0)
                {
                    bytes += value;
                    i += name.size();
                    known = true;
                    break;
                }
            }
            if (!known)
                return false;
            continue;
        }
        if (text[i] != '\\')
        {
            bytes += text[i++];
            continue;
        }
        if (i + 1 >= text.size())
            return false;
        const char escape = text[i + 1];
        i += 2;
        if (escape == 'n')
            bytes += '\n';
        else if (escape == 'r')
            bytes += '\r';
        else if (escape == 't')
            bytes += '\t';
        else if (escape == '\\')
            bytes += '\\';
        else if (escape == 'x' && i + 2 <= text.size() && HexDigit(text[i]) >= 0 &&
                 HexDigit(text[i + 1]) >= 0)
        {
            bytes += static_cast<char>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1]));
            i += 2;
        }
        else
            return false;
    }
    return true;
}

struct VectorRow
{
    int lineNumber = 0;
    std::string verdictName;
    std::string edge;
    std::string file;
    std::string holds; // "product=... release-expires=... expires=... packages=..." for a valid file
};

std::vector<std::string> SplitAtTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start))
    {
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

// Every row of the shared vectors; a row that cannot be read fails the test.
std::vector<VectorRow> ReadVectors()
{
    std::vector<VectorRow> rows;
    std::ifstream in(SEEKWELL_MANIFEST_VECTORS, std::ios::binary);
    if (!in)
    {
        ADD_FAILURE() << "cannot open " << SEEKWELL_MANIFEST_VECTORS;
        return rows;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
    {
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> fields = SplitAtTabs(line);
        VectorRow row;
        row.lineNumber = number;
        if (fields.size() < 3 || fields.size() > 4 || !DecodeVectorText(fields[2], row.file))
        {
            ADD_FAILURE() << "line " << number << " of the vectors is not a row: " << line;
            continue;
        }
        row.verdictName = fields[0];
        row.edge = fields[1];
        if (fields.size() == 4)
            row.holds = fields[3];
        rows.push_back(row);
    }
    return rows;
}

std::string Describe(const VectorRow& row)
{
    return "line " + std::to_string(row.lineNumber) + ": " + row.edge;
}

// Parses a copy of `file` that ends where the heap block ends, so that a read past the
// view's end is caught by the address sanitizer.
ManifestStatus ParseExactCopy(const std::string& file, UpdateManifest& manifest)
{
    const auto copy = std::make_unique<char[]>(file.size());
    std::memcpy(copy.get(), file.data(), file.size());
    return ParseUpdateManifest(std::string_view(copy.get(), file.size()), manifest);
}

const std::vector<uint8_t> kSigBytes = {0, 1, 2};
} // namespace

TEST(UpdateManifest, VectorTextStandsForItsBytes)
{
    std::string bytes;
    ASSERT_TRUE(DecodeVectorText("a\\n\\r\\t\\\\\\x00\\xfF{SIG}{SHA}|{SHA2}", bytes));
    EXPECT_EQ(std::string("a\n\r\t\\\0\xff", 7) + "AAEC" + std::string(64, 'a') + "|" +
                  "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
              bytes);
    for (const char* bad : {"\\", "\\q", "\\x4", "\\xg0", "{SHA3}", "{"})
        EXPECT_FALSE(DecodeVectorText(bad, bytes)) << bad;
}

// The shared vectors: the vendor's tool reaches the same verdict on each.
TEST(UpdateManifest, ReachesTheSharedVerdictOnEveryVector)
{
    const std::vector<VectorRow> rows = ReadVectors();
    ASSERT_GE(rows.size(), 50u) << "the vectors file lost rows";
    for (const VectorRow& row : rows)
    {
        ManifestStatus expected = ManifestStatus::Valid;
        if (!VerdictByName(row.verdictName, expected))
        {
            ADD_FAILURE() << Describe(row) << ": unknown verdict " << row.verdictName;
            continue;
        }
        UpdateManifest manifest;
        const ManifestStatus status = ParseExactCopy(row.file, manifest);
        EXPECT_EQ(row.verdictName, VerdictName(status)) << Describe(row);
        // A file whose only fault is a freshness part that outlives its release part has
        // been read whole: the updater still tells its dates.
        if (status != expected ||
            (expected != ManifestStatus::Valid && expected != ManifestStatus::FreshnessBeyondRelease))
            continue;
        const std::string holds = "product=" + manifest.product +
                                  " release-expires=" + std::to_string(manifest.releaseExpires) +
                                  " expires=" + std::to_string(manifest.expires) +
                                  " packages=" + std::to_string(manifest.packages.size());
        EXPECT_EQ(row.holds, holds) << Describe(row);
        EXPECT_EQ("3.0.1.3", manifest.versionLine) << Describe(row);
        EXPECT_EQ(kSigBytes, manifest.releaseSignature) << Describe(row);
        EXPECT_EQ(kSigBytes, manifest.signature) << Describe(row);
    }
}

TEST(UpdateManifest, EveryVerdictHasAVector)
{
    const std::vector<VectorRow> rows = ReadVectors();
    for (const auto& [name, status] : kVerdictNames)
    {
        bool found = false;
        for (const VectorRow& row : rows)
            found = found || row.verdictName == name;
        EXPECT_TRUE(found || status == ManifestStatus::TooLarge) << name;
    }
}

namespace
{
const std::string kSha(64, 'a');
const std::string kOtherSha = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const std::string kReleaseExpiry = "release-expires 2027-12-23T00:00:00Z\n";
const std::string kFreshness = "release-signature AAEC\nexpires 2026-12-23T00:00:00Z\nsignature AAEC";

// A valid file of exactly `size` bytes: the version, the product, notes that fill it.
std::string FileOfSize(size_t size)
{
    const std::string head = "3.0.1.3\nproduct Quorvel30\nnotes ";
    return head + std::string(size - head.size() - 1 - kReleaseExpiry.size() - kFreshness.size(), 'x') +
           "\n" + kReleaseExpiry + kFreshness;
}

struct SpanRow
{
    const char* edge;
    std::string file;
    ManifestStatus status;
    size_t releaseSignedLength;
    size_t signedLength;
    std::vector<uint8_t> releaseSignature;
    std::vector<uint8_t> signature;
};

const SpanRow kSpanRows[] = {
    {"exactly 64 KiB", FileOfSize(kMaxVersionFileBytes), ManifestStatus::Valid,
     kMaxVersionFileBytes - kFreshness.size(), kMaxVersionFileBytes - 14, kSigBytes, kSigBytes},
    {"one byte past 64 KiB", FileOfSize(kMaxVersionFileBytes + 1), ManifestStatus::TooLarge, 0, 0, {}, {}},
    // 9 + 19 + 38 bytes before the release signature; its line (28) and the expiry (30)
    // after.
    {"CRLF lines: both parts end with their CRLF",
     "3.0.1.3\r\nproduct Quorvel30\r\nrelease-expires 2027-12-23T00:00:00Z\r\nrelease-signature AAECAw==\r\n"
     "expires 2026-12-23T00:00:00Z\r\nsignature AQIDBAU=\r\n",
     ManifestStatus::Valid, 66, 124, std::vector<uint8_t>{0, 1, 2, 3}, std::vector<uint8_t>{1, 2, 3, 4, 5}},
    {"other lines in both parts are signed",
     "3.0.1.3\nnotes a\nproduct P\nrelease-expires 2027-12-23T00:00:00Z\nrelease-signature AQID\nserial 7\n"
     "expires 2026-12-23T00:00:00Z\nsignature //79\n",
     ManifestStatus::Valid, 63, 124, std::vector<uint8_t>{1, 2, 3}, std::vector<uint8_t>{0xff, 0xfe, 0xfd}},
};
} // namespace

TEST(UpdateManifest, EachSignatureCoversItsSpanAndDecodes)
{
    for (const SpanRow& row : kSpanRows)
    {
        UpdateManifest manifest;
        ASSERT_EQ(VerdictName(row.status), VerdictName(ParseExactCopy(row.file, manifest))) << row.edge;
        if (row.status != ManifestStatus::Valid)
            continue;
        EXPECT_EQ(row.releaseSignedLength, manifest.releaseSignedLength) << row.edge;
        EXPECT_EQ(row.signedLength, manifest.signedLength) << row.edge;
        EXPECT_EQ(row.releaseSignature, manifest.releaseSignature) << row.edge;
        EXPECT_EQ(row.signature, manifest.signature) << row.edge;
    }
}

// What lies past the view's end is not the file's: a file cut anywhere before its last
// line end is never read as whole, and bytes after the view change nothing.
TEST(UpdateManifest, ReadsOnlyTheView)
{
    const std::string whole = "3.0.1.3\r\nproduct Quorvel30\r\npackage Q.exe 5 " + kSha +
                              "\r\nrelease-expires 2027-12-23T00:00:00Z\r\nrelease-signature AAEC\r\nexpires "
                              "2026-12-23T00:00:00Z\r\n"
                              "signature AAEC\r\n";
    UpdateManifest manifest;
    const size_t withoutLineEnd = whole.size() - 2;
    for (size_t cut = 0; cut < withoutLineEnd; ++cut)
        EXPECT_NE(ManifestStatus::Valid, ParseExactCopy(whole.substr(0, cut), manifest)) << cut << " bytes";
    EXPECT_EQ(ManifestStatus::Valid, ParseExactCopy(whole.substr(0, withoutLineEnd), manifest));
    EXPECT_EQ(ManifestStatus::BadSignatureText, ParseExactCopy(whole.substr(0, withoutLineEnd + 1), manifest))
        << "the CR of a line end cut short";
    ASSERT_EQ(ManifestStatus::Valid, ParseExactCopy(whole, manifest));

    const std::string followed = whole + "signature AAEC\n";
    EXPECT_EQ(ManifestStatus::Valid,
              ParseUpdateManifest(std::string_view(followed).substr(0, whole.size()), manifest));
    const std::string cutBeforeSignature = whole.substr(0, whole.rfind("signature"));
    EXPECT_EQ(ManifestStatus::NoSignature,
              ParseUpdateManifest(std::string_view(whole).substr(0, cutBeforeSignature.size()), manifest));
}

TEST(UpdateManifest, PackagesAreFoundByNameWhateverTheCase)
{
    const std::string file = "3.0.1.3\r\nproduct Quorvel30\r\npackage Quorvel Setup.exe 3145728 " +
                             kOtherSha + "\r\npackage Q-de.exe 1 " + kSha +
                             "\r\nrelease-expires 2027-12-23T00:00:00Z\r\nrelease-signature AAEC\r\nexpires "
                             "2026-12-23T00:00:00Z\r\n"
                             "signature AAEC\r\n";
    UpdateManifest manifest;
    ASSERT_EQ(ManifestStatus::Valid, ParseUpdateManifest(file, manifest));
    EXPECT_EQ("Quorvel30", manifest.product);
    const ManifestPackage* setup = FindManifestPackage(manifest, "QUORVEL setup.EXE");
    ASSERT_NE(nullptr, setup);
    EXPECT_EQ("Quorvel Setup.exe", setup->name);
    EXPECT_EQ(3145728u, setup->size);
    EXPECT_EQ(0x00, setup->sha256[0]);
    EXPECT_EQ(0x11, setup->sha256[1]);
    EXPECT_EQ(0xff, setup->sha256[15]);
    EXPECT_EQ(nullptr, FindManifestPackage(manifest, "Quorvel Setup"));
    EXPECT_EQ(nullptr, FindManifestPackage(manifest, "Quorvel  Setup.exe"));
}
