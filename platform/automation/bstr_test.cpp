#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "sky/bstr.h"
#include "win/oleauto.h"

namespace {

std::uint32_t prefixOf(BSTR bstr) {
    std::uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(bstr) - 4, 4);
    return prefix;
}

TEST(Bstr, LayoutIsByteCountTextAndTerminator) {
    BSTR b = SysAllocString(u"Farm");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(prefixOf(b), 8u);
    EXPECT_EQ(SysStringLen(b), 4u);
    EXPECT_EQ(SysStringByteLen(b), 8u);
    EXPECT_EQ(std::u16string(b), u"Farm");
    EXPECT_EQ(b[4], u'\0');
    SysFreeString(b);
}

TEST(Bstr, EmbeddedNulsCountInTheLength) {
    const char16_t text[] = {u'a', 0, u'b', 0, u'c'};
    BSTR b = SysAllocStringLen(text, 5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 5u);
    EXPECT_EQ(prefixOf(b), 10u);
    EXPECT_EQ(std::u16string_view(b, 5), std::u16string_view(text, 5));
    EXPECT_EQ(b[5], u'\0');
    // SysAllocString stops at the first NUL.
    BSTR cut = SysAllocString(b);
    EXPECT_EQ(SysStringLen(cut), 1u);
    SysFreeString(cut);
    SysFreeString(b);
}

TEST(Bstr, NullInputs) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    // A null source with a length allocates that much room, terminated.
    BSTR room = SysAllocStringLen(nullptr, 3);
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(SysStringLen(room), 3u);
    EXPECT_EQ(room[3], u'\0');
    SysFreeString(room);
    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
}

TEST(Bstr, ByteLengthKeepsOddCounts) {
    BSTR b = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringByteLen(b), 3u);
    EXPECT_EQ(SysStringLen(b), 1u);
    EXPECT_EQ(std::memcmp(b, "abc\0\0", 5), 0);
    SysFreeString(b);
}

TEST(Bstr, ReallocateFromItsOwnText) {
    BSTR b = SysAllocString(u"Skyloom farm");
    ASSERT_TRUE(SysReAllocString(&b, b + 8)); // the source lies in the string being replaced
    EXPECT_EQ(std::u16string(b), u"farm");
    EXPECT_EQ(SysStringLen(b), 4u);
    ASSERT_TRUE(SysReAllocStringLen(&b, u"xyz", 2));
    EXPECT_EQ(std::u16string(b), u"xy");
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
    SysFreeString(b);
}

TEST(Bstr, OwnerConvertsAndCopies) {
    sky::Bstr text = sky::Bstr::fromUtf8("Zürich ✓");
    EXPECT_EQ(text.view(), u"Zürich ✓");
    EXPECT_EQ(text.utf8(), "Zürich ✓");
    sky::Bstr copy = text;
    EXPECT_NE(copy.get(), text.get());
    EXPECT_EQ(copy, text);
    sky::Bstr moved = std::move(copy);
    EXPECT_EQ(copy.get(), nullptr);
    EXPECT_EQ(moved, u"Zürich ✓");
    EXPECT_TRUE(sky::Bstr().empty());
    EXPECT_EQ(sky::Bstr().view(), u"");
    BSTR raw = moved.detach();
    EXPECT_EQ(moved.get(), nullptr);
    sky::Bstr again = sky::Bstr::adopt(raw);
    EXPECT_EQ(again.size(), 8u);
}

} // namespace
