// A field of a memory record read or written as a plain value (TCRVValue): integers as int64,
// floating-point, date, time and date-time values as doubles (a date-time as a day count since
// 1899-12-30), Booleans as bool, single-byte text as UTF-8, wide text as UTF-16, bytes as bytes.
// BLOB fields have no plain value here (their values pass through streams).
#pragma once

#include "CRVBase/CRVFieldDef.h"
#include "CRVTypes/CRVVariant.h"

#include <span>

// The field's value; std::monostate when it is NULL.
TCRVValue CRVGetFieldValue(const TCRVFieldDef& field, std::span<const std::byte> record);
// Stores the value converted to the field's type (30054 when it cannot be); std::monostate or an
// empty text makes the field NULL. Text longer than the field is cut to its size.
void CRVSetFieldValue(const TCRVFieldDef& field, std::span<std::byte> record, const TCRVValue& value);
// -1, 0 or 1; numbers compare by value, text by its bytes (UTF-8) or code units (UTF-16), a
// Boolean as 0 / 1. Values of kinds that do not compare raise 30054.
int CRVCompareValues(const TCRVValue& a, const TCRVValue& b);
// The value as text, for messages.
std::string CRVValueToText(const TCRVValue& value);
