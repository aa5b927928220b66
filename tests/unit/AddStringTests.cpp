// Suffix completion: exact comparison of the text's tail.
#include "shell/ModAddString.h"

#include <gtest/gtest.h>

#include <string>

namespace vandrel {
namespace {

using namespace std::string_literals;

TEST(AddString, AppendsOnlyAMissingSuffix) {
    EXPECT_EQ(AddString(L"a|b|", L"|"), L"a|b|");
    EXPECT_EQ(AddString(L"a|b", L"|"), L"a|b|");
    EXPECT_EQ(AddString(L"", L"|"), L"|");
    EXPECT_EQ(AddString(L"|", L"|"), L"|");
    EXPECT_EQ(AddString(L"ab||", L"|"), L"ab||");
    // The whole suffix must be there, not a part of it.
    EXPECT_EQ(AddString(L"x.tl", L".tlb"), L"x.tl.tlb");
    EXPECT_EQ(AddString(L"x.tlb", L".tlb"), L"x.tlb");
}

TEST(AddString, EmptySuffixAlwaysCountsAsPresent) {
    EXPECT_EQ(AddString(L"anything", L""), L"anything");
    EXPECT_EQ(AddString(L"", L""), L"");
}

TEST(AddString, LongerSuffixIsAppendedAfterTheText) {
    EXPECT_EQ(AddString(L"a", L"abc"), L"aabc");
    EXPECT_EQ(AddString(L"bc", L"abc"), L"bcabc");
    EXPECT_EQ(AddString(L"abc", L"abc"), L"abc");
}

TEST(AddString, ComparesCodeUnitsExactly) {
    EXPECT_EQ(AddString(L"FILE.TLB", L".tlb"), L"FILE.TLB.tlb");
    EXPECT_EQ(AddString(L"file.tlb", L".TLB"), L"file.tlb.TLB");
    EXPECT_EQ(AddString(L"文件", L"件"), L"文件");
    EXPECT_EQ(AddString(L"文件", L"牛"), L"文件牛");
    // Full-width bar and an embedded NUL are characters like any other.
    EXPECT_EQ(AddString(L"a｜", L"|"), L"a｜|");
    EXPECT_EQ(AddString(L"a\0"s, L"\0"s), L"a\0"s);
    EXPECT_EQ(AddString(L"a"s, L"\0"s), L"a\0"s);
}

} // namespace
} // namespace vandrel
