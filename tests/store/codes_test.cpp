// ECO codes, dates and event names: the packed codes and their text forms.
#include "store/codes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

namespace vez {
namespace {

TEST(EcoCode, ReadsText)
{
    struct Case {
        const char* text;
        EcoCode code;
    };
    const Case cases[] = {
        {"B12", 11315},  {"B12/05", 11321}, {"b07", parseEco("B07")},
        {"F10", 0},      {"Cxy", 20204},    {"C", 20204},
        {"A00", 2},      {"A", 2},          {"E99/99", 50505},
        {"E99", 50405},  {"A100", 1},       {"B12/100", 11315},
        {"B12/", 11315}, {"", 0},           {"?", 0},
        {"e4", 40810},   {"A**", 2}, // the text of a bare letter reads back as number 0
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseEco(c.text), c.code) << c.text;
    EXPECT_EQ(parseEco("C00"), parseEco("C")); // a letter with no digits reads as number 0
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
    struct Case {
        const char* text;
        bool ok;
        int year, month, day;
    };
    const Case cases[] = {
        {"1998.03.04", true, 1998, 3, 4},  {"1998.3.4", true, 1998, 3, 4},
        {"1998:3:4", true, 1998, 3, 4},    {"1998/12/31", true, 1998, 12, 31},
        {"1998.??.??", true, 1998, 0, 0},  {"1998.3.??", true, 1998, 3, 0},
        {"1998", true, 1998, 0, 0},        {"1998.", true, 1998, 0, 0},
        {"????.??.??", true, 0, 0, 0},     {"?", true, 0, 0, 0},
        {"1998.13.01", false, 1998, 0, 0}, {"1998.00.01", false, 1998, 0, 0},
        {"1998.12.32", false, 1998, 12, 0}, {"1998.12.0", false, 1998, 12, 0},
        {"1998.12.3x", false, 1998, 12, 3}, {"1998-03-04", false, 1998, 0, 0},
        {"", false, 0, 0, 0},              {"-1998", false, 0, 0, 0},
        {"19??.??.??", false, 19, 0, 0},   {"2012.06.30", true, 2012, 6, 30},
    };
    for (const Case& c : cases) {
        int year = -1, month = -1, day = -1;
        const bool ok = parseDate(c.text, year, month, day);
        EXPECT_EQ(std::tuple(ok, year, month, day), std::tuple(c.ok, c.year, c.month, c.day))
            << c.text;
        // What is read writes without padding and reads back as itself.
        if (c.ok && c.year > 0) {
            EXPECT_TRUE(parseDate(formatDate(year, month, day), year, month, day));
            EXPECT_EQ(makeDateKey(year, month, day), makeDateKey(c.year, c.month, c.day));
        }
    }
    EXPECT_EQ(formatDate(1998, 3, 0), "1998.3.??");
    EXPECT_EQ(formatDate(0, 3, 4), "");
}

TEST(EventName, CutsTrailingNumberGroup)
{
    struct Case {
        const char* text;
        const char* cleaned;
        const char* number;
    };
    const Case cases[] = {
        {"  Hoogovens (12)  ", "Hoogovens", "12"}, {"Hoogovens ()", "Hoogovens", ""},
        {"Hoogovens (12a)", "Hoogovens (12a)", ""}, {"Hoogovens (1) (2)", "Hoogovens (1)", "2"},
        {"Tomsk RUS", "Tomsk RUS", ""}, {"(7)", "", "7"}, {"   ", "", ""}, {"12)", "12)", ""},
        {"Kasparov, G (2800)", "Kasparov, G", "2800"},
    };
    for (const Case& c : cases) {
        std::string number = "unchanged";
        EXPECT_EQ(cleanEventName(c.text, &number) + "|" + number,
                  std::string(c.cleaned) + "|" + c.number);
    }
    EXPECT_EQ(cleanEventName(" Wijk (3) "), "Wijk");
}

} // namespace
} // namespace vez
