// The engine's two exception classes and the helpers that raise them.
//
//  ECRVException    every engine failure; carries the five-digit native error code.
//                   what() = text (formatted with its arguments) + " - Native error: " + code as
//                   five digits. When the arguments do not fit the text's format, the text is the
//                   unformatted one followed by " Arguments are invalid!".
//  ECRVEngineError  a change that failed when a row was posted; ErrorCode -1 .. -13.
//                   what() = "Corvista Engine Error # " + code + " " + text.
//
// Raise through CRVRaise (text looked up in the engine's error table by code) or CRVRaiseText
// (the caller supplies the text, for the few messages whose code is chosen by the caller);
// a breakpoint on CRVThrow catches every engine exception.
#pragma once

#include "CRVExcept/CRVFormat.h"

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

class ECRVException : public std::exception {
public:
    ECRVException(int nativeErrorCode, std::string text);

    int NativeErrorCode() const noexcept { return FNativeErrorCode; }
    int ErrorCode() const noexcept { return FNativeErrorCode; }
    // The text without the " - Native error: NNNNN" suffix.
    const std::string& Text() const noexcept { return FText; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    int FNativeErrorCode;
    std::string FText;
    std::string FMessage;
};

class ECRVEngineError : public std::exception {
public:
    ECRVEngineError(int errorCode, std::string text);

    int ErrorCode() const noexcept { return FErrorCode; }
    const std::string& Text() const noexcept { return FText; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    int FErrorCode;
    std::string FText;
    std::string FMessage;
};

// Formats `format` with `args`, or gives the format followed by " Arguments are invalid!".
std::string CRVFormatMessage(std::string_view format, std::span<const TCRVFormatArg> args);

// The single throw site of ECRVException.
[[noreturn]] void CRVThrow(int nativeErrorCode, std::string text);

// Raises the error `code` with its text from the engine's error table.
[[noreturn]] void CRVRaiseArgs(int code, std::span<const TCRVFormatArg> args);
// Raises `code` with a text given by the caller.
[[noreturn]] void CRVRaiseTextArgs(int code, std::string_view format, std::span<const TCRVFormatArg> args);

template <typename... TArgs> [[noreturn]] void CRVRaise(int code, TArgs&&... args) {
    const TCRVFormatArg list[] = {TCRVFormatArg(std::forward<TArgs>(args))..., TCRVFormatArg(0)};
    CRVRaiseArgs(code, std::span<const TCRVFormatArg>(list, sizeof...(TArgs)));
}

template <typename... TArgs>
[[noreturn]] void CRVRaiseText(int code, std::string_view format, TArgs&&... args) {
    const TCRVFormatArg list[] = {TCRVFormatArg(std::forward<TArgs>(args))..., TCRVFormatArg(0)};
    CRVRaiseTextArgs(code, format, std::span<const TCRVFormatArg>(list, sizeof...(TArgs)));
}

// The text of an engine error (codes -1 .. -13); empty for -8, whose text is the cause's message.
std::string_view CRVEngineErrorText(int errorCode);
// Raises ECRVEngineError for a non-zero cursor outcome; `cause` is the text for -8.
[[noreturn]] void CRVRaiseEngineError(int errorCode, std::string_view cause = {});
