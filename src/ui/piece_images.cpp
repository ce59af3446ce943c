#include "ui/piece_images.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <fstream>
#include <iterator>
#include <vector>

#include "chess/types.h"

namespace vez {

namespace {

constexpr const char* kStripLetters = "rnbqkpRNBQKPSS";

// Image index of each PieceType (1 pawn .. 6 king) for White; Black's are 6 lower.
constexpr std::array<int, 7> kWhiteImage = {kEmptySquareImage, 11, 7, 8, 6, 9, 10};

// DejaVu Sans's chess glyphs in strip order (rook, knight, bishop, queen, king, pawn): the
// filled ones, which also serve as the white pieces' bodies, and the outlined ones.
constexpr std::array<char16_t, 6> kFilledGlyphs = {u'\u265C', u'\u265E', u'\u265D',
                                                   u'\u265B', u'\u265A', u'\u265F'};
constexpr std::array<char16_t, 6> kOutlineGlyphs = {u'\u2656', u'\u2658', u'\u2657',
                                                    u'\u2655', u'\u2654', u'\u2659'};

// The glyph's outline as a path, centred in the square.
QPainterPath centredGlyph(const QFont& font, char16_t glyph, const QRectF& square)
{
    QPainterPath path;
    path.addText(0, 0, font, QString(QChar(glyph)));
    return path.translated(square.center() - path.boundingRect().center());
}

// Every contour of the outline glyph filled, holes included, so that the piece's inside is
// white wherever the outline does not draw; then the outline in black on top.
void drawWhitePiece(QPainter& painter, const QFont& font, char16_t outline, const QRectF& square)
{
    const QPainterPath path = centredGlyph(font, outline, square);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    for (const QPolygonF& contour : path.toSubpathPolygons())
        painter.drawPolygon(contour);
    painter.fillPath(path, Qt::black);
}

} // namespace

int pieceImageIndex(std::uint8_t squareByte)
{
    // Type 7 is no piece; a square holding it shows empty rather than reading past the table.
    const int type = static_cast<int>(typeOf(squareByte));
    if (squareByte == kEmpty || type >= static_cast<int>(kWhiteImage.size()))
        return kEmptySquareImage;
    const int white = kWhiteImage[type];
    if (white == kEmptySquareImage)
        return kEmptySquareImage;
    return colourOf(squareByte) == kBlack ? white - 6 : white;
}

QImage stripImage(const QImage& strip, int index)
{
    if (strip.isNull() || index < 0 || index >= kStripImages)
        return {};
    const int size = strip.height();
    return strip.copy(index * size, 0, size, size);
}

QImage builtInPieceStrip(int resource)
{
    int size = 0;
    if (resource == kBuiltInPieces)
        size = 32;
    else if (resource == kSmallBuiltInPieces)
        size = 16;
    else
        return {};
    QImage strip(size * kStripImages, size, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    // The glyphs fill about nine tenths of their em square; this leaves a pixel or two of
    // the square's colour around the widest pieces.
    font.setPixelSize(size * 9 / 10);
    for (int i = 0; i < 6; ++i) {
        const QRectF black(i * size, 0, size, size);
        const QRectF white((i + 6) * size, 0, size, size);
        painter.fillPath(centredGlyph(font, kFilledGlyphs[i], black), Qt::black);
        drawWhitePiece(painter, font, kOutlineGlyphs[i], white);
    }
    return strip;
}

QImage renderChessFont(const QString& family, int points)
{
    if (family.isEmpty() || points < 0 || !QFontDatabase::families().contains(family))
        return {};
    QFont font(family);
    font.setPointSize(points);
    const QString text = QString::fromLatin1(kStripLetters);
    const QFontMetrics metrics(font);
    const int h = metrics.height();
    const int w = metrics.horizontalAdvance(text);
    if (h <= 0)
        return {};
    // A transparent background, so that the square colours show around the pieces.
    QImage strip(h * kStripImages, h, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int i = 0; i < kStripImages; ++i)
        painter.drawText(h * i + (h - w / kStripImages) / 2, metrics.ascent(), QString(text[i]));
    return strip;
}

QImage keyedPieceStrip(const QImage& picture, std::string& error)
{
    if (picture.isNull() || picture.width() != kStripImages * picture.height()) {
        error = "Piece bitmap width not 14 times height";
        return {};
    }
    QImage strip = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < strip.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(strip.scanLine(y));
        for (int x = 0; x < strip.width(); ++x) {
            if ((row[x] & 0xFFFFFF) == 0xFFFFFF)
                row[x] = 0;
        }
    }
    return strip;
}

} // namespace vez
