#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "base/environment.h"
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

TEST(Strings, EveryNamedIdHasItsText)
{
    // The table is searched by halves: an entry out of order is as lost as a missing one.
    std::ifstream header(TRELVO_SOURCE_DIR "/src/base/string_ids.h");
    std::stringstream text;
    text << header.rdbuf();
    const std::string ids = text.str();
    const std::regex entry(R"((IDS_\w+) = (\d+),)");
    unsigned count = 0;
    for (std::sregex_iterator it(ids.begin(), ids.end(), entry), end; it != end; ++it, ++count)
        EXPECT_STRNE(LoadText(unsigned(std::stoul((*it)[2]))), "") << (*it)[1];
    EXPECT_GT(count, 150u);
}

TEST(Strings, ProgressTextFormat)
{
    EXPECT_EQ(StringPrintf(LoadText(IDS_PROGRESS), 25ul, 11520ul), "Выполнено:  25% (11520 байт/cек.)");
    EXPECT_EQ(StringPrintf(LoadText(IDS_PORT_OPEN_FAILED), 87ul), "Ошибка открытия COM-порта (87)");
}

TEST(ExpandVariables, WhatIsSetIsReplacedWhatIsNotStaysAsWritten)
{
    const CVariableLookup lookup = [](const std::string& name) -> std::optional<std::string> {
        if (name == "COMPUTERNAME")
            return std::string("ST-04");
        if (name == "LINE_2")
            return std::string("2");
        if (name == "EMPTY")
            return std::string();
        return std::nullopt;
    };
    const auto both = [&](const std::string& text) { return ExpandVariables(text, lookup, true); };
    EXPECT_EQ(both("\\\\srv\\logs\\%COMPUTERNAME%.jsonl"), "\\\\srv\\logs\\ST-04.jsonl");
    EXPECT_EQ(both("/logs/$COMPUTERNAME-${LINE_2}x$LINE_2.jsonl"), "/logs/ST-04-2x2.jsonl");
    EXPECT_EQ(both("a%EMPTY%b${EMPTY}c"), "abc");
    // Not set, malformed or lone: kept, and a closing '%' may open the next name.
    EXPECT_EQ(both("%NOPE%COMPUTERNAME%"), "%NOPEST-04");
    EXPECT_EQ(both("100%% $ ${ ${LINE_2 $9 %COMPUTERNAME $NOPE ${NOPE}"),
              "100%% $ ${ ${LINE_2 $9 %COMPUTERNAME $NOPE ${NOPE}");
    // Windows names: a '$' is part of the file's name.
    EXPECT_EQ(ExpandVariables("C:\\$logs\\%COMPUTERNAME%", lookup, false), "C:\\$logs\\ST-04");
}
