// Comparison of two field values of one base type, as index keys order them.
//
// NULL sorts before every value and equals NULL. Text (bftChar, bftVarchar, bftBytes and, like
// them, bftVarBytes; bftWideChar, bftWideVarchar) compares through the index text order
// (TCRVCollation: punctuation is not ignored, case-insensitive columns fold case), each side up
// to its terminating zero or the end of the buffer, or only its first n characters when a compare
// length n >= 0 is given. Byte values that the text order cannot tell apart (bytes that are no
// valid text all weigh the same) are ordered by their bytes, so that distinct byte strings never
// compare equal. Integers, dates and times compare as signed or unsigned integers, floating-point
// values and currency numerically, date-times by date and then time, logicals false < true.
#pragma once

#include "CRVBTree/CRVCollation.h"
#include "CRVTypes/CRVFieldTypes.h"

#include <cstddef>
#include <cstdint>

enum TCRVCompareResult : std::uint8_t {
    cmprEqual = 0,
    cmprLower = 1,
    cmprGreater = 2,
    cmprLeftNull = 3,
    cmprRightNull = 4,
    cmprBothNull = 5,
};

// One side of a comparison: the value bytes (after the key's marker byte) and how many there are.
struct TCRVValueBuffer {
    const std::uint8_t* Data = nullptr;
    std::size_t Size = 0;
    bool IsNull = false;
};

// Raises 30047 for a base type without an order (BLOBs, unknown types).
TCRVCompareResult CompareValueBuffers(const TCRVValueBuffer& left, const TCRVValueBuffer& right,
                                      TCRVBaseFieldType dataType, bool caseInsensitive,
                                      std::ptrdiff_t compareLength, const TCRVCollation& collation);

// -1, 0 or 1: Lower and LeftNull give -1, Greater and RightNull +1, Equal and BothNull 0.
int CompareValueBuffersForOrder(const TCRVValueBuffer& left, const TCRVValueBuffer& right,
                                TCRVBaseFieldType dataType, bool caseInsensitive,
                                std::ptrdiff_t compareLength, const TCRVCollation& collation);

// True for the base types an index column can have.
bool CRVIsIndexableBaseType(TCRVBaseFieldType dataType);
