#include "ui/splash_window.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "chess/notation.h"
#include "ui/chessboard.h"
#include "ui/piece_images.h"

namespace vez {

namespace {

// Légal's mate as it was played in Paris, 1750: short, well known and long free of any
// claim.
constexpr const char* kGame[] = {"e4", "e5", "Nf3", "d6", "Bc4", "Bg4", "Nc3",
                                 "g6", "Nxe5", "Bxd1", "Bxf7+", "Ke7", "Nd5#"};
constexpr int kPlyMilliseconds = 190;
constexpr int kLifetimeMilliseconds = 2900;

const QColor kDark(0, 0xBE, 0);   // the board's default colours ("Chessbd dark RGB" 48896)
const QColor kLight(255, 255, 255);

QString glyphOf(std::uint8_t piece)
{
    // The chess symbols from U+2654 (white king) to U+265F (black pawn).
    static constexpr int kOrder[7] = {0, 5, 4, 3, 2, 1, 0}; // pawn..king -> offset from king
    const int type = int(typeOf(piece));
    return QString(QChar(0x2654 + kOrder[type] + (colourOf(piece) == kBlack ? 6 : 0)));
}

} // namespace

void drawSmallBoard(QPainter& painter, const QRect& area, const Position& position)
{
    const int square = std::min(area.width(), area.height()) / 8;
    QFont font("DejaVu Sans");
    font.setPixelSize(square * 4 / 5);
    painter.setFont(font);
    for (int rank = 0; rank < 8; ++rank) {
        for (int file = 0; file < 8; ++file) {
            const QRect cell(area.left() + file * square, area.top() + (7 - rank) * square, square,
                             square);
            painter.fillRect(cell, (rank + file) % 2 == 0 ? kDark : kLight);
            const std::uint8_t piece = position.squares[makeSquare(file, rank)];
            if (piece != kEmpty) {
                painter.setPen(Qt::black);
                painter.drawText(cell, Qt::AlignCenter, glyphOf(piece));
            }
        }
    }
}

SplashWindow::SplashWindow(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName("splash");
    Position position;
    setStandardStart(position);
    m_positions.push_back(position);
    for (const char* text : kGame) {
        Move move = Move::None;
        if (!parseMove(position, move, nullptr, nullptr, text))
            break;
        makeMove(position, move);
        m_positions.push_back(position);
    }
    ChessboardSetup setup; // a small board that only shows positions
    setup.pictureResource = kBuiltInPieces;
    m_board = new Chessboard(setup, this);
    m_board->SetPosition(m_positions.front());
    m_board->setAttribute(Qt::WA_TransparentForMouseEvents);
    const QSize board = m_board->sizeHint();
    m_board->setGeometry(QRect(QPoint(10, 10), board));
    setFixedSize(board.width() + 20, board.height() + 50);
    auto* step = new QTimer(this);
    connect(step, &QTimer::timeout, this, [this, step] {
        if (m_ply + 1 < int(m_positions.size()))
            m_board->SetPosition(m_positions[std::size_t(++m_ply)]);
        else
            step->stop();
    });
    step->start(kPlyMilliseconds);
    QTimer::singleShot(kLifetimeMilliseconds, this, &QWidget::close);
}

void SplashWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(40, 40, 40));
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(16);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, height() - 40, width(), 40), Qt::AlignCenter, "VEZ 1.5");
}

void SplashWindow::mousePressEvent(QMouseEvent*) { close(); }

SplashWindow* showSplash(QWidget* parent)
{
    auto* splash = new SplashWindow(parent);
    if (parent) {
        // Parented to keep it with the program, but shown as a window of its own.
        splash->setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    }
    splash->show();
    return splash;
}

QPixmap applicationIconPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kDark);
    painter.drawRoundedRect(QRectF(0, 0, size, size), size / 8.0, size / 8.0);
    // The board's own white knight, drawn large.
    const QImage knight = stripImage(builtInPieceStrip(kBuiltInPieces),
                                     pieceImageIndex(makePiece(PieceType::Knight, kWhite)));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(size / 10, size / 10, size * 4 / 5, size * 4 / 5), knight);
    return pixmap;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addPixmap(applicationIconPixmap(size));
    return icon;
}

} // namespace vez
