#include "CRVCipher/CRVCipher.h"

#include "CRVConst/CRVNames.h"

#include <crypto++/blowfish.h>
#include <crypto++/des.h>
#include <crypto++/rijndael.h>
#include <crypto++/ripemd.h>
#include <crypto++/square.h>
#include <crypto++/twofish.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

// A Crypto++ block cipher pair behind the engine's interface.
template <typename TCipher> class TCryptoPPCipher final : public TCRVBlockCipher {
public:
    TCryptoPPCipher(std::span<const std::uint8_t> key, bool withDecryption)
        : FEncryption(key.data(), key.size()) {
        if (withDecryption)
            FDecryption.emplace(key.data(), key.size());
    }
    std::size_t BlockSize() const override { return TCipher::BLOCKSIZE; }
    void EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const override {
        FEncryption.ProcessBlock(in, out);
    }
    void DecryptBlock(const std::uint8_t* in, std::uint8_t* out) const override {
        if (!FDecryption)
            throw std::logic_error("cipher built without its decryption schedule");
        FDecryption->ProcessBlock(in, out);
    }
    void DecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const override {
        if (!FDecryption)
            throw std::logic_error("cipher built without its decryption schedule");
        FDecryption->AdvancedProcessBlocks(in, nullptr, out, count * TCipher::BLOCKSIZE, 0);
    }
    void EncryptChained(std::uint8_t* buf, std::size_t count, std::uint8_t* feedback) const override {
        constexpr std::size_t B = TCipher::BLOCKSIZE;
        for (std::size_t blk = 0; blk < count; ++blk) {
            std::uint8_t* block = buf + blk * B;
            // E(block xor feedback) in place, in one call into the cipher.
            FEncryption.AdvancedProcessBlocks(block, feedback, block, B,
                                              CryptoPP::BlockTransformation::BT_XorInput);
            for (std::size_t i = 0; i < B; ++i)
                feedback[i] ^= block[i];
        }
    }

private:
    typename TCipher::Encryption FEncryption;
    std::optional<typename TCipher::Decryption> FDecryption;
};

// Triple DES over a 24-byte block: three 8-byte DES blocks run through three schedules (encrypt
// with key bytes 0..7, decrypt with 8..15, encrypt with 16..23), the second and third 32-bit words
// of the block exchanged between the stages. Decoding runs the inverse schedules in reverse order.
class TTripleDES24 final : public TCRVBlockCipher {
public:
    explicit TTripleDES24(std::span<const std::uint8_t> key) {
        if (key.size() != 24)
            throw std::invalid_argument("triple DES needs a 24-byte key");
        FEncrypt1.SetKey(key.data(), 8);
        FDecrypt2.SetKey(key.data() + 8, 8);
        FEncrypt3.SetKey(key.data() + 16, 8);
        FDecrypt1.SetKey(key.data(), 8);
        FEncrypt2.SetKey(key.data() + 8, 8);
        FDecrypt3.SetKey(key.data() + 16, 8);
    }
    std::size_t BlockSize() const override { return 24; }
    void EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const override {
        Run(in, out, FEncrypt1, FDecrypt2, FEncrypt3);
    }
    void DecryptBlock(const std::uint8_t* in, std::uint8_t* out) const override {
        Run(in, out, FDecrypt3, FEncrypt2, FDecrypt1);
    }

private:
    static void Stage(std::uint8_t* block, const CryptoPP::BlockTransformation& t) {
        for (int i = 0; i < 3; ++i)
            t.ProcessBlock(block + 8 * i);
    }
    static void SwapWords(std::uint8_t* block) { std::swap_ranges(block + 4, block + 8, block + 8); }
    static void Run(const std::uint8_t* in, std::uint8_t* out, const CryptoPP::BlockTransformation& a,
                    const CryptoPP::BlockTransformation& b, const CryptoPP::BlockTransformation& c) {
        std::memmove(out, in, 24);
        Stage(out, a);
        SwapWords(out);
        Stage(out, b);
        SwapWords(out);
        Stage(out, c);
    }

