#include "CRVExcept/CRVExcept.h"

#include "CRVConst/CRVConst.h"

#include <cstdio>

namespace {

std::string NativeSuffix(int code) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " - Native error: %05d", code);
    return buf;
}

} // namespace

ECRVException::ECRVException(int nativeErrorCode, std::string text)
    : FNativeErrorCode(nativeErrorCode), FText(std::move(text)),
      FMessage(FText + NativeSuffix(nativeErrorCode)) {}

ECRVEngineError::ECRVEngineError(int errorCode, std::string text)
    : FErrorCode(errorCode), FText(std::move(text)),
      FMessage("Corvista Engine Error # " + std::to_string(errorCode) + " " + FText) {}

std::string CRVFormatMessage(std::string_view format, std::span<const TCRVFormatArg> args) {
    if (auto text = CRVTryFormat(format, args))
        return std::move(*text);
    return std::string(format) + " Arguments are invalid!";
}

void CRVThrow(int nativeErrorCode, std::string text) {
    throw ECRVException(nativeErrorCode, std::move(text));
}

void CRVRaiseArgs(int code, std::span<const TCRVFormatArg> args) {
    const std::string_view format = CRVErrorText(code);
    CRVThrow(code, CRVFormatMessage(format, args));
}

void CRVRaiseTextArgs(int code, std::string_view format, std::span<const TCRVFormatArg> args) {
    CRVThrow(code, CRVFormatMessage(format, args));
}

std::string_view CRVEngineErrorText(int errorCode) {
    switch (errorCode) {
    case -1:
        return "Error adding record";
    case -2:
        return "Error updating record";
    case -3:
        return "Error deleting record";
    case -4:
        return "Error updating record - record was modified by other process";
    case -5:
        return "Error deleting record - record was modified by other process";
    case -6:
        return "Error updating record - record was deleted by other process";
    case -7:
        return "Error deleting record - record was deleted by other process";
    case -9:
        return "Cannot update record in temporary mode";
    case -10:
        return "Cannot delete record in temporary mode";
    case -11:
        return "Cannot cancel operation in temporary mode";
    case -12:
        return "Record is locked";
    case -13:
        return "Table is locked";
    default:
        return {};
    }
}

void CRVRaiseEngineError(int errorCode, std::string_view cause) {
    const std::string_view text = errorCode == -8 ? cause : CRVEngineErrorText(errorCode);
    throw ECRVEngineError(errorCode, std::string(text));
}
