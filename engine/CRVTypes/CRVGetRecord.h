// The fetch modes and results shared by the record manager and the row indexes.
#pragma once

#include <cstdint>

enum TCRVGetRecordMode : std::uint8_t { grmCurrent = 0, grmNext = 1, grmPrior = 2 };
enum TCRVGetRecordResult : std::uint8_t { grrOK = 0, grrBOF = 1, grrEOF = 2, grrError = 3 };
