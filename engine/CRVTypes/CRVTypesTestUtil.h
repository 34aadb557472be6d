// Helpers shared by the unit's tests.
#pragma once

#include "CRVExcept/CRVExceptTestUtil.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

// The message of the ECRVException `f` raises, or "" (with a test failure) when it raises none.
template <typename F> std::string RaisedMessage(F&& f) {
    try {
        f();
    } catch (const ECRVException& e) {
        return e.what();
    }
    ADD_FAILURE() << "no ECRVException raised";
    return {};
}

inline std::vector<std::byte> ByteVector(std::initializer_list<int> bytes) {
    std::vector<std::byte> out;
    for (int b : bytes)
        out.push_back(static_cast<std::byte>(b));
    return out;
}
