#include "CRVCipher/CRVChecksum.h"
#include "CRVCipher/CRVCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Hex(const std::string& hex) {
    TBytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TBytes Pattern(std::size_t n, unsigned seed = 7) {
    TBytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>((i * 31 + seed) ^ (i >> 3));
    return b;
}

const TCRVCryptoAlgorithm KAll[] = {craRijndael_128, craRijndael_256, craDES_Single,  craDES_Triple,
                                    craBlowfish,     craTwofish_128,  craTwofish_256, craSquare};

TEST(CRVChecksum, EngineCrcHasNoInversions) {
    EXPECT_EQ(CRC32(0, "abc", 3), 0xCA6598D0u);
    EXPECT_EQ(CRC32(0, "", 0), 0u);
    EXPECT_EQ(CRC32(0x1234, nullptr, 10), 0x1234u);
    // Seeding with the CRC of a prefix continues over the rest.
    const TBytes data = Pattern(1000);
    EXPECT_EQ(CRC32(CRC32(0, data.data(), 400), data.data() + 400, 600), CRC32(0, data.data(), data.size()));
}

// Published known-answer vectors prove the wiring of each block cipher.
TEST(CRVCipher, KnownAnswerVectors) {
    struct TCase {
        TCRVCryptoAlgorithm Alg;
        const char *Key, *Plain, *Cipher;
    };
    const TCase cases[] = {
        {craRijndael_128, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {craRijndael_256, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
        {craDES_Single, "133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        {craBlowfish, "0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {craBlowfish, "FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {craTwofish_128, "00000000000000000000000000000000", "00000000000000000000000000000000",
         "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
        {craTwofish_256, "0000000000000000000000000000000000000000000000000000000000000000",
         "00000000000000000000000000000000", "57FF739D4DC92C1BD7FC01700CC8216F"},
        {craSquare, "000102030405060708090A0B0C0D0E0F", "000102030405060708090A0B0C0D0E0F",
         "7C3491D94994E70F0EC2E7A5CCB5A14F"},
    };
    for (const auto& c : cases) {
        const auto cipher = CRVCreateBlockCipher(c.Alg, Hex(c.Key));
        const TBytes plain = Hex(c.Plain);
        TBytes out(plain.size()), back(plain.size());
        cipher->EncryptBlock(plain.data(), out.data());
        EXPECT_EQ(out, Hex(c.Cipher)) << CryptoAlgorithmNames[c.Alg];
        cipher->DecryptBlock(out.data(), back.data());
        EXPECT_EQ(back, plain) << CryptoAlgorithmNames[c.Alg];
    }
}

// The 24-byte triple DES: three DES stages (encrypt k1, decrypt k2, encrypt k3) over three
// 8-byte blocks, words 1 and 2 exchanged between stages.
TEST(CRVCipher, TripleDesOverTwentyFourByteBlocks) {
    const TBytes key = Hex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
    const TBytes plain = Pattern(24);
    const auto triple = CRVCreateBlockCipher(craDES_Triple, key);
    ASSERT_EQ(triple->BlockSize(), 24u);
    TBytes expected = plain;
    auto stage = [&](std::size_t keyOffset, bool encrypt) {
        const auto des = CRVCreateBlockCipher(craDES_Single, std::span(key).subspan(keyOffset, 8));
        for (int i = 0; i < 3; ++i) {
            std::uint8_t* b = expected.data() + 8 * i;
            encrypt ? des->EncryptBlock(b, b) : des->DecryptBlock(b, b);
        }
    };
    auto swapWords = [&] {
        std::swap_ranges(expected.begin() + 4, expected.begin() + 8, expected.begin() + 8);
    };
    stage(0, true);
    swapWords();
    stage(8, false);
    swapWords();
    stage(16, true);
    TBytes out(24), back(24);
    triple->EncryptBlock(plain.data(), out.data());
    EXPECT_EQ(out, expected);
    triple->DecryptBlock(out.data(), back.data());
    EXPECT_EQ(back, plain);
}

TEST(CRVCipher, KeysComeFromRipemdOfThePassword) {
    const TBytes r128 = Hex("c14a12199c66e4ba84636b0f69144c77");
    const TBytes r256 = Hex("afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65");
    EXPECT_EQ(CRVDeriveKey(craRijndael_128, "abc"), r128);
    EXPECT_EQ(CRVDeriveKey(craRijndael_256, "abc"), r256);
    EXPECT_EQ(CRVDeriveKey(craBlowfish, "abc"), r256);
    EXPECT_EQ(CRVDeriveKey(craDES_Single, "abc"), TBytes(r128.begin(), r128.begin() + 8));
    TBytes tripleKey = r128;
    tripleKey.resize(24, 0);
    EXPECT_EQ(CRVDeriveKey(craDES_Triple, "abc"), tripleKey);
    EXPECT_EQ(CRVDeriveKey(craSquare, ""), Hex("cdf26213a150dc3ecb610f18f6b38b46"));
}

// The chaining mode stated block by block with the raw cipher: IV of 0xFF, C = E(P ^ F), F ^= C,
// and a final partial block XORed with E(F).
// The chaining mode block by block through the bare cipher, for every cipher (their block sizes
// are 8, 16 and 24 bytes): C(i) = E(P(i) xor F), F ^= C(i), F starting all ones; the tail is
// P xor E(F).
TEST(CRVCipher, ChainingModeWithFinalPartialBlock) {
    const std::string password = "tessora";
    for (int alg = 0; alg < KCRVCryptoAlgorithmCount; ++alg) {
        SCOPED_TRACE(CryptoAlgorithmNames[static_cast<std::size_t>(alg)]);
        const auto a = static_cast<TCRVCryptoAlgorithm>(alg);
        const auto cipher = CRVCreateBlockCipher(a, CRVDeriveKey(a, password));
        const std::size_t b = cipher->BlockSize();
        const TBytes plain = Pattern(b * 3 + 5);
        TBytes expected(plain.size());
        std::uint8_t f[32], t[32];
        std::memset(f, 0xFF, b);
        for (std::size_t blk = 0; blk < 3; ++blk) {
            for (std::size_t i = 0; i < b; ++i)
                t[i] = plain[b * blk + i] ^ f[i];
            cipher->EncryptBlock(t, &expected[b * blk]);
            for (std::size_t i = 0; i < b; ++i)
                f[i] ^= expected[b * blk + i];
        }
        cipher->EncryptBlock(f, t);
        for (std::size_t i = 0; i < 5; ++i)
            expected[3 * b + i] = plain[3 * b + i] ^ t[i];

        TBytes buf = plain;
        ASSERT_TRUE(CRVInternalEncryptBuffer(a, buf.data(), buf.size(), password));
        EXPECT_EQ(buf, expected);
        ASSERT_TRUE(CRVInternalDecryptBuffer(a, buf.data(), buf.size(), password));
        EXPECT_EQ(buf, plain);
    }
}

TEST(CRVCipher, RoundTripEveryCipherAndLength) {
    for (const auto alg : KAll) {
        for (const std::size_t len : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 23u, 24u, 25u, 4056u}) {
            const TBytes plain = Pattern(len);
            TBytes buf = plain;
            ASSERT_TRUE(CRVInternalEncryptBuffer(alg, buf.data(), buf.size(), "secret"));
            if (len >= 4) {
                EXPECT_NE(buf, plain) << CryptoAlgorithmNames[alg] << " " << len;
            }
            ASSERT_TRUE(CRVInternalDecryptBuffer(alg, buf.data(), buf.size(), "secret"));
            EXPECT_EQ(buf, plain) << CryptoAlgorithmNames[alg] << " " << len;
        }
    }
}

TEST(CRVCipher, SamePlainPagesGiveSameCipherBytesAndPasswordsMatter) {
    for (const auto alg : KAll) {
        TBytes a = Pattern(4056), b = Pattern(4056), c = Pattern(4056);
        ASSERT_TRUE(CRVInternalEncryptBuffer(alg, a.data(), a.size(), "pw"));
        ASSERT_TRUE(CRVInternalEncryptBuffer(alg, b.data(), b.size(), "pw"));
        ASSERT_TRUE(CRVInternalEncryptBuffer(alg, c.data(), c.size(), "pW"));
        EXPECT_EQ(a, b) << CryptoAlgorithmNames[alg];
        EXPECT_NE(a, c) << CryptoAlgorithmNames[alg];
        // Deciphering with the wrong password does not give the plain bytes back.
        ASSERT_TRUE(CRVInternalDecryptBuffer(alg, c.data(), c.size(), "pw"));
        EXPECT_NE(c, Pattern(4056)) << CryptoAlgorithmNames[alg];
    }
}

TEST(CRVCipher, ContextGivesTheSameBytesAsTheBufferCalls) {
    for (const auto alg : KAll) {
        const TCRVCipherContext context(alg, "pw");
        for (const std::size_t len : {0u, 13u, 4056u}) {
            TBytes viaBuffer = Pattern(len), viaContext = Pattern(len);
            ASSERT_TRUE(CRVInternalEncryptBuffer(alg, viaBuffer.data(), viaBuffer.size(), "pw"));
            ASSERT_TRUE(context.Encrypt(viaContext.data(), viaContext.size()));
            EXPECT_EQ(viaContext, viaBuffer) << CryptoAlgorithmNames[alg];
            ASSERT_TRUE(context.Decrypt(viaContext.data(), viaContext.size()));
            EXPECT_EQ(viaContext, Pattern(len)) << CryptoAlgorithmNames[alg];
        }
    }
    EXPECT_THROW(TCRVCipherContext(static_cast<TCRVCryptoAlgorithm>(9), "pw"), std::exception);
}

TEST(CRVCipher, UnknownAlgorithmLeavesTheBufferAlone) {
    TBytes buf = Pattern(100);
    EXPECT_TRUE(CRVInternalEncryptBuffer(8, buf.data(), buf.size(), "pw"));
    EXPECT_TRUE(CRVInternalDecryptBuffer(255, buf.data(), buf.size(), "pw"));
    EXPECT_EQ(buf, Pattern(100));
}

TEST(CRVCipher, NamesAndBadKeys) {
    EXPECT_EQ(CRVCryptoAlgorithmFromName("twofish_256"), craTwofish_256);
    EXPECT_EQ(CRVCryptoAlgorithmFromName("Rijndael_128"), craRijndael_128);
    EXPECT_FALSE(CRVCryptoAlgorithmFromName("AES").has_value());
    EXPECT_THROW(CRVCreateBlockCipher(craRijndael_128, Hex("0011")), std::exception);
}

} // namespace
