// The engine's CRC-32: the reflected table of polynomial 0xEDB88320 with no initial and no final
// inversion (r := Seed; per byte: r := table[(r xor b) and 0xFF] xor (r shr 8)). Every caller
// passes seed 0. It checks page data areas, BLOB blocks and the password check block.
#pragma once

#include <cstddef>
#include <cstdint>

// A null buffer returns the seed.
std::uint32_t CRC32(std::uint32_t seed, const void* buffer, std::size_t length) noexcept;
