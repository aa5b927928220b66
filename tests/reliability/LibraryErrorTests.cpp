// The program's own versions of the standard library's error helpers
// (common/LibraryThrows.cpp): what the one top-level handler sees of them.
#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <vector>

namespace {

std::string WhatOf(void (*action)()) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "nothing thrown";
}

TEST(LibraryErrors, ReachTheStdExceptionHandlerWithTheLibrarysText) {
    EXPECT_EQ(WhatOf([] { (void)std::wstring(L"abc").substr(5); }),
              "basic_string::substr: __pos (which is 5) > this->size() (which is 3)");
    EXPECT_EQ(WhatOf([] { (void)std::vector<int>(2).at(7); }),
              "vector::_M_range_check: __n (which is 7) >= this->size() (which is 2)");
    EXPECT_EQ(WhatOf([] { std::wstring(static_cast<const wchar_t*>(nullptr)); }),
              "basic_string: construction from null is not valid");
    EXPECT_EQ(WhatOf([] { std::wstring().reserve(std::wstring().max_size() + 1); }),
              "basic_string::_M_create");
}

} // namespace
