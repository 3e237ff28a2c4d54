// The dialog layer's rules that need no window: the range check of typed numbers and the
// file-open filter built from the string table's form.
#include <gtest/gtest.h>

#include <string>

#include "base/strings.h"
#include "ui/dialog.h"
#include "ui/shell.h"

TEST(DialogLayer, TypedNumbersAreTakenOnlyWholeAndInRange)
{
    unsigned value = 7;
    EXPECT_TRUE(ParseUnsignedInRange("3000", 100, 300000, value));
    EXPECT_EQ(value, 3000u);
    EXPECT_TRUE(ParseUnsignedInRange(" 100 ", 100, 300000, value));
    EXPECT_EQ(value, 100u);
    EXPECT_TRUE(ParseUnsignedInRange("300000", 100, 300000, value));
    EXPECT_EQ(value, 300000u);

    value = 7;
    for (const char* refused : {"", "   ", "99", "300001", "12a", "-5", "+200", "1 000",
                                "99999999999999999999999"})
        EXPECT_FALSE(ParseUnsignedInRange(refused, 100, 300000, value)) << refused;
    EXPECT_EQ(value, 7u);
}

TEST(DialogLayer, RangeMessageNamesTheBounds)
{
    EXPECT_EQ(RangeMessage(100, 300000), "Введите целое число от 100 до 300000.");
}

TEST(DialogLayer, FilterOfTheStringTableBecomesNulSeparated)
{
    const std::wstring filter = OpenFilterFromText(LoadText(IDS_LDR_FILTER));
    const std::wstring expected(L"Файлы прошивок (*.ldr)\0*.ldr\0Все файлы\0*.*\0\0", 44);
    EXPECT_EQ(filter, expected);
    // A text without its closing bars still ends the list.
    EXPECT_EQ(OpenFilterFromText("A|*.a"), std::wstring(L"A\0*.a\0\0", 7));
}
