#include "CRVConst/CRVConst.h"

#include <algorithm>
#include <iterator>

namespace {

struct TErrorEntry {
    int Code;
    const char* Text;
};

constexpr TErrorEntry KErrorTexts[] = {
#include "CRVConst/CRVErrorTexts.inc"
};

constexpr bool IsSortedByCode() {
    for (std::size_t i = 1; i < std::size(KErrorTexts); ++i)
        if (KErrorTexts[i - 1].Code >= KErrorTexts[i].Code)
            return false;
    return true;
}
static_assert(IsSortedByCode(), "the error table must be sorted by code, one entry per code");

const TErrorEntry* Find(int code) {
    const auto it = std::lower_bound(std::begin(KErrorTexts), std::end(KErrorTexts), code,
                                     [](const TErrorEntry& e, int c) { return e.Code < c; });
    return it != std::end(KErrorTexts) && it->Code == code ? it : nullptr;
}

} // namespace

std::string_view CRVErrorText(int code) {
    const TErrorEntry* e = Find(code);
    return e ? std::string_view(e->Text) : std::string_view("Unknown error");
}

bool CRVHasErrorText(int code) {
    return Find(code) != nullptr;
}
