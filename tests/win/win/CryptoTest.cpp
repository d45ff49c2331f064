// SHA-256 and RSA signature checks against the platform's provider, with keys and
// signatures made by the openssl command at build time.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Crypto.h"
#include "TestFiles.h"

namespace
{
std::string Hex(const Sha256Digest& digest)
{
    std::string text;
    char pair[3];
    for (uint8_t byte : digest)
    {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string DigestOf(const std::vector<std::string>& pieces)
{
    CSha256 sha;
    EXPECT_TRUE(sha.Ready());
    for (const std::string& piece : pieces)
        EXPECT_TRUE(sha.Update(piece.data(), piece.size()));
    Sha256Digest digest{};
    EXPECT_TRUE(sha.Finish(digest));
    return Hex(digest);
}

std::vector<uint8_t> Fixture(const std::string& name)
{
    const std::string bytes = testfiles::ReadFileBytes("fixtures\\signing\\" + name);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
} // namespace

TEST(Sha256, KnownDigestsWholeAndInPieces)
{
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", DigestOf({}));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", DigestOf({"abc"}));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", DigestOf({"a", "", "bc"}));
    const std::string million(1000000, 'a');
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", DigestOf({million}));
    EXPECT_EQ(DigestOf({million}), DigestOf({million.substr(0, 65536), million.substr(65536)}));
}

TEST(Sha256, FinishedDigestTakesNoMoreData)
{
    CSha256 sha;
    Sha256Digest digest{};
    ASSERT_TRUE(sha.Finish(digest));
    EXPECT_FALSE(sha.Update("x", 1));
    EXPECT_FALSE(sha.Finish(digest));
}

TEST(RsaSignature, OnlyTheVendorsKeyOfEnoughBitsVerifiesTheSignedBytes)
{
    const std::string message = testfiles::ReadFileBytes("fixtures\\signing\\message.txt");
    ASSERT_FALSE(message.empty());
    std::vector<uint8_t> flipped = Fixture("vendor.sig");
    ASSERT_FALSE(flipped.empty());
    flipped[flipped.size() / 2] ^= 0x01;
    const std::string changed = "4" + message.substr(1);
    struct Row
    {
        const char* edge;
        std::string key;
        std::vector<uint8_t> signature;
        std::string data;
        bool valid;
    };
    const Row rows[] = {
        {"vendor key, its signature", "vendor.der", Fixture("vendor.sig"), message, true},
        {"4096-bit key", "long.der", Fixture("long.sig"), message, true},
        {"one flipped signature bit", "vendor.der", flipped, message, false},
        {"data changed after signing", "vendor.der", Fixture("vendor.sig"), changed, false},
        {"data cut by one byte", "vendor.der", Fixture("vendor.sig"), message.substr(1), false},
        {"signed by another key", "vendor.der", Fixture("other.sig"), message, false},
        {"2048-bit key, valid signature", "short.der", Fixture("short.sig"), message, false},
        {"no signature", "vendor.der", {}, message, false},
        {"signature of another key's length", "vendor.der", Fixture("long.sig"), message, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.valid,
                  VerifyRsaSha256Signature(Fixture(row.key), row.data.data(), row.data.size(), row.signature))
            << row.edge;
}

TEST(RsaSignature, KeysThatAreNoKeysVerifyNothing)
{
    const std::string message = testfiles::ReadFileBytes("fixtures\\signing\\message.txt");
    std::vector<uint8_t> cut = Fixture("vendor.der");
    cut.resize(cut.size() / 2);
    for (const std::vector<uint8_t>& key : {std::vector<uint8_t>{}, cut, std::vector<uint8_t>(400, 0x30)})
        EXPECT_FALSE(VerifyRsaSha256Signature(key, message.data(), message.size(), Fixture("vendor.sig")));
}
