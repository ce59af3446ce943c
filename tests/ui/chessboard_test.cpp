// The board as a user sees and drives it: pixels of its picture at computed points, drags,
// menus, set-up mode by keyboard and the piece pictures. The arrows it shows are checked
// through the analysis windows.
#include "support/board.h"
#include "ui/chessboard.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

class ScriptedBoardDialogs final : public ChessboardDialogs {
public:
    std::optional<QColor> chooseColour(const QColor&) override { return colour; }
    std::optional<std::pair<QString, int>> chooseFont() override { return {}; }
    std::string chooseBitmapFile() override { return {}; }
    std::optional<QColor> colour;
};

class BoardTest : public UiTest {
protected:
    std::unique_ptr<Chessboard> makeBoard(int resource = kBuiltInPieces)
    {
        ChessboardSetup setup = boardSetup(resource);
        setup.dialogs = &m_dialogs;
        auto board = std::make_unique<Chessboard>(setup);
        QObject::connect(board.get(), &Chessboard::moveChosen,
                         [this](Move move) { m_moves.push_back(move); });
        return board;
    }
    ScriptedBoardDialogs m_dialogs;
    std::vector<Move> m_moves;
};

TEST_F(BoardTest, SquaresTakeTheirColoursAndThePerspectiveTurnsTheBoard)
{
    // The position, the perspective, and whether h8 is at the bottom left.
    const std::tuple<const char*, int, bool> cases[] = {
        {"7K/8/8/8/8/8/8/k7 w - - 0 1", Chessboard::WhiteBottom, false},
        {"7K/8/8/8/8/8/8/k7 b - - 0 1", Chessboard::PlayerBottom, true},
        {"7K/8/8/8/8/8/8/k7 w - - 0 1", Chessboard::OpponentBottom, true},
    };
    profile().writeProfileInt("Chessbd dark RGB", 0x0000FF);  // red, in the low byte
    profile().writeProfileInt("Chessbd light RGB", 0xFF0000); // blue
    auto board = makeBoard();
    for (const auto& [fen, perspective, h8BottomLeft] : cases) {
        board->SetPosition(test::positionFrom(fen));
        board->setPerspective(perspective);
        const QImage image = grabbed(*board, "board-perspective");
        EXPECT_EQ(board->squareAt(QPoint(16, 256 - 16)), h8BottomLeft ? 63 : 0) << fen;
        // the picture follows: a1 is dark wherever it stands, and h8's king is drawn.
        EXPECT_EQ(image.pixel(board->squareOrigin(0) + QPoint(1, 1)), qRgb(255, 0, 0)) << fen;
        EXPECT_NE(image.pixel(centre(*board, 63)), qRgb(255, 0, 0)) << fen;
        EXPECT_EQ(image.pixel(centre(*board, 62)), qRgb(0, 0, 255)) << fen;
    }
}

// A drag reports the move it makes, beeps at an illegal one, and leaves the board as it was.
TEST_F(BoardTest, DraggingAPieceReportsTheMoveWithoutPlayingIt)
{
    auto board = makeBoard();
    board->show();
    // The moves reported and the number of beeps.
    const auto dragged = [&](const char* fen, int from, int to, bool nonstandard,
                             PieceType promotion) {
        m_moves.clear();
        m_beeper.kinds.clear();
        board->Reset(nonstandard, false);
        board->setPromotionPiece(promotion);
        const Position position = test::positionFrom(fen);
        board->SetPosition(position);
        drag(board.get(), centre(*board, from), centre(*board, to));
        EXPECT_TRUE(samePosition(board->GetPosition(), position));
        return std::pair(m_moves, int(m_beeper.kinds.size()));
    };
    using R = std::pair<std::vector<Move>, int>;
    const char* start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
    const char* promote = "8/4P3/8/8/8/k7/8/K7 w - - 0 1";
    EXPECT_EQ(dragged(start, 12, 36, false, PieceType::Queen), R({}, 1));
    EXPECT_EQ(dragged(start, 12, 36, true, PieceType::Queen),
              R({encodeMove(12, 36, PieceType::Pawn)}, 0));
    EXPECT_EQ(dragged(start, 12, 12, false, PieceType::Queen), R({}, 0));
    EXPECT_EQ(dragged(promote, 52, 60, false, PieceType::Knight),
              R({encodeMove(52, 60, PieceType::Knight)}, 0));
    EXPECT_EQ(dragged(promote, 52, 60, true, PieceType::King),
              R({encodeMove(52, 60, PieceType::King)}, 0));
}

