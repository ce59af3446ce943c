// The interpreter driven line by line, without sockets: every command's replies, the
// collection modes, access rights, logins and the log.
#include <gmock/gmock.h>

#include <set>
#include <tuple>

#include "chess/fen.h"
#include "chess/notation.h"
#include "interchange/pgn_writer.h"
#include "server/protocol.h"
#include "server_fixture.h"
#include "store/graph.h"

namespace vez::test {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

constexpr const char* kStart = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

class ProtocolTest : public ServerDocumentTest {
protected:
    void SetUp() override
    {
        ServerDocumentTest::SetUp();
        context = std::make_unique<ServerContext>(
            ServerContext{*doc, AccessFlags::fromBits(166), path("passwords"), &log});
        // Blank and half-filled lines, as an edited password file has them.
        writeFile(path("passwords"), "alice wonder land\n\ncarol\n dave\nerin \r\nbob secret\r\n");
        ASSERT_TRUE(log.open(path("server.log")));
        connect("127.0.0.1");
    }
    void connect(const char* address)
    {
        in = std::make_unique<Interpreter>(*context, address);
        EXPECT_TRUE(in->admitted) << address;
    }
    std::string ask(std::string_view lines, bool open = true) { return in->ask(lines, open); }

    ServerLog log;
    std::unique_ptr<ServerContext> context;
    std::unique_ptr<Interpreter> in;
};

TEST_F(ProtocolTest, HelpByeFailedSendsAndTheGreeting)
{
    const std::string help = ask("help");
    EXPECT_THAT(help, StartsWith("+commands:\r\n user <user> <password>\r\n bye\r\n"));
    EXPECT_THAT(help, testing::EndsWith("\r\n rm gameset <name>\r\n+ok\r\n"));
    EXPECT_EQ(ask("?\nhelp me\n??"), help + help + help);
    // "bye" and a reply that cannot be sent end the connection.
    EXPECT_EQ(ask("bye", false), "+bye\r\n");
    connect("127.0.0.1");
    in->accept = false;
    EXPECT_EQ(ask("stats\nplayers\nhelp", false), "");
    ASSERT_TRUE(doc->onNewNonstandardDocument());
    EXPECT_EQ(serverGreeting(*doc), "+VEZ 1.5 server (nonstandard database)\r\n");
}

TEST_F(ProtocolTest, WalksPositionsAndReadsTheirStatistics)
{
    // Counted independently from the sample's result tags: 60 games, 26 won by White, 12
    // by Black, every one from the standard start.
    EXPECT_EQ(ask("where"), std::string("+at ") + kStart + "\r\n");
    EXPECT_EQ(ask("stats"), "+games 60 1-0 26 0-1 12\r\n");

    EXPECT_EQ(ask("moves"), "+moves Nf3 e4 c4 d4\r\n");

    const std::pair<const char*, std::string> table[] = {
        {"move e4", "+at rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1\r\n"},
        {"move e4", "-bad move\r\n"},  // Black to move
        {"move Ke7", "-bad move\r\n"}, // blocked: not a move of the position
        {"move c5", "+at rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1\r\n"},
        {"where", "+at rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1\r\n"},
        {"pos 8/8/8/8", "-bad FEN\r\n"},
        {"pos 8/8/8/8/8/8/8/K6k w - - 0 1", "+ok\r\n"},
        {"stats", "+games 0 1-0 0 0-1 0\r\n"},
        {"moves", "-no moves\r\n"},
        {"score", "-no score\r\n"},
        {"reset", "+ok\r\n"},
        {"where", std::string("+at ") + kStart + "\r\n"},
        {"frobnicate", "-bad command, try 'help'\r\n"},
        {"stats ", "-bad command, try 'help'\r\n"},
        {"STATS", "-bad command, try 'help'\r\n"},
        {"pos", "-bad command, try 'help'\r\n"},
    };
    for (const auto& [line, reply] : table)
        EXPECT_EQ(ask(line), reply) << line;
}

TEST_F(ProtocolTest, SendsGamesAndNameLists)
{
    Game stored;
    ASSERT_TRUE(doc->readGame(0, stored, true));
    const std::string pgn = ask("pgn 0");
    EXPECT_EQ(pgn, "+game\n" + writeGameToText(stored, false) + "+ok\n");
    EXPECT_EQ(ask("pgn first"), pgn); // not a number: game 0
    EXPECT_EQ(ask("pgn 999\npgn -1\npgn 99999999999999999999"),
              "-nogame\r\n-nogame\r\n-nogame\r\n");

    EXPECT_EQ(ask("events"), "+events\r\n65th ch-RUS HL\r\nCez Trophy 2012\r\n+ok\r\n");
    EXPECT_THAT(ask("tags"), MatchesRegex("\\+tags\r\n(.*\r\n)?WhiteElo\r\n.*\\+ok\r\n"));
    EXPECT_THAT(ask("players"),
                MatchesRegex("\\+players\r\n(.*\r\n)?Svidler, P\\.\r\n.*\\+ok\r\n"));
    EXPECT_EQ(ask("gamesets"), "+gamesets\r\n+ok\r\n");
}

TEST_F(ProtocolTest, DefinesDescribesAndRemovesGamesets)
{
    EXPECT_EQ(
        ask("new gameset Cez\nevent Cez Trophy 2012\n.\nnew gameset Wins\noutcome Win\n"
            "color White\n.\nnew gameset Both\nrule Union\nparent Cez\nother Wins\n."),
        "+go, end with '.'\r\n+ok\r\n+go, end with '.'\r\n+ok\r\n+go, end with '.'\r\n+ok\r\n");
    const std::vector<int> cez = doc->gamesetMembers("Cez");
    const std::vector<int> wins = doc->gamesetMembers("Wins");
    ASSERT_TRUE(!cez.empty() && !wins.empty());
    std::set<int> both(cez.begin(), cez.end());
    both.insert(wins.begin(), wins.end());
    EXPECT_EQ(ask("gameset size Both"), "+size " + std::to_string(both.size()) + "\r\n");
    std::string listed = "+games\r\n";
    for (int number : both)
        listed += std::to_string(number) + "\r\n";
    EXPECT_EQ(ask("gameset games Both"), listed + "+ok\r\n");
    EXPECT_EQ(ask("gameset desc Both"),
              "+gameset\r\nparent Cez\r\nother Wins\r\nrule Union\r\n+ok\r\n");
    EXPECT_EQ(ask("gamesets"), "+gamesets\r\nCez\r\nWins\r\nBoth\r\n+ok\r\n");

    const std::pair<const char*, const char*> table[] = {
        {"new gameset Bad\nevnt Cez Trophy 2012\n.", "+go, end with '.'\r\n-bad constraint\r\n"},
        {"new gameset Bad\nparent Nowhere\n.", "+go, end with '.'\r\n-gameset creation failed\r\n"},
        {"new gameset Cez", "-bad name\r\n"},
        {"new gameset ", "-bad name\r\n"},
        {"new gameset Empty\nevent No Such Event\n.", "+go, end with '.'\r\n+ok\r\n"},
        {"gameset games Empty", "-empty\n"},
        {"gameset size Empty", "+size 0\r\n"},
        {"gameset size Nothing", "-bad name\r\n"},
        {"gameset games Nothing", "-bad name\r\n"},
        {"rm gameset Cez", "-can't delete\r\n"},
        {"rm gameset Nothing", "-bad name\r\n"},
        {"rm gameset Both", "+ok\r\n"},
        {"rm gameset Cez", "+ok\r\n"},
    };
    for (const auto& [lines, reply] : table) {
        EXPECT_EQ(ask(lines), reply) << lines;
        // The collection mode is over whatever the outcome.
        EXPECT_EQ(in->session.mode(), CollectionMode::None) << lines;
    }
    EXPECT_EQ(doc->gamesetNames(), (std::vector<std::string>{"Wins", "Empty"}));
}

TEST_F(ProtocolTest, StoresAndRemovesGames)
{
    EXPECT_EQ(ask("new pgn\n[Event \"Upload\"]\n[White \"Kasparov, G.\"]\n[Black \"Short, N.\"]\n"
                  "[Date \"1993.??.??\"]\n[Result \"1-0\"]\n\n1. e4 e5 2. Nf3 1-0\n."),
              "+go, end with '.'\r\n+game 60: Kasparov, G. -- Short, N. [1993]\r\n");
    Game stored;
    ASSERT_TRUE(doc->readGame(60, stored, true));
    EXPECT_EQ(stored.event, "Upload");
    EXPECT_FALSE(stored.hasTag("Source")); // nobody logged in
    EXPECT_EQ(ask("stats"), "+games 61 1-0 27 0-1 12\r\n");

    EXPECT_EQ(ask("new pgn\n."), "+go, end with '.'\r\n-no game\r\n");
    const std::string bad = ask("new pgn\n[Result \"*\"]\n\n1. e4 e5 2. Ke3 *\n.");
    EXPECT_THAT(bad, MatchesRegex("\\+go, end with '\\.'\r\n-bad game, line 3: .*Ke3.*\r\n"));

    // A logged-in user's games carry the user as their source.
    EXPECT_EQ(ask("user bob secret"), "+open\r\n");
    EXPECT_THAT(ask("new pgn\n[Result \"0-1\"]\n\n1. f3 e5 2. g4 Qh4# 0-1\n."),
                HasSubstr("+game 61: "));
    ASSERT_TRUE(doc->readGame(61, stored, true));
    EXPECT_EQ(stored.getTag("Source"), "bob");
    EXPECT_TRUE(doc->gamesetExists("Games from bob"));

    // Game 2 is a win for Black.
    EXPECT_EQ(ask("rm game 2\nrm game 2\npgn 2\nrm game -4\nstats"),
              "+ok\r\n-nogame\r\n-nogame\r\n-nogame\r\n+games 61 1-0 27 0-1 12\r\n");
}

TEST_F(ProtocolTest, StoresNotesPositionsScoresAndAnnotations)
{
    Position start;
    setStandardStart(start);
    EXPECT_EQ(ask("new notes\nfirst line\n\nsecond line\n."), "+go, end with '.'\r\n+ok\r\n");
    EXPECT_EQ(ask("notes"), "+notes\r\nfirst line\r\n\r\nsecond line\r\n.\r\n+ok\r\n");

    // A line that is a single "." would end the client's reading: it goes out as " .".
    doc->setPositionNote(start, "above\r\n.\r\nbelow", nullptr);
    EXPECT_EQ(ask("notes"), "+notes\r\nabove\r\n .\r\nbelow\r\n.\r\n+ok\r\n");
    ask("move d4");
    EXPECT_EQ(ask("notes"), "+notes\r\n.\r\n+ok\r\n");

    EXPECT_EQ(ask("new epd r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - ce 35; "
                  "c0 'Two knights';\npos r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w "
                  "KQkq - 2 3\nscore\nnotes"),
              "+ok\r\n+ok\r\n+score +0.35\r\n+notes\r\nTwo knights\r\n.\r\n+ok\r\n");
    // A position the store refuses (33 pieces) is no "+ok" either.
    EXPECT_EQ(ask("new epd not a position\n"
                  "new epd rnbqkbnr/pppppppp/8/8/3Q4/8/PPPPPPPP/RNBQKBNR w KQkq -"),
              "-badepd\r\n-badepd\r\n");

    // The store keeps scores in a byte code: "score" answers what it kept.
    const std::pair<const char*, const char*> scores[] = {
        {"new score 1.5\nscore", "+ok\r\n+score +1.47\r\n"},
        {"new score -0.257\nscore", "+ok\r\n+score -0.25\r\n"},
        {"new score +3\nscore", "+ok\r\n+score +2.91\r\n"},
        {"new score 2x\nscore", "-bad score\r\n+score +2.91\r\n"},
        {"new score nan\nscore", "-bad score\r\n+score +2.91\r\n"},
        {"new score 1e300\nscore", "-bad score\r\n+score +2.91\r\n"},
        {"new score \nscore", "+ok\r\n-no score\r\n"},
    };
    for (const auto& [lines, replies] : scores)
        EXPECT_EQ(ask(lines), replies) << lines;

    ask("reset");
    const auto glyphOfE4 = [&] {
        for (const GraphEdge& edge : doc->movesFrom(start))
            if (formatMove(start, edge.move, false, MoveGlyph::None, false) == "e4")
                return edge.glyph;
        return MoveGlyph(99);
    };
    EXPECT_EQ(ask("new anno e4!?"), "+ok\r\n");
    EXPECT_EQ(glyphOfE4(), MoveGlyph(5));
    EXPECT_EQ(ask("where"), std::string("+at ") + kStart + "\r\n");
    EXPECT_EQ(ask("new anno e4"), "+ok\r\n");
    EXPECT_EQ(glyphOfE4(), MoveGlyph::None);
    EXPECT_EQ(ask("new anno h4!\nnew anno Qd5"), "-bad move\r\n-bad move\r\n"); // no game plays h4
}

// Rights as "server perm" grants them, and what the user command makes of them.
TEST_F(ProtocolTest, AccessRightsAndLogins)
{
    // "server perm", the client's address, its login, and the replies to the login, to
    // "stats" and to "new pgn" after it.
    const std::tuple<int, const char*, const char*, const char*, const char*, const char*> table[] =
        {
            // Default 166: local clients open; network clients after a login only.
            {166, "127.0.0.1", nullptr, "", "+games", "+go"},
            {166, "127.0.0.2", nullptr, "", "-sorry", "-sorry"},
            {166, "127.0.0.2", "alice wonder land", "+open\r\n", "+games", "+go"},
            {166, "127.0.0.2", "alice wonder", "-sorry\r\n", "-sorry", "-sorry"},
            // Lines without both a name and a password let nobody in.
            {166, "127.0.0.2", "", "-sorry\r\n", "-sorry", "-sorry"},
            {166, "127.0.0.2", "carol", "-sorry\r\n", "-sorry", "-sorry"},
            {166, "127.0.0.2", "erin ", "-sorry\r\n", "-sorry", "-sorry"},
            {166, "10.1.2.3", "bob secret", "+open\r\n", "+games", "+go"},
            // Local read-only for everybody, known users read-only too.
            {0xd0, "127.0.0.1", nullptr, "", "+games", "-sorry"},
            {0xd0, "127.0.0.1", "bob secret", "+rdonly\r\n", "+games", "-sorry"}, // no local login
            {0xe0, "127.0.0.1", "bob secret", "+open\r\n", "+games", "+go"},
            // Network: others read-only, known users open.
            {0x0e, "127.0.0.2", nullptr, "", "+games", "-sorry"},
            {0x0e, "127.0.0.2", "alice wonder land", "+open\r\n", "+games", "+go"},
            {0x0f, "127.0.0.2", "alice wonder land", "+rdonly\r\n", "+games", "-sorry"},
            // Only known local users get in.
            {0x20, "127.0.0.1", nullptr, "", "-sorry", "-sorry"},
            {0x20, "127.0.0.1", "bob secret", "+open\r\n", "+games", "+go"},
        };
    for (const auto& [perm, address, login, loginReply, statsReply, writeReply] : table) {
        SCOPED_TRACE(std::to_string(perm) + " " + address + " " + (login ? login : "-"));
        context->flags = AccessFlags::fromBits(perm);
        connect(address);
        EXPECT_EQ(login ? ask(std::string("user ") + login) : "", loginReply);
        EXPECT_THAT(ask("help"), StartsWith("+commands:")); // always allowed
        EXPECT_THAT(ask("stats"), StartsWith(statsReply));
        EXPECT_THAT(ask("new pgn"), StartsWith(writeReply));
    }

    // Without a password file nobody logs in.
    context->passwordFile = path("missing");
    context->flags = AccessFlags::fromBits(166);
    connect("127.0.0.2");
    EXPECT_EQ(ask("user bob secret"), "-sorry\r\n");
    // Without a network flag a network client is not admitted at all.
    context->flags = AccessFlags::fromBits(0xf0);
    EXPECT_FALSE(Interpreter(*context, "192.0.2.1").admitted);
}

TEST_F(ProtocolTest, LogsEveryEventWithThePeer)
{
    ask("stats\nuser bob secret\nnew notes\ncollected lines are not logged\n.\n"
        "new pgn\n[White \"A\"]\n[Black \"B\"]\n[Result \"*\"]\n\n1. e4 *\n.");
    log.close();
    const std::string text = readFile(path("server.log"));
    EXPECT_THAT(text,
                MatchesRegex("127\\.0\\.0\\.1:4711: connected [0-2][0-9]:[0-5][0-9]:[0-6][0-9] "
                             "[01][0-9]/[0-3][0-9]/20[0-9][0-9]\r\n.*"));
    EXPECT_THAT(text,
                HasSubstr("\r\n127.0.0.1:4711: <stats>\r\n127.0.0.1:4711: <user bob ********>\r\n"
                          "127.0.0.1:4711: user bob logged in\r\n127.0.0.1:4711: <new notes>\r\n"
                          "127.0.0.1:4711: <new pgn>\r\n127.0.0.1:4711: new game A -- B [?]\r\n"));
    EXPECT_THAT(text, Not(HasSubstr("collected")));
    EXPECT_THAT(text, Not(HasSubstr("secret")));
}

} // namespace
} // namespace vez::test
