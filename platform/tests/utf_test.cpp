#include <gtest/gtest.h>

#include "platform/utf.h"

namespace {

using platform::utf16ToModifiedUtf8;
using platform::utf16ToUtf8;
using platform::utf8ToUtf16;

TEST(Utf, RoundTripsEveryPlane) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z";  // a é € 🎵 z
    const std::u16string wide = utf8ToUtf16(text);
    ASSERT_EQ(wide.size(), 6u);
    EXPECT_EQ(wide[1], 0x00E9);
    EXPECT_EQ(wide[2], 0x20AC);
    EXPECT_EQ(wide[3], 0xD83C);  // U+1F3B5 as a surrogate pair
    EXPECT_EQ(wide[4], 0xDFB5);
    EXPECT_EQ(utf16ToUtf8(wide), text);
}

TEST(Utf, MalformedUtf8BecomesOneReplacementPerSequence) {
    struct Case {
        std::string in;
        std::u16string out;
    };
    const Case cases[] = {
        {"\x80", u"\uFFFD"},                        // stray continuation
        {"a\xC3", u"a\uFFFD"},                      // truncated at the end
        {"\xC3(", u"\uFFFD("},                      // bad continuation keeps the next byte
        {"\xC0\xAF", u"\uFFFD"},                    // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD"},                // surrogate encoded in UTF-8
        {"\xF4\x90\x80\x80", u"\uFFFD"},            // above U+10FFFF
        {"\xFF\xFEok", u"\uFFFD\uFFFDok"},          // invalid leads
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8ToUtf16(c.in), c.out) << "input of " << c.in.size() << " bytes";
    }
}

TEST(Utf, UnpairedSurrogatesBecomeReplacement) {
    const std::u16string lone = {u'x', char16_t(0xD800), u'y', char16_t(0xDC00)};
    EXPECT_EQ(utf16ToUtf8(lone), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

TEST(Utf, ModifiedUtf8EncodesSurrogatesSeparatelyAndNulAsTwoBytes) {
    const std::u16string wide = {u'A', char16_t(0), char16_t(0xD83C), char16_t(0xDFB5)};
    const std::string m = utf16ToModifiedUtf8(wide);
    EXPECT_EQ(m, std::string("A\xC0\x80\xED\xA0\xBC\xED\xBE\xB5"));
    // Nothing in it is a four-byte sequence or a raw NUL.
    EXPECT_EQ(m.find('\0'), std::string::npos);
}

}  // namespace
