#include <gtest/gtest.h>

#include <locale.h>
#include <clocale>

#include <string>
#include <thread>

#include "platform/Platform.h"
#include "support/TestData.h"

namespace tidewire {
namespace {

using testdata::kGbkLocale;
using testdata::kUtf8Locale;
using testdata::ScopedCtypeLocale;

std::u16string ToUtf16(const std::string& host, size_t capacity = 64) {
    std::u16string out(capacity, u'\0');
    const size_t count = HostToUtf16(host.data(), host.size(), &out[0], capacity);
    out.resize(count);
    return out;
}

std::string ToHost(const std::u16string& units, size_t capacity = 64) {
    std::string out(capacity, 'z');
    const size_t count = Utf16ToHost(units.data(), units.size(), &out[0], capacity);
    EXPECT_EQ(out[count], '\0');
    return out.substr(0, count);
}

TEST(CodePageTest, PlainAsciiHostIsServedAsUtf8) {
    ScopedCtypeLocale plain("C");
    ASSERT_TRUE(plain.Active());
    EXPECT_EQ(ToUtf16("a\xE4\xB8\xAD"), u"a\u4E2D");
    EXPECT_EQ(ToHost(u"\u4E2D"), "\xE4\xB8\xAD");
}

TEST(CodePageTest, InvalidHostBytesBecomeReplacementCharacter) {
    ScopedCtypeLocale utf8(kUtf8Locale);
    ASSERT_TRUE(utf8.Active());
    EXPECT_EQ(ToUtf16("a\xFF"
                      "b"),
              u"a\uFFFDb");
    EXPECT_EQ(ToUtf16("a\xE4\xB8"), u"a\uFFFD\uFFFD");
    EXPECT_EQ(ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    // Three characters do not fit two units: nothing rather than a silently shortened text.
    EXPECT_EQ(ToUtf16("abc", 2), u"");
}

TEST(CodePageTest, Utf16ToHostCutsAtCharacterBoundary) {
    ScopedCtypeLocale utf8(kUtf8Locale);
    ASSERT_TRUE(utf8.Active());
    EXPECT_EQ(ToHost(u"\u4E2D\u6587", 7), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(ToHost(u"\u4E2D\u6587", 6), "\xE4\xB8\xAD");
    EXPECT_EQ(ToHost(u"\U0001F600", 4), "");
    EXPECT_EQ(ToHost(u"\U0001F600", 5), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToHost(std::u16string(u"ab\0c", 4)), "ab");
}

TEST(CodePageTest, GbkHostGetsGbkBytesAndQuestionMarksForMissingCharacters) {
    ScopedCtypeLocale gbk(kGbkLocale);
    if (!gbk.Active()) {
        GTEST_SKIP() << "locale " << kGbkLocale << " is not installed";
    }
    EXPECT_EQ(ToHost(u"a\u4E2D\u20AC"), "a\xD6\xD0\x80");
    // Thai, an emoji (one surrogate pair) and a lone surrogate each become one '?'.
    EXPECT_EQ(ToHost(u"\u0E01x\U0001F600y\xD800z"), "?x?y?z");
    EXPECT_EQ(ToHost(u"\u4E2D\u4E2D", 4), "\xD6\xD0");
    EXPECT_EQ(ToUtf16("\xD6\xD0\xFF"), u"\u4E2D\uFFFD");
}

TEST(CodePageTest, LibraryTextsArriveInHostCodeset) {
    const char* const text = "\xE4\xB8\xB2\xE5\x8F\xA3";  // 串口, as the source holds it
    char out[16];
    {
        ScopedCtypeLocale utf8(kUtf8Locale);
        ASSERT_TRUE(utf8.Active());
        EXPECT_EQ(LibraryTextToHost(text, out, sizeof(out)), 6u);
        EXPECT_STREQ(out, text);
        EXPECT_EQ(LibraryTextToHost(text, out, 6), 3u);
        EXPECT_STREQ(out, "\xE4\xB8\xB2");
    }
    ScopedCtypeLocale gbk(kGbkLocale);
    if (!gbk.Active()) {
        GTEST_SKIP() << "locale " << kGbkLocale << " is not installed";
    }
    EXPECT_EQ(LibraryTextToHost(text, out, sizeof(out)), 4u);
    EXPECT_STREQ(out, "\xB4\xAE\xBF\xDA");
}

// Each thread converts in its own locale at the same time: the codeset and the descriptors
// belong to the thread, so one thread's GBK never leaks into another's UTF-8.
TEST(CodePageTest, ThreadsConvertInTheirOwnLocales) {
    const locale_t gbk = newlocale(LC_CTYPE_MASK, kGbkLocale, static_cast<locale_t>(0));
    if (gbk == static_cast<locale_t>(0)) {
        GTEST_SKIP() << "locale " << kGbkLocale << " is not installed";
    }
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, kUtf8Locale, static_cast<locale_t>(0));
    ASSERT_NE(utf8, static_cast<locale_t>(0));
    int gbkMismatches = 0;
    int utf8Mismatches = 0;
    const auto convert = [](locale_t locale, const std::string& expected, int& mismatches) {
        uselocale(locale);
        for (int i = 0; i < 2000; ++i) {
            char out[8];
            const char16_t unit = u'\u4E2D';
            const size_t count = Utf16ToHost(&unit, 1, out, sizeof(out));
            if (std::string(out, count) != expected) {
                ++mismatches;
            }
        }
        uselocale(LC_GLOBAL_LOCALE);
    };
    std::thread gbkThread(convert, gbk, std::string("\xD6\xD0"), std::ref(gbkMismatches));
    std::thread utf8Thread(convert, utf8, std::string("\xE4\xB8\xAD"), std::ref(utf8Mismatches));
    gbkThread.join();
    utf8Thread.join();
    freelocale(gbk);
    freelocale(utf8);
    EXPECT_EQ(gbkMismatches, 0);
    EXPECT_EQ(utf8Mismatches, 0);
}

}  // namespace
}  // namespace tidewire
