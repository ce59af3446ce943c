// Piece pictures: a strip of 14 square images in the order "rnbqkpRNBQKPSS" (black rook,
// knight, bishop, queen, king, pawn, the white ones, two empty squares), transparent wherever
// the square's colour should show. Strips come from a BMP file, from a chess font, or are
// drawn at start-up from the chess glyphs of DejaVu Sans.
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace vez {

constexpr int kStripImages = 14;
constexpr int kEmptySquareImage = 13;
// The built-in strips: 32-pixel squares for the main board, 16-pixel ones for small boards
// and the set-up menu.
constexpr int kBuiltInPieces = 137;
constexpr int kSmallBuiltInPieces = 153;

// The image of a square byte: white pawn 11, knight 7, bishop 8, rook 6, queen 9, king 10;
// the black ones 6 lower; empty 13.
int pieceImageIndex(std::uint8_t squareByte);

// One image of a strip (a copy), or a null image for a null strip.
QImage stripImage(const QImage& strip, int index);

// The built-in strip for a resource (kBuiltInPieces or kSmallBuiltInPieces); null for any
// other number.
QImage builtInPieceStrip(int resource);

// The font's "rnbqkpRNBQKPSS" in black on a transparent strip. Null for an empty family, a
// negative size or a family that is not installed.
QImage renderChessFont(const QString& family, int points);

// Reads a BMP piece picture (uncompressed, 1, 4 or 8 bits per pixel with a full colour
// table, 14 times as wide as high). On failure returns a null image and sets error to the
// path and the reason (nothing for an empty path).
QImage readPieceBitmap(const std::string& path, std::string& error);

// A picture made ready for the board: white becomes transparent. Null with error set when
// its width is not 14 times its height.
QImage keyedPieceStrip(const QImage& picture, std::string& error);

} // namespace vez
