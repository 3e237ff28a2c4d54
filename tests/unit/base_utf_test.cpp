#include <gtest/gtest.h>

#include "base/utf.h"

TEST(Utf, CyrillicAndAstralTextsRoundTrip)
{
    const std::string texts[] = {"", "COM3", "Ошибка смены скорости", "a\xF0\x9F\x98\x80z"};
    for (const std::string& text : texts)
        EXPECT_EQ(Narrow(Widen(text)), text);
    EXPECT_EQ(Widen("Нет"), std::wstring(L"\u041d\u0435\u0442"));
    // A code point beyond the basic plane is one character on every platform's wide string
    // once narrowed back, whatever the width of wchar_t.
    EXPECT_EQ(Narrow(std::wstring(L"\U0001F600")), "\xF0\x9F\x98\x80");
}

TEST(Utf, MalformedInputBecomesReplacementCharacters)
{
    // A truncated sequence, a lone continuation byte, an overlong slash and an encoded
    // surrogate: none may be passed on as if it were text.
    EXPECT_EQ(Narrow(Widen("\xD0")), "\xEF\xBF\xBD");
    EXPECT_EQ(Narrow(Widen("a\x80"
                           "b")),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Narrow(Widen("\xC0\xAF")), "\xEF\xBF\xBD");
    EXPECT_EQ(Narrow(Widen("\xED\xA0\x80")), "\xEF\xBF\xBD");
    // The byte after a broken sequence is kept.
    EXPECT_EQ(Narrow(Widen("\xD0z")), "\xEF\xBF\xBDz");
}

TEST(Utf, StrictWidenRefusesMalformedText)
{
    std::wstring wide;
    EXPECT_TRUE(WidenStrict("C:\\Прошивки\\демо.ldr", wide));
    EXPECT_EQ(Narrow(wide), "C:\\Прошивки\\демо.ldr");
    EXPECT_TRUE(WidenStrict("", wide));
    EXPECT_TRUE(WidenStrict("\xEF\xBF\xBD", wide));   // a real replacement character is fine
    EXPECT_FALSE(WidenStrict("bad \xD0 byte", wide));
    EXPECT_TRUE(wide.empty());
    EXPECT_FALSE(WidenStrict("\xED\xA0\x80", wide));  // an encoded surrogate
}
