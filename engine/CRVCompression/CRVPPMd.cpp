#include "CRVCompression/CRVPPMd.h"

#include "CRVCompression/CRVPPMdModel.h"
#include "CRVCompression/CRVPPMdRangeCoder.h"
#include "CRVCompression/CRVPPMdSubAllocator.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

bool ValidSetup(int maxOrder, std::size_t memoryBytes) {
    return maxOrder >= TCRVPPMdModel::MinOrder && maxOrder <= TCRVPPMdModel::MaxOrder &&
           memoryBytes >= TCRVPPMdSubAllocator::MinimumSize &&
           memoryBytes <= TCRVPPMdSubAllocator::MaximumSize;
}

} // namespace

bool CRVPPMdEncode(const std::uint8_t* in, std::size_t size, int maxOrder, std::size_t memoryBytes,
                   std::vector<std::uint8_t>& out) {
    out.clear();
    if (!ValidSetup(maxOrder, memoryBytes) || (in == nullptr && size != 0))
        return false;
    TCRVPPMdSubAllocator allocator(memoryBytes);
    if (!allocator.Valid())
        return false;
    try {
        out.reserve(size + size / 20 + 64);
        // The model tables are a few kilobytes; keep them off the stack.
        auto model = std::make_unique<TCRVPPMdModel>(allocator, maxOrder);
        TCRVPPMdRangeEncoder coder(out);
        if (model->Encode(in, size, coder))
            return true;
    } catch (const std::bad_alloc&) {
    }
    out.clear();
    return false;
}

bool CRVPPMdDecode(const std::uint8_t* in, std::size_t size, int maxOrder, std::size_t memoryBytes,
                   std::size_t maxSize, std::vector<std::uint8_t>& out) {
    out.clear();
    if (!ValidSetup(maxOrder, memoryBytes) || in == nullptr || size < 4)
        return false;
    TCRVPPMdSubAllocator allocator(memoryBytes);
    if (!allocator.Valid())
        return false;
    try {
        out.reserve(std::min(maxSize, size * 8 + 4096));
        auto model = std::make_unique<TCRVPPMdModel>(allocator, maxOrder);
        TCRVPPMdRangeDecoder coder(in, size);
        if (model->Decode(coder, maxSize, out))
            return true;
    } catch (const std::bad_alloc&) {
    }
    out.clear();
    return false;
}