    CryptoPP::DES::Encryption FEncrypt1, FEncrypt2, FEncrypt3;
    CryptoPP::DES::Decryption FDecrypt1, FDecrypt2, FDecrypt3;
};

struct TCipherTraits {
    bool Ripemd256;        // key hash: RIPEMD-256, else RIPEMD-128
    std::size_t MaxKeyLen; // the cipher's maximum key length
};

constexpr TCipherTraits KTraits[KCRVCryptoAlgorithmCount] = {
    {false, 32}, // Rijndael_128
    {true, 32},  // Rijndael_256
    {false, 8},  // DES_Single
    {false, 24}, // DES_Triple
    {true, 56},  // Blowfish
    {false, 32}, // Twofish_128
    {true, 32},  // Twofish_256
    {false, 16}, // Square
};

// Plain text of a deciphered batch: block i = D(Ci) xor F, then F ^= Ci (B known at compile time
// for the block sizes of the engine's ciphers, so the loops become word operations).
template <std::size_t B>
void FoldDeciphered(std::uint8_t* cipherText, const std::uint8_t* plain, std::size_t count,
                    std::uint8_t* feedback) {
    for (std::size_t blk = 0; blk < count; ++blk) {
        std::uint8_t* block = cipherText + blk * B;
        const std::uint8_t* p = plain + blk * B;
        for (std::size_t i = 0; i < B; ++i) {
            const std::uint8_t c = block[i];
            block[i] = p[i] ^ feedback[i];
            feedback[i] ^= c;
        }
    }
}

void FoldDeciphered(std::size_t b, std::uint8_t* cipherText, const std::uint8_t* plain, std::size_t count,
                    std::uint8_t* feedback) {
    switch (b) {
    case 8:
        return FoldDeciphered<8>(cipherText, plain, count, feedback);
    case 16:
        return FoldDeciphered<16>(cipherText, plain, count, feedback);
    case 24:
        return FoldDeciphered<24>(cipherText, plain, count, feedback);
    default: // every cipher of the engine has one of the sizes above
        throw std::logic_error("unexpected cipher block size");
    }
}

// In-place chaining over the whole buffer; see the header for the mode.
//
// Deciphering has no serial dependency: F before block i is IV xor C0 xor ... xor C(i-1), all
// known up front, so the blocks are run through the cipher in batches (pipelined where the
// cipher allows it) and the feedback is folded in afterwards.
void RunChain(const TCRVBlockCipher& cipher, std::uint8_t* buf, std::size_t length, bool encrypt) {
    const std::size_t b = cipher.BlockSize();
    std::uint8_t feedback[32];
    std::uint8_t work[32];
    std::memset(feedback, 0xFF, b);
    const std::size_t fullBlocks = length / b;
    if (encrypt) {
        cipher.EncryptChained(buf, fullBlocks, feedback);
    } else {
        constexpr std::size_t KBatchBytes = 1024;
        std::uint8_t plain[KBatchBytes];
        const std::size_t batchBlocks = KBatchBytes / b;
        for (std::size_t first = 0; first < fullBlocks; first += batchBlocks) {
            const std::size_t count = std::min(batchBlocks, fullBlocks - first);
            std::uint8_t* cipherText = buf + first * b;
            cipher.DecryptBlocks(cipherText, plain, count);
            FoldDeciphered(b, cipherText, plain, count, feedback);
        }
    }
    const std::size_t pos = fullBlocks * b;
    if (pos < length) {
        cipher.EncryptBlock(feedback, work);
        for (std::size_t i = 0; pos + i < length; ++i)
            buf[pos + i] ^= work[i];
    }
}

