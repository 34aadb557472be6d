#include "CRVCompression/CRVPPMd.h"

bool CRVPPMdEncode(const std::uint8_t*, std::size_t, int, std::size_t, std::vector<std::uint8_t>&) {
    return false;
}

bool CRVPPMdDecode(const std::uint8_t*, std::size_t, int, std::size_t, std::size_t, std::vector<std::uint8_t>&) {
    return false;
}
