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
// bytes (memory_MB * 1048576; at least TCRVPPMdSubAllocator::MinimumSize); the stream ends with
// the end-of-stream escape and a 4-byte flush of the coder. `out` is replaced.
// Returns false when the model cannot be set up (order or size out of range, no memory).
bool CRVPPMdEncode(const std::uint8_t* in, std::size_t size, int maxOrder, std::size_t memoryBytes,
                   std::vector<std::uint8_t>& out);

// Decodes coder bytes until the end-of-stream escape, with the order and heap size the stream was
// made with. Fails (false, `out` empty) on a damaged stream, when more than `maxSize` bytes would
// be produced, or when the input ends before the escape; it never reads past `in + size`. A sound
// stream is read to its last byte; bytes after it are not looked at. A damaged stream may also
// decode to other bytes without an error: callers check the size and their own checksum.
bool CRVPPMdDecode(const std::uint8_t* in, std::size_t size, int maxOrder, std::size_t memoryBytes,
                   std::size_t maxSize, std::vector<std::uint8_t>& out);
