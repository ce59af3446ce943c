// The board's context menu, set-up mode and its keyboard entry.
#include <QActionGroup>
#include <QColorDialog>
#include <QCursor>
#include <QFileDialog>
#include <QFontDialog>
#include <QKeyEvent>
#include <QMenu>

#include "chess/notation.h"
#include "ui/beeper.h"
#include "ui/chessboard.h"

namespace vez {

namespace {

class StandardDialogs final : public ChessboardDialogs {
public:
    std::optional<QColor> chooseColour(const QColor& current) override
    {
        const QColor colour = QColorDialog::getColor(current);
        return colour.isValid() ? std::optional<QColor>(colour) : std::nullopt;
    }
    std::optional<std::pair<QString, int>> chooseFont() override
    {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok);
        if (!ok)
            return std::nullopt;
        return std::make_pair(font.family(), font.pointSize());
    }
    std::string chooseBitmapFile() override
    {
        return QFileDialog::getOpenFileName(nullptr, QString(), QString(),
                                            QStringLiteral("Bitmaps (*.bmp);;All Files (*)"))
            .toStdString();
    }
};

const char* const kArrowItems[kArrowKinds] = {"Legal moves", "Known", "Prior", "Next", "Variation"};

// Set-up menu order: the black pieces, then the white ones, as in the strip; the letter
// order there is rook, knight, bishop, queen, king, pawn.
constexpr PieceType kStripTypes[6] = {PieceType::Rook,  PieceType::Knight, PieceType::Bishop,
                                      PieceType::Queen, PieceType::King,   PieceType::Pawn};

QAction* addCheckable(QMenu& menu, const QString& text, bool checked)
{
    QAction* action = menu.addAction(text);
    action->setCheckable(true);
    action->setChecked(checked);
    return action;
}

int occupiedSquares(const Position& position)
{
    int count = 0;
    for (std::uint8_t piece : position.squares)
        count += piece != kEmpty;
    return count;
}

} // namespace

ChessboardDialogs& standardChessboardDialogs()
{
    static StandardDialogs dialogs;
    return dialogs;
}

// --- Context menu ---------------------------------------------------------------------

std::unique_ptr<QMenu> Chessboard::buildContextMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    addPerspectiveMenu(*menu);
    addPromotionMenu(*menu);
    addArrowMenu(*menu);
    QMenu* squares = menu->addMenu(QStringLiteral("Squares"));
    connect(squares->addAction(QStringLiteral("Dark squares...")), &QAction::triggered, this,
            [this] { chooseSquareColour(true); });
    connect(squares->addAction(QStringLiteral("Light squares...")), &QAction::triggered, this,
            [this] { chooseSquareColour(false); });
    addPieceMenu(*menu);
    QAction* setup = addCheckable(*menu, QStringLiteral("Setup mode"), m_setupMode);
    setup->setEnabled(m_setup.controlId == kMainBoardId);
    connect(setup, &QAction::triggered, this, [this] { toggleSetupMode(); });
    addSetupItems(*menu);
    if (!m_setupMode)
        addMoveMenus(*menu);
    return menu;
}

void Chessboard::addPerspectiveMenu(QMenu& menu)
{
    QMenu* sub = menu.addMenu(QStringLiteral("Perspective"));
    const char* const names[] = {"White", "Black", "Player", "Opponent"};
    for (int i = 0; i < 4; ++i)
        connect(addCheckable(*sub, QString::fromLatin1(names[i]), m_perspective == i),
                &QAction::triggered, this, [this, i] { setPerspective(i); });
}

void Chessboard::addPromotionMenu(QMenu& menu)
{
    QMenu* sub = menu.addMenu(QStringLiteral("Promotion"));
    const std::pair<const char*, PieceType> items[] = {{"Queen", PieceType::Queen},
                                                       {"Rook", PieceType::Rook},
                                                       {"Bishop", PieceType::Bishop},
                                                       {"Knight", PieceType::Knight},
                                                       {"King", PieceType::King}};
    for (const auto& [name, type] : items) {
        QAction* action = addCheckable(*sub, QString::fromLatin1(name), m_promotion == type);
        action->setEnabled(type != PieceType::King || m_nonstandard);
        connect(action, &QAction::triggered, this, [this, type] { m_promotion = type; });
    }
}

void Chessboard::addArrowMenu(QMenu& menu)
{
    QMenu* sub = menu.addMenu(QStringLiteral("Arrows"));
    for (int kind = 0; kind < kArrowKinds; ++kind)
        connect(addCheckable(*sub, QString::fromLatin1(kArrowItems[kind]), m_arrowShown[kind]),
                &QAction::triggered, this, [this, kind] { toggleArrowKind(kind); });
    sub->addSeparator();
    connect(addCheckable(*sub, QStringLiteral("Thick"), m_thickArrows), &QAction::triggered, this,
            [this] { toggleThickArrows(); });
}

