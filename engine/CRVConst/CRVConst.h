// Engine-wide constants and the table of native error texts.
#pragma once

#include <string_view>

// The text of native error `code` (a format with %d / %s directives), or "Unknown error" when the
// table has no entry for it.
std::string_view CRVErrorText(int code);
// True when the error table holds `code`.
bool CRVHasErrorText(int code);
