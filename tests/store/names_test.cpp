#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/names.h"
#include "store_fixture.h"

namespace vez {
namespace {

using testing::StoreTest;
using NamesTest = StoreTest;

TEST_F(NamesTest, DictionariesStoreEachTextOnceAndListInOrder)
{
    const DbOffset a = internString("Wijk aan Zee", Dictionary::Event);
    const DbOffset b = internString("Linares", Dictionary::Event);
    EXPECT_EQ(internString("Wijk aan Zee", Dictionary::Event), a);
    EXPECT_NE(internString("Wijk aan Zee", Dictionary::Site), a); // dictionaries are apart
    EXPECT_EQ(dictionaryText(a), "Wijk aan Zee");
    EXPECT_EQ(dictionaryText(b), "Linares");
    internString("", Dictionary::Event); // an empty text is an entry of its own
    internString("Dortmund", Dictionary::Event);
    std::vector<std::string> events;
    listDictionary(Dictionary::Event, events);
    EXPECT_EQ(events, (std::vector<std::string>{"", "Dortmund", "Linares", "Wijk aan Zee"}));

    // The reference is the text itself, 8 bytes into a record of length + 13 rounded to 4.
    const std::uint32_t used = db->usedBytes;
    const DbOffset c = internString("abc", Dictionary::General);
    EXPECT_EQ(std::string(at<char>(c)), "abc");
    EXPECT_LE(db->usedBytes, used + 8008 + 16);
}

TEST_F(NamesTest, OverlongTextsAreCutToFitAPool)
{
    const std::string huge(20000, 'x');
    const DbOffset t = internString(huge, Dictionary::General);
    EXPECT_EQ(dictionaryText(t).size(), kMaxDictionaryText);
    EXPECT_EQ(internString(huge, Dictionary::General), t);
    const DbOffset p = internPlayer(std::string(9000, 'L') + ", John");
    EXPECT_EQ(playerDisplayName(p).size(), kMaxPlayerLastName + 6);
}

TEST(PlayerNames, Normalization)
{
    struct Case {
        const char* written;
        const char* normalized;
    };
    const Case cases[] = {
        {"Doe, John", "Doe, John"},
        {"John Doe", "Doe, John"},
        {"Doe J", "Doe, J."},
        {"Doe J.", "Doe, J."},
        {"Doe J. K.", "Doe, J. K."},
        {"  Kasparov ,  Garry  ", "Kasparov, Garry"},
        {"Kasparov, G", "Kasparov, G."},
        {"Carlsen", "Carlsen"},
        {"Carlsen (3)", "Carlsen"},
        {"Deep_Blue Computer", "Deep_Blue Computer"},
        {"Fritz * 8", "Fritz * 8"},
        {"Kasparov, .", "Kasparov"},
        {"Kasparov, . G", "Kasparov, G."},
        {"Lasker, Emanuel .", "Lasker, Emanuel"},
        // Two or more middle words are joined with single blanks.
        {"Doe, John  Paul   George", "Doe, John Paul George"},
        {"John Paul George Doe", "Doe, John Paul George"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(normalizePlayerName(c.written), c.normalized) << c.written;

    const PlayerName split = splitPlayerName("Doe, John Paul");
    EXPECT_EQ(split.last, "Doe");
    EXPECT_EQ(split.first, "John");
    EXPECT_EQ(split.middle, "Paul");
    EXPECT_EQ(splitPlayerName("Carlsen").last, "Carlsen");
    EXPECT_EQ(splitPlayerName("Doe,John").first, "John");
}

TEST(PlayerNames, Matching)
{
    EXPECT_TRUE(namesMatch("John", "John"));
    EXPECT_TRUE(namesMatch("", "John"));
    EXPECT_FALSE(namesMatch("John", ""));
    EXPECT_TRUE(namesMatch("John", "Jo"));
    EXPECT_TRUE(namesMatch("John", "J."));
    EXPECT_TRUE(namesMatch("John", "Jo."));
    EXPECT_FALSE(namesMatch("John", "Ja."));
    EXPECT_FALSE(namesMatch("J.", "John"));
    EXPECT_FALSE(namesMatch("John", "Jim"));
}

TEST_F(NamesTest, PlayersMatchTheWaysANameIsWritten)
{
    const DbOffset p = internPlayer("Doe, John");
    EXPECT_EQ(internPlayer("John Doe"), p);
    EXPECT_EQ(internPlayer("Doe J"), p);
    EXPECT_EQ(internPlayer("Doe, J."), p);
    EXPECT_EQ(playerDisplayName(p), "Doe, John"); // the fullest first name stays

    const DbOffset q = internPlayer("Roe, J.");
    EXPECT_EQ(internPlayer("Roe, Jane"), q);
    EXPECT_EQ(playerDisplayName(q), "Roe, Jane"); // a longer form replaces the initial
    EXPECT_NE(internPlayer("Roe, Mary"), q);
    EXPECT_EQ(internPlayer(""), 0u);

    const DbOffset r = internPlayer("Doe J. K.");
    EXPECT_EQ(r, p); // Doe, J. matches John; the middle initial is added
    EXPECT_EQ(playerDisplayName(p), "Doe, John K.");

    std::vector<std::string> players;
    listPlayers(players);
    EXPECT_EQ(players, (std::vector<std::string>{"Doe, John K.", "Roe, Jane", "Roe, Mary"}));
}

TEST_F(NamesTest, NormalizationCanBeSwitchedOff)
{
    db->nameNormalizationOff = 1;
    const DbOffset a = internPlayer("John Doe");
    EXPECT_EQ(playerDisplayName(a), "John Doe");
    EXPECT_NE(internPlayer("Doe, John"), a);
}

TEST_F(NamesTest, AliasesShowTheKeptName)
{
    const DbOffset kept = internPlayer("Kasparov, Garry");
    const DbOffset alias = internPlayer("Kasparow, G.");
    const DbOffset other = internPlayer("Karpov, Anatoly");
    aliasPlayer("Kasparov, Garry", "Kasparow, G.");
    EXPECT_EQ(playerDisplayName(alias), "Kasparov, Garry");
    EXPECT_EQ(playerDisplayName(kept), "Kasparov, Garry");
    std::vector<std::string> players;
    listPlayers(players);
    EXPECT_EQ(players, (std::vector<std::string>{"Karpov, Anatoly", "Kasparov, Garry"}));

    // A third name joins the ring; aliasing two names of one ring again keeps it whole.
    aliasPlayer("Kasparov, Garry", "Kasparoff");
    aliasPlayer("Kasparov, Garry", "Kasparow, G.");
    EXPECT_EQ(playerDisplayName(internPlayer("Kasparoff")), "Kasparov, Garry");
    EXPECT_EQ(playerDisplayName(alias), "Kasparov, Garry");
    EXPECT_EQ(playerDisplayName(other), "Karpov, Anatoly");
    DbOffset q = kept;
    int ring = 0;
    do {
        q = at<Player>(q)->nextAlias;
        ++ring;
    } while (q != kept && ring < 10);
    EXPECT_EQ(ring, 3);
}

} // namespace
} // namespace vez