void Chessboard::addPieceMenu(QMenu& menu)
{
    const bool main = m_setup.controlId == kMainBoardId;
    QMenu* sub = menu.addMenu(QStringLiteral("Pieces"));
    QAction* load = sub->addAction(QStringLiteral("Load bitmap..."));
    load->setEnabled(main);
    connect(load, &QAction::triggered, this, [this] { loadBitmapPieces(); });
    connect(sub->addAction(QStringLiteral("Use chess font...")), &QAction::triggered, this,
            [this] { useChessFont(); });
    connect(sub->addAction(QStringLiteral("Default pieces")), &QAction::triggered, this,
            [this] { defaultPieces(); });
    QAction* old = sub->addAction(QStringLiteral("Old default pieces"));
    old->setEnabled(main);
    connect(old, &QAction::triggered, this, [this] { oldDefaultPieces(); });
}

void Chessboard::addSetupItems(QMenu& menu)
{
    // Present always, usable only in set-up mode.
    menu.addSeparator();
    std::vector<QAction*> items;
    items.push_back(menu.addAction(QStringLiteral("Clear board")));
    connect(items.back(), &QAction::triggered, this, [this] { clearBoard(); });
    items.push_back(menu.addAction(QStringLiteral("Standard start")));
    connect(items.back(), &QAction::triggered, this, [this] { standardStart(); });
    const std::pair<const char*, std::int32_t*> castling[] = {
        {"White O-O", &m_position.castleKingsideLost[kWhite]},
        {"White O-O-O", &m_position.castleQueensideLost[kWhite]},
        {"Black O-O", &m_position.castleKingsideLost[kBlack]},
        {"Black O-O-O", &m_position.castleQueensideLost[kBlack]}};
    for (const auto& [name, lost] : castling) {
        items.push_back(addCheckable(menu, QString::fromLatin1(name), *lost == 0));
        connect(items.back(), &QAction::triggered, this, [lost] { *lost = *lost ? 0 : 1; });
    }
    items.push_back(
        addCheckable(menu, QStringLiteral("White to move"), m_position.sideToMove == kWhite));
    connect(items.back(), &QAction::triggered, this, [this] {
        m_position.sideToMove = m_position.sideToMove == kWhite ? kBlack : kWhite;
        update();
    });
    for (QAction* item : items)
        item->setEnabled(m_setupMode);
}

void Chessboard::addMoveMenus(QMenu& menu)
{
    QMenu* known = menu.addMenu(QStringLiteral("Known moves"));
    QMenu* legal = menu.addMenu(QStringLiteral("Legal moves"));
    for (std::size_t i = 0; i < m_arrows.size(); ++i) {
        const int kind = m_arrows[i].kind;
        if (kind == static_cast<int>(ArrowKind::Prior))
            continue;
        const Move move = m_arrows[i].move;
        const std::string text =
            formatMove(m_position, move, m_nonstandard, MoveGlyph::None, m_descriptive);
        QMenu* target = kind == static_cast<int>(ArrowKind::Legal) ? legal : known;
        connect(target->addAction(QString::fromStdString(text)), &QAction::triggered, this,
                [this, move] { Q_EMIT moveChosen(move); });
    }
}

void Chessboard::toggleArrowKind(int kind)
{
    m_arrowShown[kind] = !m_arrowShown[kind];
    const std::string key = "Chessbd arrow " + std::to_string(kind);
    writeInt(key.c_str(), m_arrowShown[kind] ? 1 : 0);
    update();
}

void Chessboard::toggleThickArrows()
{
    m_thickArrows = !m_thickArrows;
    writeInt("Chessbd thick arrows", m_thickArrows ? 1 : 0);
    update();
}

void Chessboard::chooseSquareColour(bool dark)
{
    ChessboardDialogs& dialogs = m_setup.dialogs ? *m_setup.dialogs : standardChessboardDialogs();
    const auto colour = dialogs.chooseColour(dark ? m_dark : m_light);
    if (!colour)
        return;
    (dark ? m_dark : m_light) = *colour;
    writeInt(dark ? "Chessbd dark RGB" : "Chessbd light RGB", colourToProfile(*colour));
    update();
}

void Chessboard::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu = buildContextMenu();
    m_menuActive = true;
    menu->exec(event->globalPos());
    m_menuActive = false;
}

// --- Set-up mode ----------------------------------------------------------------------

bool Chessboard::toggleSetupMode()
{
    if (m_setupMode && occupiedSquares(m_position) > 32) {
        showMessage("Too many pieces on the board!");
        return false;
    }
    m_setupMode = !m_setupMode;
    update();
    Q_EMIT setupModeChanged(m_setupMode);
    return true;
}

