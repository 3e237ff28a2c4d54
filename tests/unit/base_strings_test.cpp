#include <gtest/gtest.h>

#include "base/strings.h"

TEST(Strings, TableIsSortedAndComplete)
{
    // Lookup is a binary search, so an unsorted table would lose entries.
    const unsigned ids[] = {1, 4, 9, 10, 18, 20, 24, 33, 38, 43, 53, 90, 103, 107, 200,
                            214, 220, 226, 261, 270, 287, 309, 329};
    for (unsigned id : ids)
        EXPECT_STRNE(LoadText(id), "") << id;
    EXPECT_STREQ(LoadText(2), "");
    EXPECT_STREQ(LoadText(325), "");
}

TEST(Strings, ProgressTextFormat)
{
    EXPECT_EQ(StringPrintf(LoadText(IDS_PROGRESS), 25ul, 11520ul), "Выполнено:  25% (11520 байт/cек.)");
    EXPECT_EQ(StringPrintf(LoadText(IDS_PORT_OPEN_FAILED), 87ul), "Ошибка открытия COM-порта (87)");
}
