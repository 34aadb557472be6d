#include "CRVCipher/CRVChecksum.h"

#include <zlib.h>

std::uint32_t CRC32(std::uint32_t seed, const void* buffer, std::size_t length) noexcept {
    if (!buffer)
        return seed;
    // zlib inverts the register before and after the loop; undo both so the loop runs on the seed.
    uLong r = ~seed & 0xFFFFFFFFu;
    const auto* p = static_cast<const Bytef*>(buffer);
    while (length > 0) {
        const uInt chunk = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
        r = crc32(r, p, chunk);
        p += chunk;
        length -= chunk;
    }
    return ~static_cast<std::uint32_t>(r);
}