void Chessboard::clearBoard()
{
    m_position = Position{};
    for (int colour : {kWhite, kBlack}) {
        m_position.castleKingsideLost[colour] = 1;
        m_position.castleQueensideLost[colour] = 1;
    }
    m_arrows.clear();
    update();
}

void Chessboard::standardStart()
{
    setStandardStart(m_position);
    m_arrows.clear();
    update();
}

std::unique_ptr<QMenu> Chessboard::buildSetupMenu(int square)
{
    auto menu = std::make_unique<QMenu>(this);
    const QImage small = builtInPieceStrip(kSmallBuiltInPieces);
    connect(menu->addAction(QStringLiteral("Empty Square")), &QAction::triggered, this,
            [this, square] { placeSetupPiece(square, kSetupEmpty); });
    for (int image = 0; image < 12; ++image) {
        const int colourBase = image < 6 ? kSetupBlackRook : kSetupWhiteRook;
        const int command = colourBase + image % 6;
        QAction* action =
            menu->addAction(QIcon(QPixmap::fromImage(stripImage(small, image))), QString());
        action->setData(command);
        connect(action, &QAction::triggered, this,
                [this, square, command] { placeSetupPiece(square, command); });
    }
    return menu;
}

void Chessboard::placeSetupPiece(int square, int commandId)
{
    if (!isSquare(square) || commandId < kSetupWhiteRook || commandId > kSetupEmpty)
        return;
    std::uint8_t piece = kEmpty;
    if (commandId != kSetupEmpty) {
        const int colour = commandId >= kSetupBlackRook ? kBlack : kWhite;
        const int base = colour == kBlack ? kSetupBlackRook : kSetupWhiteRook;
        piece = makePiece(kStripTypes[commandId - base], colour);
    }
    m_position.squares[square] = piece;
    if (!m_savedCursor.isNull())
        QCursor::setPos(m_savedCursor);
    update();
}

void Chessboard::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_setup.controlId == kMainBoardId)
            toggleSetupMode();
        return;
    }
    if (m_setupMode)
        return setupKey(event);
    if (!event->text().isEmpty() && event->text()[0].isPrint()) {
        beep(static_cast<int>(BeepKind::Exclamation));
        return;
    }
    QWidget::keyPressEvent(event);
}

void Chessboard::setupKey(QKeyEvent* event)
{
    // The square under the mouse, when it is over the board; else where the keys left it.
    const QPoint mouse = mapFromGlobal(QCursor::pos());
    if (squareAt(mouse) != kNoSquare)
        m_cursorViewSquare = mouse.y() / squareSize() * 8 + mouse.x() / squareSize();
    switch (event->key()) {
    case Qt::Key_Left: return moveSetupCursor(63);
    case Qt::Key_Right: return moveSetupCursor(1);
    case Qt::Key_Up: return moveSetupCursor(56);
    case Qt::Key_Down: return moveSetupCursor(8);
    default: break;
    }
    const QString text = event->text();
    if (text.size() != 1) {
        if (!text.isEmpty())
            beep(static_cast<int>(BeepKind::Exclamation));
        return;
    }
    const char c = text[0].toLatin1();
    static constexpr std::string_view kLetters = "rnbqkp";
    const std::size_t white = kLetters.find(c);
    const std::size_t black = kLetters.find(static_cast<char>(c - 'A' + 'a'));
    if (c == ' ')
        setPieceAtCursor(kEmpty);
    else if (c == 's')
        standardStart();
    else if (c == 'x')
        clearBoard();
    else if (c >= 'a' && c <= 'z' && white != std::string_view::npos)
        setPieceAtCursor(makePiece(kStripTypes[white], kWhite));
    else if (c >= 'A' && c <= 'Z' && black != std::string_view::npos)
        setPieceAtCursor(makePiece(kStripTypes[black], kBlack));
    else
        beep(static_cast<int>(BeepKind::Exclamation));
}

void Chessboard::setPieceAtCursor(std::uint8_t piece)
{
    const int row = m_cursorViewSquare / 8;
    const int column = m_cursorViewSquare % 8;
    // The view square counts from a1 upwards; the cursor counts rows from the top.
    const int square = viewSquare((7 - row) * 8 + column);
    m_position.squares[square] = piece;
    update();
    moveSetupCursor(1);
}

void Chessboard::moveSetupCursor(int step)
{
    m_cursorViewSquare = (m_cursorViewSquare + step) % 64;
    const int size = squareSize();
    const QPoint centre(m_cursorViewSquare % 8 * size + size / 2,
                        m_cursorViewSquare / 8 * size + size / 2);
    QCursor::setPos(mapToGlobal(centre));
}

} // namespace vez
