#include "CRVCipher/CRVChecksum.h"

#include <libdeflate.h>

std::uint32_t CRC32(std::uint32_t seed, const void* buffer, std::size_t length) noexcept {
    if (!buffer)
        return seed;
    // libdeflate (like zlib) inverts the register before and after the loop; undo both so the
    // loop runs on the seed.
    return ~libdeflate_crc32(~seed, buffer, length);
}
