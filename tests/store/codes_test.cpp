// ECO codes, dates and event names: the packed codes and their text forms.
#include "store/codes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <utility>

namespace vez {
namespace {

TEST(EcoCode, ReadsText)
{
    // A letter with no digits reads as number 0, and so does the text of a bare letter.
    using Row = std::pair<const char*, EcoCode>;
    const Row cases[] = {
        {"B12", 11315},  {"B12/05", 11321}, {"b07", parseEco("B07")},
        {"F10", 0},      {"Cxy", 20204},    {"C", 20204},
        {"A00", 2},      {"A", 2},          {"E99/99", 50505},
        {"E99", 50405},  {"A100", 1},       {"B12/100", 11315},
        {"B12/", 11315}, {"", 0},           {"?", 0},
        {"e4", 40810},   {"A**", 2},        {"C00", 20204},
    };
    for (const auto& [text, code] : cases)
        EXPECT_EQ(parseEco(text), code) << text;
}

TEST(EcoCode, OrdersByLetterNumberAndSubNumber)
{
    // Every code written and read again is itself, and text order is code order.
    EXPECT_EQ(formatEco(0), "");
    EcoCode previous = 0;
    for (char letter = 'A'; letter <= 'E'; ++letter) {
        const EcoCode bare = parseEco(std::string(1, letter) + "100"); // number out of range
        EXPECT_EQ(formatEco(bare), std::string(1, letter) + "**");
        EXPECT_GT(bare, previous);
        previous = bare;
        for (int number = 0; number < 100; ++number) {
            char text[16];
            std::snprintf(text, sizeof text, "%c%02d", letter, number);
            const EcoCode code = parseEco(text);
            EXPECT_GT(code, previous) << text;
            EXPECT_EQ(formatEco(code), text);
            previous = code;
            for (int sub = 0; sub < 100; sub += 33) {
                std::snprintf(text, sizeof text, "%c%02d/%02d", letter, number, sub);
                const EcoCode subCode = parseEco(text);
                EXPECT_GT(subCode, previous) << text;
                EXPECT_EQ(formatEco(subCode), text);
                previous = subCode;
            }
        }
    }
}

TEST(Date, ReadsAndWritesText)
{
    using Row = std::tuple<const char*, bool, int, int, int>;
    const Row cases[] = {
        {"1998.03.04", true, 1998, 3, 4},
        {"1998.3.4", true, 1998, 3, 4},
        {"1998:3:4", true, 1998, 3, 4},
        {"1998/12/31", true, 1998, 12, 31},
        {"1998.??.??", true, 1998, 0, 0},
        {"1998.3.??", true, 1998, 3, 0},
        {"1998", true, 1998, 0, 0},
        {"1998.", true, 1998, 0, 0},
        {"????.??.??", true, 0, 0, 0},
        {"?", true, 0, 0, 0},
        {"1998.13.01", false, 1998, 0, 0},
        {"1998.00.01", false, 1998, 0, 0},
        {"1998.12.32", false, 1998, 12, 0},
        {"1998.12.0", false, 1998, 12, 0},
        {"1998.12.3x", false, 1998, 12, 3},
        {"1998-03-04", false, 1998, 0, 0},
        {"", false, 0, 0, 0},
        {"-1998", false, 0, 0, 0},
        {"19??.??.??", false, 19, 0, 0},
        {"2012.06.30", true, 2012, 6, 30},
    };
    for (const auto& [text, ok, y, m, d] : cases) {
        int year = -1, month = -1, day = -1;
        const bool read = parseDate(text, year, month, day);
        EXPECT_EQ(std::tuple(read, year, month, day), std::tuple(ok, y, m, d)) << text;
        // What is read writes without padding and reads back as itself.
        if (ok && y > 0) {
            EXPECT_TRUE(parseDate(formatDate(year, month, day), year, month, day));
            EXPECT_EQ(makeDateKey(year, month, day), makeDateKey(y, m, d));
        }
    }
    EXPECT_EQ(formatDate(1998, 3, 0), "1998.3.??");
    EXPECT_EQ(formatDate(0, 3, 4), "");
}

TEST(EventName, CutsTrailingNumberGroup)
{
    using Row = std::tuple<const char*, const char*, const char*>;
    const Row cases[] = {
        {"  Hoogovens (12)  ", "Hoogovens", "12"},
        {"Hoogovens ()", "Hoogovens", ""},
        {"Hoogovens (12a)", "Hoogovens (12a)", ""},
        {"Hoogovens (1) (2)", "Hoogovens (1)", "2"},
        {"Tomsk RUS", "Tomsk RUS", ""},
        {"(7)", "", "7"},
        {"   ", "", ""},
        {"12)", "12)", ""},
        {"Kasparov, G (2800)", "Kasparov, G", "2800"},
    };
    for (const auto& [text, cleaned, want] : cases) {
        std::string number = "unchanged";
        EXPECT_EQ(cleanEventName(text, &number) + "|" + number, std::string(cleaned) + "|" + want);
    }
    EXPECT_EQ(cleanEventName(" Wijk (3) "), "Wijk");
}

} // namespace
} // namespace vez
