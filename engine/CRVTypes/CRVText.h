// Text conversions between the record encodings: single-byte text is UTF-8 on this platform,
// wide text UTF-16. Invalid input becomes U+FFFD.
#pragma once

#include "CRVConst/CRVNames.h" // CRVSameName, the case rule of definition names

#include <cstddef>
#include <string>
#include <string_view>

std::u16string CRVUtf8ToUtf16(std::string_view text);
std::string CRVUtf16ToUtf8(std::u16string_view text);
// Bytes of the UTF-8 sequence that starts with `lead` (1 for a stray or invalid byte).
std::size_t CRVUtf8SequenceLength(unsigned char lead);
// ASCII upper-casing, the case rule of definition names.
std::string CRVUpperCaseName(std::string_view name);
