// Page encryption: the eight block ciphers, their key derivation and the chaining mode.
//
// Key: RIPEMD-128 or RIPEMD-256 of the password bytes, cut to the cipher's maximum key length.
// Initial vector: one block of 0xFF. Chaining (block size B, feedback register F = IV):
//   encipher full block P:  C = E(P xor F);  F = F xor C
//   decipher full block C:  P = D(C) xor F;  F = F xor C
//   final partial block of n < B bytes, both directions: T = E(F); out = in xor T[0..n); F = F xor T
// No padding: the output has the length of the input. Every call builds a fresh context.
//
// | value | algorithm        | block | key hash   | key bytes used           |
// |-------|------------------|-------|------------|--------------------------|
// | 0     | Rijndael_128     | 16    | RIPEMD-128 | 16                       |
// | 1     | Rijndael_256     | 16    | RIPEMD-256 | 32                       |
// | 2     | DES_Single       | 8     | RIPEMD-128 | 8                        |
// | 3     | DES_Triple (24B) | 24    | RIPEMD-128 | 16 (bytes 16..23 zero)   |
// | 4     | Blowfish         | 8     | RIPEMD-256 | 32                       |
// | 5     | Twofish_128      | 16    | RIPEMD-128 | 16                       |
// | 6     | Twofish_256      | 16    | RIPEMD-256 | 32                       |
// | 7     | Square           | 16    | RIPEMD-128 | 16                       |
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum TCRVCryptoAlgorithm : std::uint8_t {
    craRijndael_128 = 0,
    craRijndael_256 = 1,
    craDES_Single = 2,
    craDES_Triple = 3,
    craBlowfish = 4,
    craTwofish_128 = 5,
    craTwofish_256 = 6,
    craSquare = 7,
};

constexpr int KCRVCryptoAlgorithmCount = 8;

inline constexpr std::array<std::string_view, KCRVCryptoAlgorithmCount> CryptoAlgorithmNames = {
    "Rijndael_128", "Rijndael_256", "DES_Single",  "DES_Triple",
    "Blowfish",     "Twofish_128",  "Twofish_256", "Square"};

// The password as the engine receives it: its bytes are the key material; empty = no encryption.
struct TCRVPassword {
    std::string Password;
    TCRVCryptoAlgorithm CryptoAlgorithm = craRijndael_128;
};

// Case-insensitive lookup of a name of CryptoAlgorithmNames.
std::optional<TCRVCryptoAlgorithm> CRVCryptoAlgorithmFromName(std::string_view name);

// Encipher / decipher `length` bytes in place. Never throw: any failure inside returns false.
// An algorithm value above 7 leaves the buffer as it is and returns true.
bool CRVInternalEncryptBuffer(std::uint8_t cryptoAlg, void* buffer, std::size_t length,
                              std::string_view password) noexcept;
bool CRVInternalDecryptBuffer(std::uint8_t cryptoAlg, void* buffer, std::size_t length,
                              std::string_view password) noexcept;

// One keyed block cipher of the table above (the building block of the chaining mode).
class TCRVBlockCipher {
public:
    virtual ~TCRVBlockCipher() = default;
    virtual std::size_t BlockSize() const = 0;
    virtual void EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const = 0;
    virtual void DecryptBlock(const std::uint8_t* in, std::uint8_t* out) const = 0;
    // Deciphers `count` independent blocks (ECB); ciphers with a pipelined implementation override it.
    virtual void DecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const {
        for (std::size_t i = 0; i < count; ++i)
            DecryptBlock(in + i * BlockSize(), out + i * BlockSize());
    }
    // The serial half of the chaining mode: each of `count` blocks, in place, becomes
    // E(block xor feedback), and feedback takes the xor of the enciphered block. Ciphers whose
    // block size is known at compile time override it with a tighter loop.
    virtual void EncryptChained(std::uint8_t* buf, std::size_t count, std::uint8_t* feedback) const {
        const std::size_t b = BlockSize();
        std::uint8_t work[32];
        for (std::size_t blk = 0; blk < count; ++blk) {
            std::uint8_t* block = buf + blk * b;
            for (std::size_t i = 0; i < b; ++i)
                work[i] = block[i] ^ feedback[i];
            EncryptBlock(work, block);
            for (std::size_t i = 0; i < b; ++i)
                feedback[i] ^= block[i];
        }
    }
};

// A cipher keyed with `key` exactly as given (no hashing). Throws on a bad key or algorithm.
// Without `withDecryption` only the encryption schedule is built and DecryptBlock must not be used.
std::unique_ptr<TCRVBlockCipher>
CRVCreateBlockCipher(TCRVCryptoAlgorithm alg, std::span<const std::uint8_t> key, bool withDecryption = true);

// A keyed cipher in the chaining mode above, for callers that encipher many buffers with one
// password (the key hash and schedules are built once). Gives the same bytes as
// CRVInternalEncryptBuffer / CRVInternalDecryptBuffer; its methods never throw either.
class TCRVCipherContext {
public:
    // Throws std::exception on a bad algorithm.
    TCRVCipherContext(TCRVCryptoAlgorithm alg, std::string_view password);
    TCRVCryptoAlgorithm Algorithm() const { return FAlgorithm; }
    bool Encrypt(void* buffer, std::size_t length) const noexcept;
    bool Decrypt(void* buffer, std::size_t length) const noexcept;

private:
    TCRVCryptoAlgorithm FAlgorithm;
    std::unique_ptr<TCRVBlockCipher> FCipher;
};

// The key the chaining mode uses for `password`: the key hash cut to the cipher's key length.
std::vector<std::uint8_t> CRVDeriveKey(TCRVCryptoAlgorithm alg, std::string_view password);