TEST_F(BoardTest, ContextMenuOffersTheArrowMovesAndWritesArrowSettings)
{
    auto board = makeBoard();
    board->Reset(true, false);
    EXPECT_TRUE(findAction(*board->buildContextMenu(), "Promotion/King")->isEnabled());
    board->Reset(false, false);
    board->AddArrow(encodeMove(12, 28, PieceType::Pawn), 1, 0);
    board->AddArrow(encodeMove(11, 27, PieceType::Pawn), 0, 0);
    board->AddArrow(encodeMove(1, 18, PieceType::Knight), 2, 0);
    board->AddArrow(encodeMove(6, 21, PieceType::Knight), 3, 0);
    board->AddArrow(encodeMove(2, 0, PieceType::Bishop), 4, 2); // nonsense: formatted as b-a
    grabbed(*board, "board-start-arrows");
    auto menu = board->buildContextMenu();
    EXPECT_FALSE(findAction(*menu, "Promotion/King")->isEnabled());
    // The texts of a submenu's entries.
    const auto texts = [&menu](const char* path) {
        QStringList texts;
        for (QAction* action : findAction(*menu, path)->menu()->actions())
            texts << action->text();
        return texts.join(' ');
    };
    EXPECT_EQ(texts("Known moves") + "|" + texts("Legal moves"), "e4 Nf3 c1-a1|d4");
    findAction(*menu, "Known moves/Nf3")->trigger();
    EXPECT_EQ(m_moves, std::vector<Move>{encodeMove(6, 21, PieceType::Knight)});

    m_dialogs.colour = QColor(10, 20, 30);
    findAction(*menu, "Squares/Dark squares...")->trigger();
    EXPECT_EQ(profile().getProfileInt("Chessbd dark RGB", -1), 10 | 20 << 8 | 30 << 16);
}

// Escape enters set-up mode and leaves it only with at most 32 pieces on the board; keys and
// menus place the pieces.
TEST_F(BoardTest, SetupKeysAndMenusPlacePieces)
{
    auto board = makeBoard();
    std::vector<bool> flips;
    QObject::connect(board.get(), &Chessboard::setupModeChanged,
                     [&flips](bool on) { flips.push_back(on); });
    QTest::keyClick(board.get(), 'a');
    EXPECT_EQ(m_beeper.kinds, std::vector<BeepKind>{BeepKind::Exclamation});
    QTest::keyClick(board.get(), Qt::Key_Escape);
    ASSERT_TRUE(board->setupMode());
    // Qt keys or characters, and the board part of the FEN afterwards. The cursor starts at
    // the top-left square (a8 with White at the bottom).
    const std::pair<std::vector<int>, const char*> steps[] = {
        {{'x'}, "8/8/8/8/8/8/8/8"},
        {{'r', 'R'}, "Rr6/8/8/8/8/8/8/8"},
        {{Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, 'q'}, "Rr6/8/8/8/8/8/8/7Q"},
        {{'k', Qt::Key_Up, 'P'}, "Kr6/8/8/8/8/8/8/1p5Q"},
        {{Qt::Key_Down, Qt::Key_Right, ' '}, "Kr6/8/8/8/8/8/8/1p5Q"},
        {{'s'}, "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR"},
    };
    for (const auto& [keys, expected] : steps) {
        for (int key : keys)
            pressKey(board.get(), key);
        const std::string fen = writeFen(board->GetPosition(), 0, 1);
        EXPECT_EQ(fen.substr(0, fen.find(' ')), expected);
    }
    m_beeper.kinds.clear();
    QTest::keyClick(board.get(), 'z');
    EXPECT_EQ(m_beeper.kinds, std::vector<BeepKind>{BeepKind::Exclamation});

    board->SetPosition(
        test::positionFrom("rnbqkbnr/pppppppp/8/8/4P3/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
    QTest::keyClick(board.get(), Qt::Key_Escape);
    EXPECT_TRUE(board->setupMode());
    EXPECT_EQ(m_messages.texts(), std::vector<std::string>{"Too many pieces on the board!"});
    board->placeSetupPiece(28, kSetupEmpty);
    QTest::keyClick(board.get(), Qt::Key_Escape);
    EXPECT_FALSE(board->setupMode());
    EXPECT_EQ(flips, (std::vector<bool>{true, false}));

    // The set-up menus: castling rights, side to move, and a piece for a square.
    board->SetPosition(
        test::positionFrom("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
    board->toggleSetupMode();
    board->placeSetupPiece(0, kSetupEmpty);
    auto context = board->buildContextMenu();
    findAction(*context, "White O-O-O")->trigger();
    findAction(*context, "White to move")->trigger();
    EXPECT_EQ(writeFen(board->GetPosition(), 0, 1),
              "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/1NBQKBNR b Kkq - 0 1");
    auto menu = board->buildSetupMenu(28);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 13);
    actions[1]->trigger();
    EXPECT_EQ(board->GetPosition().squares[28], makePiece(PieceType::Rook, kBlack));
    actions[12]->trigger();
    EXPECT_EQ(board->GetPosition().squares[28], makePiece(PieceType::Pawn, kWhite));
}

} // namespace
} // namespace vez::test