bool Transform(std::uint8_t cryptoAlg, void* buffer, std::size_t length, std::string_view password,
               bool encrypt) noexcept {
    if (cryptoAlg >= KCRVCryptoAlgorithmCount)
        return true;
    try {
        const auto alg = static_cast<TCRVCryptoAlgorithm>(cryptoAlg);
        const auto cipher = CRVCreateBlockCipher(alg, CRVDeriveKey(alg, password), !encrypt);
        if (length > 0)
            RunChain(*cipher, static_cast<std::uint8_t*>(buffer), length, encrypt);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

std::optional<TCRVCryptoAlgorithm> CRVCryptoAlgorithmFromName(std::string_view name) {
    if (const auto i = CRVFindName(CryptoAlgorithmNames, name))
        return static_cast<TCRVCryptoAlgorithm>(*i);
    return std::nullopt;
}

std::vector<std::uint8_t> CRVDeriveKey(TCRVCryptoAlgorithm alg, std::string_view password) {
    if (alg >= KCRVCryptoAlgorithmCount)
        throw std::invalid_argument("unknown cipher");
    const TCipherTraits& t = KTraits[alg];
    std::vector<std::uint8_t> digest;
    const auto* bytes = reinterpret_cast<const CryptoPP::byte*>(password.data());
    if (t.Ripemd256) {
        digest.resize(CryptoPP::RIPEMD256::DIGESTSIZE);
        CryptoPP::RIPEMD256().CalculateDigest(digest.data(), bytes, password.size());
    } else {
        digest.resize(CryptoPP::RIPEMD128::DIGESTSIZE);
        CryptoPP::RIPEMD128().CalculateDigest(digest.data(), bytes, password.size());
    }
    digest.resize(std::min(digest.size(), t.MaxKeyLen));
    // The 24-byte triple DES takes the 16 digest bytes and zeros for bytes 16..23.
    if (alg == craDES_Triple)
        digest.resize(24, 0);
    return digest;
}

std::unique_ptr<TCRVBlockCipher>
CRVCreateBlockCipher(TCRVCryptoAlgorithm alg, std::span<const std::uint8_t> key, bool withDecryption) {
    switch (alg) {
    case craRijndael_128:
    case craRijndael_256:
        return std::make_unique<TCryptoPPCipher<CryptoPP::Rijndael>>(key, withDecryption);
    case craDES_Single:
        return std::make_unique<TCryptoPPCipher<CryptoPP::DES>>(key, withDecryption);
    case craDES_Triple:
        return std::make_unique<TTripleDES24>(key);
    case craBlowfish:
        return std::make_unique<TCryptoPPCipher<CryptoPP::Blowfish>>(key, withDecryption);
    case craTwofish_128:
    case craTwofish_256:
        return std::make_unique<TCryptoPPCipher<CryptoPP::Twofish>>(key, withDecryption);
    case craSquare:
        return std::make_unique<TCryptoPPCipher<CryptoPP::Square>>(key, withDecryption);
    }
    throw std::invalid_argument("unknown cipher");
}

TCRVCipherContext::TCRVCipherContext(TCRVCryptoAlgorithm alg, std::string_view password)
    : FAlgorithm(alg), FCipher(CRVCreateBlockCipher(alg, CRVDeriveKey(alg, password))) {}

bool TCRVCipherContext::Encrypt(void* buffer, std::size_t length) const noexcept {
    try {
        RunChain(*FCipher, static_cast<std::uint8_t*>(buffer), length, true);
        return true;
    } catch (...) {
        return false;
    }
}

bool TCRVCipherContext::Decrypt(void* buffer, std::size_t length) const noexcept {
    try {
        RunChain(*FCipher, static_cast<std::uint8_t*>(buffer), length, false);
        return true;
    } catch (...) {
        return false;
    }
}

bool CRVInternalEncryptBuffer(std::uint8_t cryptoAlg, void* buffer, std::size_t length,
                              std::string_view password) noexcept {
    return Transform(cryptoAlg, buffer, length, password, true);
}

bool CRVInternalDecryptBuffer(std::uint8_t cryptoAlg, void* buffer, std::size_t length,
                              std::string_view password) noexcept {
    return Transform(cryptoAlg, buffer, length, password, false);
}
