#include "ui/chessboard.h"

#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <string>

#include "app/profile_store.h"
#include "chess/movegen.h"
#include "store/messages.h"
#include "ui/beeper.h"

namespace vez {

namespace {

// The colour of each arrow kind and whether the view's board shows it by default.
struct ArrowKindInfo {
    QColor colour;
    int shownByDefault;
};
const ArrowKindInfo kArrowKindInfo[kArrowKinds] = {
    {QColor(0, 0, 191), 0},    // legal moves
    {QColor(191, 0, 0), 1},    // known
    {QColor(159, 159, 31), 1}, // prior
    {QColor(0, 255, 255), 1},  // next
    {QColor(63, 63, 0), 1},    // variation
};

constexpr int kDefaultDark = 0x00BF00;
constexpr int kDefaultLight = 0xFFFFFF;

} // namespace

QColor colourFromProfile(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

int colourToProfile(const QColor& colour)
{
    return colour.red() | (colour.green() << 8) | (colour.blue() << 16);
}

Chessboard::Chessboard(const ChessboardSetup& setup, QWidget* parent)
    : QWidget(parent), m_setup(setup)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(true);
    setStandardStart(m_position);
    m_dark = colourFromProfile(profileInt("Chessbd dark RGB", kDefaultDark));
    m_light = colourFromProfile(profileInt("Chessbd light RGB", kDefaultLight));
    if (m_setup.controlId == kMainBoardId) {
        for (int kind = 0; kind < kArrowKinds; ++kind) {
            const std::string key = "Chessbd arrow " + std::to_string(kind);
            m_arrowShown[kind] = profileInt(key.c_str(), kArrowKindInfo[kind].shownByDefault);
        }
        m_thickArrows = profileInt("Chessbd thick arrows", 1) != 0;
    }
    loadPiecesAtCreation(m_setup.pictureResource);
}

Chessboard::~Chessboard() = default;

int Chessboard::profileInt(const char* key, int fallback) const
{
    return m_setup.profile ? m_setup.profile->getProfileInt(key, fallback) : fallback;
}

void Chessboard::writeInt(const char* key, int value)
{
    if (m_setup.profile)
        m_setup.profile->writeProfileInt(key, value);
}

void Chessboard::writeString(const char* key, const std::string& value)
{
    if (m_setup.profile)
        m_setup.profile->writeProfileString(key, value);
}

void Chessboard::showMessage(const std::string& text) const
{
    if (m_setup.messages)
        m_setup.messages->showMessage(text);
}

void Chessboard::beep(int kind) const
{
    Beeper& beeper = m_setup.beeper ? *m_setup.beeper : systemBeeper();
    beeper.beep(static_cast<BeepKind>(kind));
}

// --- Pieces ---------------------------------------------------------------------------

bool Chessboard::usePieces(const QImage& strip)
{
    if (strip.isNull() || strip.width() != kStripImages * strip.height())
        return false;
    m_strip = strip;
    setFixedSize(8 * squareSize(), 8 * squareSize());
    update();
    return true;
}

bool Chessboard::tryFontPieces(const QString& family, int points)
{
    return usePieces(renderChessFont(family, points));
}

void Chessboard::loadPiecesAtCreation(int resource)
{
    bool loaded = false;
    if (resource >= 0) {
        loaded = usePieces(builtInPieceStrip(resource));
    } else {
        std::string error;
        const std::string path =
            m_setup.profile ? m_setup.profile->getProfileString("Chessbd bitmap", "") : "";
        const QImage picture = readPieceBitmap(path, error);
        if (!error.empty())
            showMessage(error);
        loaded = !picture.isNull() && usePieces(keyedPieceStrip(picture, error));
        if (!loaded) {
            const std::string font =
                m_setup.profile ? m_setup.profile->getProfileString("Chessbd font", "") : "";
            loaded = tryFontPieces(QString::fromStdString(font), profileInt("Chessbd font sz", -1));
        }
        if (!loaded && profileInt("Chessbd olddefault", 0) == 0)
            loaded = tryFontPieces(QStringLiteral("Traveller Standard"), 28);
        if (!loaded)
            loaded = usePieces(builtInPieceStrip(kBuiltInPieces));
    }
    if (!loaded)
        showMessage("Could not load piece image bitmaps from .exe!");
}

void Chessboard::loadBitmapPieces()
{
    ChessboardDialogs& dialogs = m_setup.dialogs ? *m_setup.dialogs : standardChessboardDialogs();
    const std::string path = dialogs.chooseBitmapFile();
    if (path.empty())
        return;
    std::string error;
    const QImage picture = readPieceBitmap(path, error);
    if (picture.isNull() || !usePieces(keyedPieceStrip(picture, error))) {
        showMessage(error);
        defaultPieces();
        return;
    }
    writeString("Chessbd bitmap", path);
    Q_EMIT piecesChanged();
}

void Chessboard::useChessFont()
{
    ChessboardDialogs& dialogs = m_setup.dialogs ? *m_setup.dialogs : standardChessboardDialogs();
    const auto font = dialogs.chooseFont();
    if (!font)
        return;
    if (!tryFontPieces(font->first, font->second)) {
        defaultPieces();
        return;
    }
    writeString("Chessbd font", font->first.toStdString());
    writeInt("Chessbd font sz", font->second);
    writeString("Chessbd bitmap", "");
    Q_EMIT piecesChanged();
}

void Chessboard::defaultPieces()
{
    if (!tryFontPieces(QStringLiteral("Traveller Standard"), 28)) {
        oldDefaultPieces();
        return;
    }
    writeString("Chessbd font", "Traveller Standard");
    writeInt("Chessbd font sz", 28);
    writeString("Chessbd bitmap", "");
    Q_EMIT piecesChanged();
}

void Chessboard::oldDefaultPieces()
{
    // The built-in strip is drawn from an installed font and cannot fail short of a
    // broken installation; the board then keeps the pictures it has.
    if (!usePieces(builtInPieceStrip(kBuiltInPieces))) {
        showMessage("Could not load piece image bitmaps from .exe!");
        return;
    }
    writeString("Chessbd bitmap", "");
    writeString("Chessbd font", "");
    writeInt("Chessbd olddefault", 1);
    Q_EMIT piecesChanged();
}

// --- Position and arrows --------------------------------------------------------------

void Chessboard::Reset(bool nonstandard, bool descriptive)
{
    m_promotion = PieceType::Queen;
    m_nonstandard = nonstandard;
    m_descriptive = descriptive;
    setStandardStart(m_position);
    m_arrows.clear();
    update();
}

void Chessboard::SetPosition(const Position& position)
{
    m_position = position;
    m_arrows.clear();
    update();
}

void Chessboard::PlayMove(Move move)
{
    if (move != Move::None)
        makeMove(m_position, move);
    m_arrows.clear();
    update();
}

void Chessboard::PlayMoves(const std::vector<Move>& moves)
{
    for (Move move : moves)
        if (move != Move::None)
            makeMove(m_position, move);
    m_arrows.clear();
    update();
}

void Chessboard::AddArrow(Move move, int kind, int offset)
{
    if (kind < 0 || kind >= kArrowKinds)
        return;
    m_arrows.push_back({move, kArrowKindInfo[kind].colour, offset, kind});
    update();
}

void Chessboard::setBoardState(const BoardState& state)
{
    m_nonstandard = state.nonstandard;
    m_descriptive = state.descriptive;
    m_setupMode = state.setupMode;
    m_position = state.position;
    m_arrows.clear();
    for (const BoardArrow& arrow : state.arrows)
        AddArrow(arrow.move, static_cast<int>(arrow.kind), arrow.offset);
    update();
}

void Chessboard::clearArrows()
{
    m_arrows.clear();
    update();
}

void Chessboard::setPerspective(int perspective)
{
    m_perspective = perspective;
    update();
}

// --- Geometry and painting ------------------------------------------------------------

bool Chessboard::flipped() const
{
    const bool whiteToMove = m_position.sideToMove == kWhite;
    return m_perspective == BlackBottom || (m_perspective == PlayerBottom && !whiteToMove) ||
           (m_perspective == OpponentBottom && whiteToMove);
}

int Chessboard::viewSquare(int square) const { return flipped() ? 63 - square : square; }

QPoint Chessboard::squareOrigin(int square) const
{
    const int v = viewSquare(square);
    return {squareSize() * (v % 8), squareSize() * (7 - v / 8)};
}

int Chessboard::squareAt(QPoint point) const
{
    const int size = squareSize();
    if (size <= 0 || point.x() < 0 || point.y() < 0 || point.x() >= 8 * size ||
        point.y() >= 8 * size)
        return kNoSquare;
    const int v = (7 - point.y() / size) * 8 + point.x() / size;
    return viewSquare(v); // the mapping is its own inverse
}

void Chessboard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int size = squareSize();
    for (int square = 0; square < 64; ++square) {
        const QPoint origin = squareOrigin(square);
        const bool dark = (fileOf(square) + rankOf(square)) % 2 == 0;
        painter.fillRect(QRect(origin, QSize(size, size)), dark ? m_dark : m_light);
        const std::uint8_t piece =
            m_dragging && square == m_originSquare ? kEmpty : m_position.squares[square];
        if (piece != kEmpty)
            painter.drawImage(origin, stripImage(m_strip, pieceImageIndex(piece)));
    }
    paintArrows(painter);
    if (m_dragging) {
        const int index = pieceImageIndex(m_position.squares[m_originSquare]);
        painter.drawImage(m_dragPoint - m_grabOffset, stripImage(m_strip, index));
    }
}

