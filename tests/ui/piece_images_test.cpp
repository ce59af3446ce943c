// Piece pictures: BMP piece files with their messages, and the chain of pictures a board
// falls back through.
#include <QFile>

#include <fstream>

#include "ui/chessboard.h"
#include "ui/piece_images.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

const std::string kDataDir = VEZ_TEST_DATA_DIR;

using PieceImagesTest = UiTest;

// Truncated bitmaps are refused at the first missing part.
TEST_F(PieceImagesTest, TruncatedBitmapsAndTheChainABoardFallsBackThrough)
{
    QFile file(QString::fromStdString(kDataDir + "/pieces-448x32.bmp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    // The length kept, the pixel offset's second byte (4 as written, 0 for 54, inside the
    // table), and the message.
    const std::tuple<qsizetype, char, const char*> cuts[] = {
        {54 + 500, 4, ": couldn't read colors"},
        {whole.size() - 1, 4, ": couldn't read bitmap image"},
        {whole.size() - 1, 0, ": couldn't read bitmap image"}};
    for (const auto& [length, offsetHigh, message] : cuts) {
        const std::string path = scratchPath(QStringLiteral("cut.bmp")).toStdString();
        QByteArray bytes = whole.left(length);
        if (bytes.size() > 11)
            bytes[11] = offsetHigh;
        std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());
        std::string error;
        EXPECT_TRUE(readPieceBitmap(path, error).isNull()) << length;
        EXPECT_EQ(error, path + message);
    }

    // A board on the bitmap setting given: its square size and the messages it showed.
    using Loaded = std::pair<int, std::vector<std::string>>;
    const auto load = [this](const std::string& bitmap) {
        profile().writeProfileString("Chessbd bitmap", bitmap);
        CapturedMessages messages;
        ChessboardSetup setup = boardSetup(-1);
        setup.messages = &messages;
        Chessboard board(setup);
        EXPECT_TRUE(board.piecesLoaded()) << bitmap;
        // white in a bitmap file is transparent: a1's rook stands on the dark colour
        const QImage image = grabbed(board, "board-pieces");
        EXPECT_EQ(image.pixel(board.squareOrigin(0) + QPoint(1, 1)), qRgb(0, 191, 0)) << bitmap;
        return Loaded{board.squareSize(), messages.texts()};
    };
    const std::string wide = kDataDir + "/pieces-450x32.bmp";
    const std::string missing = kDataDir + "/missing.bmp";
    const std::string notBmp = kDataDir + "/twic0920-sample.pgn";
    EXPECT_EQ(load(kDataDir + "/pieces-224x16-4bit.bmp"), (Loaded{16, {}}));
    EXPECT_EQ(load(wide), (Loaded{32, {wide + ": bitmap width not exactly 14 times height"}}));
    EXPECT_EQ(load(missing), (Loaded{32, {missing + ": could not open file"}}));
    EXPECT_EQ(load(notBmp), (Loaded{32, {notBmp + ": couldn't read bitmap structures"}}));
}

} // namespace
} // namespace vez::test
