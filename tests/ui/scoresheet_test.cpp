// The scoresheet: typed moves with completion and glyphs, the plies keys and clicks choose,
// the glyph menu, the colours of played and later moves, and scrolling after a resize.
#include <QMenu>
#include <QTest>

#include <sstream>
#include <tuple>

#include "chess/fen.h"
#include "chess/notation.h"
#include "ui/scoresheet.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

// The sheet's data for a line given in SAN from a FEN (the standard start when empty).
ScoresheetData sheetFor(const std::string& san, int currentPly, const char* fen = "")
{
    ScoresheetData data;
    if (*fen)
        EXPECT_TRUE(readFen(data.startPosition, fen));
    else
        setStandardStart(data.startPosition);
    data.blackFirst = data.startPosition.sideToMove == kBlack;
    Position position = data.startPosition;
    std::istringstream words(san);
    for (std::string word; words >> word;) {
        Move move = Move::None;
        EXPECT_TRUE(parseMove(position, move, nullptr, nullptr, word)) << word;
        data.moves.push_back({move, MoveGlyph::None, word});
        makeMove(position, move);
    }
    data.currentPly = currentPly;
    return data;
}

constexpr const char* kRuyLopez = "e4 e5 Nf3 Nc6 Bb5 a6";

class ScoresheetTest : public UiTest {
protected:
    ScoresheetTest() : m_sheet(&profile(), &m_beeper)
    {
        m_sheet.resize(250, 250);
        m_sheet.show();
        QObject::connect(&m_sheet, &Scoresheet::moveTyped,
                         [this](Move move, MoveGlyph glyph) { m_typed.emplace_back(move, glyph); });
        QObject::connect(&m_sheet, &Scoresheet::plyChosen,
                         [this](int ply) { m_plies.push_back(ply); });
    }
    Scoresheet m_sheet;
    std::vector<std::pair<Move, MoveGlyph>> m_typed;
    std::vector<int> m_plies;
};

