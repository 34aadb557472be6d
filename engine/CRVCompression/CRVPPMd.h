// PPMd variant G (prediction by partial matching, D. Shkarin's published variant G): the model,
// its sub-allocator and the range coder, bit for bit as published, so that values compressed by
// any implementation of the variant expand here and the other way round.
//
// These functions work on the coder bytes only; the 4-byte header word and the process-wide lock
// are added by the buffer compressor (CRVCompression.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Compresses `size` bytes with the given maximum model order (2..16) and sub-allocator size in
// bytes; the stream ends with the end-of-stream escape and a 4-byte flush of the coder.
// Returns false when the model cannot be set up (e.g. memory).
bool CRVPPMdEncode(const std::uint8_t* in, std::size_t size, int maxOrder, std::size_t memoryBytes,
                   std::vector<std::uint8_t>& out);

// Decodes coder bytes until the end-of-stream escape. Fails (false) on a damaged stream, when more
// than `maxSize` bytes would be produced, or when the input ends before the escape.
bool CRVPPMdDecode(const std::uint8_t* in, std::size_t size, int maxOrder, std::size_t memoryBytes,
                   std::size_t maxSize, std::vector<std::uint8_t>& out);
