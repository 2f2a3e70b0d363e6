#include <gtest/gtest.h>

#include <string>

#include "sky/hex.h"
#include "sky/text.h"
#include "win/com.h"

namespace {

constexpr GUID sample{0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};

std::u16string stringFrom(REFGUID guid) {
    LPOLESTR text = nullptr;
    EXPECT_EQ(StringFromCLSID(guid, &text), S_OK);
    std::u16string result = text ? text : u"";
    CoTaskMemFree(text);
    return result;
}

TEST(GuidStrings, FormatIsBracedUpperCaseWithLeadingZeros) {
    EXPECT_EQ(stringFrom(sample), u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    EXPECT_EQ(stringFrom(GUID_NULL), u"{00000000-0000-0000-0000-000000000000}");
    LPOLESTR iid = nullptr;
    ASSERT_EQ(StringFromIID(IID_IClassFactory, &iid), S_OK);
    EXPECT_EQ(std::u16string(iid), u"{00000001-0000-0000-C000-000000000046}");
    CoTaskMemFree(iid);
}

TEST(GuidStrings, StringFromGuid2NeedsRoomForTheTerminator) {
    WCHAR buffer[39];
    EXPECT_EQ(StringFromGUID2(sample, buffer, 38), 0);
    EXPECT_EQ(StringFromGUID2(sample, buffer, 39), 39);
    EXPECT_EQ(buffer[38], u'\0');
    EXPECT_EQ(std::u16string(buffer), stringFrom(sample));
}

TEST(GuidStrings, RoundTripsInAnyCase) {
    const GUID guids[] = {
        sample,
        GUID_NULL,
        {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0xED62F4E2, 0x63C2, 0x11D4, {0x94, 0xD8, 0x00, 0xC0, 0x4F, 0xB0, 0xF3, 0x26}},
    };
    for (const GUID& guid : guids) {
        const std::u16string upper = stringFrom(guid);
        std::u16string lower = upper;
        for (auto& c : lower)
            if (c >= u'A' && c <= u'F')
                c = c - u'A' + u'a';
        for (const auto& text : {upper, lower}) {
            CLSID clsid{};
            IID iid{};
            EXPECT_EQ(CLSIDFromString(text.c_str(), &clsid), S_OK) << sky::narrow(text);
            EXPECT_EQ(IIDFromString(text.c_str(), &iid), S_OK) << sky::narrow(text);
            EXPECT_TRUE(IsEqualGUID(clsid, guid));
            EXPECT_TRUE(IsEqualGUID(iid, guid));
        }
    }
}

TEST(GuidStrings, MalformedStringsAreRejected) {
    const char16_t* malformed[] = {
        u"",
        u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}",   // a digit short
        u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F90}", // a digit too many
        u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",   // no closing brace
        u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}",   // no opening brace
        u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}x", // something after it
        u"{0A1B2C3D_4E5F-6071-8293-A4B5C6D7E8F9}",  // wrong separator
        u"{0A1B2C3D-4E5F-6071-829-3A4B5C6D7E8F9}",  // separator misplaced
        u"{0A1B2C3G-4E5F-6071-8293-A4B5C6D7E8F9}",  // not a hex digit
        u"{ A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}",  // space
    };
    for (const char16_t* text : malformed) {
        CLSID clsid = sample;
        EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING) << sky::narrow(text);
        EXPECT_TRUE(IsEqualGUID(clsid, CLSID_NULL));
        IID iid = sample;
        EXPECT_EQ(IIDFromString(text, &iid), E_INVALIDARG) << sky::narrow(text);
    }
}

TEST(GuidStrings, NullStringIsTheNullGuid) {
    CLSID clsid = sample;
    EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, CLSID_NULL));
    IID iid = sample;
    EXPECT_EQ(IIDFromString(nullptr, &iid), S_OK);
    EXPECT_TRUE(IsEqualGUID(iid, IID_NULL));
    EXPECT_EQ(CLSIDFromString(u"{00000000-0000-0000-0000-000000000000}", nullptr), E_INVALIDARG);
}

TEST(DigitText, DigitsOfEachBaseInEitherCase) {
    EXPECT_EQ(sky::digitValue(u'7'), 7);
    EXPECT_EQ(sky::digitValue('a'), 10);
    EXPECT_EQ(sky::digitValue(U'F'), 15);
    EXPECT_EQ(sky::digitValue(u'g'), -1);
    EXPECT_EQ(sky::digitValue(u'8', 8), -1);
    EXPECT_EQ(sky::digitValue(u'9', 10), 9);
    EXPECT_EQ(sky::digitValue(u'a', 10), -1);
    // Neither other scripts' digits nor characters whose low byte is a digit.
    EXPECT_EQ(sky::digitValue(u'\uFF11'), -1);
    EXPECT_EQ(sky::digitValue(char16_t{0x0131}), -1);
    EXPECT_EQ(sky::digitValue(static_cast<unsigned char>('\xE9')), -1);
}

TEST(DigitText, GuidDigitsWithAndWithoutBracesInBothCharacterTypes) {
    GUID parsed{};
    ASSERT_TRUE(
        sky::parseGuidDigits(std::string_view("0a1b2c3d-4E5F-6071-8293-a4b5c6d7e8f9"), parsed));
    EXPECT_TRUE(IsEqualGUID(parsed, sample));
    parsed = GUID_NULL;
    ASSERT_TRUE(sky::parseBracedGuid(std::u16string_view(u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"),
                                     parsed));
    EXPECT_TRUE(IsEqualGUID(parsed, sample));

    // Anything else leaves the GUID as it was.
    for (std::string_view bad :
         {"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F", "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9 ",
          "0A1B2C3D4E5F-6071-8293-A4B5C6D7E8F90", "0A1B2C3D-4E5F-6071-829-3A4B5C6D7E8F9",
          "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8G9", "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}",
          "+A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"}) {
        GUID untouched = IID_IUnknown;
        EXPECT_FALSE(sky::parseGuidDigits(bad, untouched)) << bad;
        EXPECT_TRUE(IsEqualGUID(untouched, IID_IUnknown)) << bad;
    }
    GUID untouched = IID_IUnknown;
    EXPECT_FALSE(sky::parseBracedGuid(std::u16string_view(u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"),
                                      untouched));
    EXPECT_FALSE(sky::parseBracedGuid(std::u16string_view(u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"),
                                      untouched));
    EXPECT_TRUE(IsEqualGUID(untouched, IID_IUnknown));
}

TEST(TaskMemory, AllocReallocFreeKeepContents) {
    auto* p = static_cast<char*>(CoTaskMemAlloc(4));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abc", 4);
    p = static_cast<char*>(CoTaskMemRealloc(p, 1000));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "abc");
    EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr); // frees
    void* fresh = CoTaskMemRealloc(nullptr, 8); // allocates
    EXPECT_NE(fresh, nullptr);
    CoTaskMemFree(fresh);
    CoTaskMemFree(nullptr);
}

} // namespace