// Typed moves, the plies keys and clicks choose, the glyph menu, and the current ply kept in
// view.
TEST_F(ScoresheetTest, TypingChoosingAnnotatingAndScrolling)
{
    // Typing follows the current ply, and descriptive notation.
    ScoresheetData data = sheetFor(kRuyLopez, 3);
    m_sheet.setData(data, false);
    QTest::keyClicks(&m_sheet, "Nc"); // Black's reply to 2. Nf3
    data.currentPly = 0;
    data.descriptive = true;
    m_sheet.setData(data, false);
    QTest::keyClicks(&m_sheet, "p-k4"); // upper-cased as typed
    EXPECT_EQ(m_typed, (decltype(m_typed){{data.moves[3].move, MoveGlyph::None},
                                          {data.moves[0].move, MoveGlyph::None}}));

    // Keys typed on a new sheet at the start ('\n' is Enter): the moves sent, the number of
    // stop beeps and the input left.
    using Typed = std::tuple<decltype(m_typed), int, std::string>;
    const auto typed = [this](bool autoComplete, const char* keys) {
        profile().writeProfileInt("Auto Complete", autoComplete ? 1 : 0);
        Scoresheet sheet(&profile(), &m_beeper);
        m_typed.clear();
        m_beeper.kinds.clear();
        QObject::connect(&sheet, &Scoresheet::moveTyped,
                         [this](Move move, MoveGlyph glyph) { m_typed.emplace_back(move, glyph); });
        sheet.setData(sheetFor("", 0), false);
        for (const char* k = keys; *k; ++k)
            pressKey(&sheet, *k == '\n' ? int(Qt::Key_Return) : *k);
        const auto stops =
            std::count(m_beeper.kinds.begin(), m_beeper.kinds.end(), BeepKind::StopSign);
        return Typed{m_typed, int(stops), sheet.input()};
    };
    const Move nf3 = sheetFor("Nf3", 0).moves[0].move;
    EXPECT_EQ(typed(true, "N"), (Typed{{}, 0, "N"}));
    EXPECT_EQ(typed(true, "Nf"), (Typed{{{nf3, MoveGlyph::None}}, 0, ""}));
    EXPECT_EQ(typed(true, "Nz"), (Typed{{}, 1, "N"}));
    EXPECT_EQ(typed(false, "N\n"), (Typed{{}, 1, "N"}));
    EXPECT_EQ(typed(false, "Nf3?!\n"), (Typed{{{nf3, MoveGlyph::Dubious}}, 0, ""}));
    EXPECT_EQ(typed(false, "Nf3"), (Typed{{}, 0, "Nf3"}));

    // The plies keys and double clicks choose: first what a key asks for from the ply given.
    const auto key = [this](int from, Qt::Key key) {
        m_plies.clear();
        m_sheet.setData(sheetFor(kRuyLopez, from), false);
        QTest::keyClick(&m_sheet, key);
        return m_plies;
    };
    using Plies = std::vector<std::vector<int>>;
    EXPECT_EQ((Plies{key(3, Qt::Key_Home), key(3, Qt::Key_Right), key(3, Qt::Key_Up),
                     key(0, Qt::Key_Left), key(5, Qt::Key_Down)}),
              (Plies{{0}, {4}, {1}, {0}, {6}}));
    const int line = m_sheet.lineHeight();
    const std::pair<QPoint, int> clicks[] = {
        {QPoint(2, line + 2), 0},
        {QPoint(m_sheet.numberWidth() + m_sheet.moveWidth() + 4, line + 2), 3},
        {QPoint(m_sheet.numberWidth() + 2, 10 * line + 2), 6},
    };
    for (const auto& [point, ply] : clicks) {
        m_plies.clear();
        QTest::mouseDClick(m_sheet.viewport(), Qt::LeftButton, {}, point);
        EXPECT_EQ(m_plies, std::vector<int>{ply}) << point.x() << "," << point.y();
    }
    // A game where Black moves first leaves White's first slot empty.
    m_sheet.setData(
        sheetFor("e5 Nf3 Nc6", 0, "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1"),
        false);
    grabbed(*m_sheet.viewport(), "scoresheet-black-first");
    EXPECT_EQ(m_sheet.plyAt(QPoint(m_sheet.numberWidth() + 4, line + 2)), 1);

    // The glyph menu annotates a move, and beeps below the last one.
    data = sheetFor(kRuyLopez, 0);
    m_sheet.setData(data, false);
    m_beeper.kinds.clear();
    std::vector<std::tuple<int, Move, MoveGlyph>> chosen;
    QObject::connect(&m_sheet, &Scoresheet::glyphChosen,
                     [&](int ply, Move move, MoveGlyph g) { chosen.emplace_back(ply, move, g); });
    auto trigger = [this](int ply, const QString& path) {
        auto menu = m_sheet.buildContextMenu(ply);
        QAction* action = findAction(*menu, path);
        ASSERT_NE(action, nullptr) << path.toStdString();
        action->trigger();
    };
    trigger(1, QStringLiteral("Move annotation/!"));
    trigger(4, QStringLiteral("Move annotation/?!"));
    trigger(6, QStringLiteral("Move annotation/!"));
    using T = std::tuple<int, Move, MoveGlyph>;
    EXPECT_EQ(chosen, (std::vector<T>{{1, data.moves[1].move, MoveGlyph::Good},
                                      {4, data.moves[4].move, MoveGlyph::Dubious}}));
    EXPECT_EQ(m_beeper.kinds, std::vector<BeepKind>{BeepKind::Simple});
    trigger(0, QStringLiteral("Auto completion"));
    EXPECT_EQ(profile().getProfileInt("Auto Complete", -1), 0);

    // The current ply stays in view after the pane is resized.
    std::string game;
    for (int i = 0; i < 20; ++i)
        game += " Nf3 Nf6 Ng1 Ng8";
    for (int height : {400, 60}) {
        m_sheet.resize(250, height);
        for (int ply : {0, 41, 80}) {
            m_sheet.setData(sheetFor(game, ply), false);
            const int row = ply / 2;
            EXPECT_GE(row, m_sheet.GetFirstLine()) << height << " ply " << ply;
            EXPECT_LT(row, m_sheet.GetFirstLine() + m_sheet.visibleLines())
                << height << " ply " << ply;
        }
    }
}

} // namespace
} // namespace vez::test
