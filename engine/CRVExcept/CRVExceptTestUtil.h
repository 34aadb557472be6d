// Test helpers: the error code a piece of code raises.
#pragma once

#include "CRVExcept/CRVExcept.h"

#include <gtest/gtest.h>

// The native code of the ECRVException `f` raises, or 0 when it raises none.
template <typename F> int CodeOf(F&& f) {
    try {
        f();
    } catch (const ECRVException& e) {
        return e.NativeErrorCode();
    }
    return 0;
}

// As CodeOf, but `f` must raise: raising nothing fails the test (and answers 0).
template <typename F> int RaisedCode(F&& f) {
    try {
        f();
    } catch (const ECRVException& e) {
        return e.NativeErrorCode();
    }
    ADD_FAILURE() << "no ECRVException raised";
    return 0;
}

// The outcome of the ECRVEngineError `f` raises (-1 ... -13), else the native code of its
// ECRVException, else 0.
template <typename F> int EngineCodeOf(F&& f) {
    try {
        f();
    } catch (const ECRVEngineError& e) {
        return e.ErrorCode();
    } catch (const ECRVException& e) {
        return e.NativeErrorCode();
    }
    return 0;
}