void Chessboard::paintArrows(QPainter& painter) const
{
    const int half = squareSize() / 2;
    for (const Arrow& arrow : m_arrows) {
        if (!m_arrowShown[arrow.kind])
            continue;
        painter.setPen(QPen(arrow.colour, m_thickArrows ? 2 : 1, Qt::SolidLine, Qt::FlatCap));
        const QPoint shift(half + arrow.offset, half + arrow.offset);
        painter.drawLine(squareOrigin(fromSquare(arrow.move)) + shift,
                         squareOrigin(toSquare(arrow.move)) + shift);
    }
}

// --- Dragging a move ------------------------------------------------------------------

void Chessboard::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPoint point = event->position().toPoint();
    const int square = squareAt(point);
    if (square == kNoSquare)
        return;
    m_originSquare = square;
    if (m_setupMode) {
        m_savedCursor = QCursor::pos();
        const std::unique_ptr<QMenu> menu = buildSetupMenu(square);
        m_menuActive = true;
        menu->exec(event->globalPosition().toPoint());
        m_menuActive = false;
        return;
    }
    if (m_position.squares[square] == kEmpty)
        return;
    m_dragging = true;
    m_grabOffset = point - squareOrigin(square);
    m_dragPoint = point;
    update();
}

void Chessboard::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    if (squareAt(point) != kNoSquare)
        m_cursorViewSquare = point.y() / squareSize() * 8 + point.x() / squareSize();
    if (m_dragging) {
        m_dragPoint = point;
        update();
    }
}

void Chessboard::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return QWidget::mouseReleaseEvent(event);
    m_dragging = false;
    update();
    finishDrag(event->position().toPoint());
}

void Chessboard::finishDrag(QPoint point)
{
    const int target = squareAt(point);
    if (target == kNoSquare || target == m_originSquare)
        return;
    const std::uint8_t piece = m_position.squares[m_originSquare];
    PieceType code = typeOf(piece);
    if (code == PieceType::Pawn && (rankOf(target) == 0 || rankOf(target) == 7))
        code = m_promotion;
    const Move move = encodeMove(m_originSquare, target, code);
    if (!m_nonstandard && legalMoveIndex(m_position, move, false) < 0) {
        beep(static_cast<int>(BeepKind::Asterisk));
        return;
    }
    Q_EMIT moveChosen(move);
}

void Chessboard::enterEvent(QEnterEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QWidget::enterEvent(event);
}

} // namespace vez
