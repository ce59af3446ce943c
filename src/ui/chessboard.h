// The chessboard pane: one Position drawn with piece pictures on coloured squares, lines
// ("arrows") for moves, moves entered by dragging a piece, a context menu and a set-up
// mode. It reports what the user chose (a move, set-up mode toggled, new piece pictures)
// by signals and never changes the game itself: the view decides and tells it what to show.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/pane_data.h"
#include "chess/position.h"
#include "ui/piece_images.h"

class QMenu;

namespace vez {

class Beeper;
class ProfileStore;
class UserMessages;

// The dialogs the board's commands open; the desktop program's are Qt's standard dialogs,
// tests script the answers.
class ChessboardDialogs {
public:
    virtual ~ChessboardDialogs() = default;
    virtual std::optional<QColor> chooseColour(const QColor& current) = 0;
    // A face and a size in whole points.
    virtual std::optional<std::pair<QString, int>> chooseFont() = 0;
    // Empty when cancelled.
    virtual std::string chooseBitmapFile() = 0;
};

ChessboardDialogs& standardChessboardDialogs();

// Who the board talks to and how it starts.
struct ChessboardSetup {
    // 102 for the view's board, which alone stores its settings and offers set-up mode and
    // the piece files; 0 for the small boards that only show positions.
    int controlId = 0;
    // kBuiltInPieces or kSmallBuiltInPieces, or -1 for the chain of the user's settings.
    int pictureResource = kSmallBuiltInPieces;
    ProfileStore* profile = nullptr;      // null: every setting at its default, nothing stored
    UserMessages* messages = nullptr;     // message boxes; null shows none
    Beeper* beeper = nullptr;             // null: the system beeper
    ChessboardDialogs* dialogs = nullptr; // null: the standard dialogs
};

constexpr int kMainBoardId = 102;

// Set-up menu command ids: white rook .. pawn, black rook .. pawn, empty square.
constexpr int kSetupWhiteRook = 125;
constexpr int kSetupBlackRook = 131;
constexpr int kSetupEmpty = 137;

class Chessboard : public QWidget {
    Q_OBJECT
public:
    enum Perspective { WhiteBottom = 0, BlackBottom = 1, PlayerBottom = 2, OpponentBottom = 3 };
    struct Arrow {
        Move move = Move::None;
        QColor colour;
        int offset = 0;
        int kind = 0;
    };

    explicit Chessboard(const ChessboardSetup& setup, QWidget* parent = nullptr);
    ~Chessboard() override;

    // False when no piece pictures could be loaded at all ("Could not load piece image
    // bitmaps from .exe!" has been shown).
    bool piecesLoaded() const { return !m_strip.isNull(); }

    void Reset(bool nonstandard, bool descriptive);
    const Position& GetPosition() const { return m_position; }
    void SetPosition(const Position& position);
    void PlayMove(Move move);
    void PlayMoves(const std::vector<Move>& moves);
    void AddArrow(Move move, int kind, int offset);
    // What the view shows: the position, its arrows in drawing order, the rules and the
    // notation of the database, and set-up mode.
    void setBoardState(const BoardState& state);
    void clearArrows();
    const std::vector<Arrow>& arrows() const { return m_arrows; }

    int squareSize() const { return m_strip.height(); }
    const QImage& pieceStrip() const { return m_strip; }
    // The top-left pixel of a square (0 = a1) as drawn now.
    QPoint squareOrigin(int square) const;
    // The square under a point of the board, or kNoSquare.
    int squareAt(QPoint point) const;

    int perspective() const { return m_perspective; }
    void setPerspective(int perspective);
    PieceType promotionPiece() const { return m_promotion; }
    void setPromotionPiece(PieceType piece) { m_promotion = piece; }
    bool arrowKindShown(int kind) const { return m_arrowShown[kind]; }
    bool thickArrows() const { return m_thickArrows; }
    QColor darkColour() const { return m_dark; }
    QColor lightColour() const { return m_light; }
    bool setupMode() const { return m_setupMode; }
    bool menuActive() const { return m_menuActive; }

    // Flips set-up mode as the menu item and Escape do; false when leaving is refused.
    bool toggleSetupMode();

    // The menus as the right button and a set-up click open them; the caller owns them.
    std::unique_ptr<QMenu> buildContextMenu();
    std::unique_ptr<QMenu> buildSetupMenu(int square);
    // Puts what a set-up menu command (125..137) names on the square.
    void placeSetupPiece(int square, int commandId);

    // The piece commands of the "Pieces" submenu; each ends with new pictures and
    // piecesChanged, going down the chain on failure.
    void loadBitmapPieces();
    void useChessFont();
    void defaultPieces();
    void oldDefaultPieces();

Q_SIGNALS:
    void moveChosen(vez::Move move);
    void setupModeChanged(bool on);
    void piecesChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;

private:
    bool flipped() const;
    int viewSquare(int square) const;
    void paintArrows(QPainter& painter) const;
    void finishDrag(QPoint point);
    bool usePieces(const QImage& strip);
    void loadPiecesAtCreation(int resource);
    bool tryFontPieces(const QString& family, int points);
    void showMessage(const std::string& text) const;
    void beep(int kind) const;
    int profileInt(const char* key, int fallback) const;
    void writeInt(const char* key, int value);
    void writeString(const char* key, const std::string& value);
    void toggleArrowKind(int kind);
    void toggleThickArrows();
    void chooseSquareColour(bool dark);
    void addPerspectiveMenu(QMenu& menu);
    void addPromotionMenu(QMenu& menu);
    void addArrowMenu(QMenu& menu);
    void addPieceMenu(QMenu& menu);
    void addSetupItems(QMenu& menu);
    void addMoveMenus(QMenu& menu);
    void clearBoard();
    void standardStart();
    void setupKey(QKeyEvent* event);
    void moveSetupCursor(int step);
    void setPieceAtCursor(std::uint8_t piece);

    ChessboardSetup m_setup;
    Position m_position;
    QImage m_strip;
    std::vector<Arrow> m_arrows;
    bool m_nonstandard = false;
    bool m_descriptive = false;
    int m_perspective = WhiteBottom;
    PieceType m_promotion = PieceType::Queen;
    bool m_arrowShown[kArrowKinds] = {true, true, true, true, true};
    bool m_thickArrows = true;
    QColor m_dark;
    QColor m_light;
    bool m_menuActive = false;
    bool m_setupMode = false;
    bool m_dragging = false;
    int m_originSquare = 0;
    QPoint m_grabOffset;
    QPoint m_dragPoint;
    int m_cursorViewSquare = 0; // the set-up cursor, in view squares (0 top left)
    QPoint m_savedCursor;
};

// Colours are stored as Windows colour values: red in the low byte.
QColor colourFromProfile(int value);
int colourToProfile(const QColor& colour);

} // namespace vez
