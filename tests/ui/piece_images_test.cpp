// Piece pictures: BMP piece files with their messages, and the chain of pictures a board
// falls back through.
#include <QFile>

#include "ui/chessboard.h"
#include "ui/piece_images.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

const std::string kDataDir = VEZ_TEST_DATA_DIR;

TEST(PieceStrips, TruncatedBitmapsAreRefusedAtTheFirstMissingPart)
{
    QFile file(QString::fromStdString(kDataDir + "/pieces-448x32.bmp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    QTemporaryDir dir;
    struct Cut {
        qsizetype length;
        char offsetHigh; // the pixel offset's second byte: 4 as written, 0 for 54, inside the table
        const char* message;
    };
    const Cut cuts[] = {{54 + 500, 4, ": couldn't read colors"},
                        {whole.size() - 1, 4, ": couldn't read bitmap image"},
                        {whole.size() - 1, 0, ": couldn't read bitmap image"}};
    for (const auto& [length, offsetHigh, message] : cuts) {
        const std::string path = dir.filePath(QStringLiteral("cut.bmp")).toStdString();
        QFile cut(QString::fromStdString(path));
        ASSERT_TRUE(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QByteArray bytes = whole.left(length);
        if (bytes.size() > 11)
            bytes[11] = offsetHigh;
        cut.write(bytes);
        cut.close();
        std::string error;
        EXPECT_TRUE(readPieceBitmap(path, error).isNull()) << length;
        EXPECT_EQ(error, path + message);
    }
}

using PieceChainTest = UiTest;

TEST_F(PieceChainTest, ABoardFallsBackFromTheBitmapSettingToTheBuiltInStrip)
{
    struct Case {
        std::string bitmap;
        int squareSize;
        std::vector<std::string> messages;
    };
    const std::string small = kDataDir + "/pieces-224x16-4bit.bmp";
    const std::string wide = kDataDir + "/pieces-450x32.bmp";
    const std::string missing = kDataDir + "/missing.bmp";
    const std::string notBmp = kDataDir + "/twic0920-sample.pgn";
    const Case cases[] = {
        {small, 16, {}},
        {wide, 32, {wide + ": bitmap width not exactly 14 times height"}},
        {missing, 32, {missing + ": could not open file"}},
        {notBmp, 32, {notBmp + ": couldn't read bitmap structures"}},
    };
    for (const Case& c : cases) {
        profile().writeProfileString("Chessbd bitmap", c.bitmap);
        CapturedMessages messages;
        ChessboardSetup setup = boardSetup(-1);
        setup.messages = &messages;
        auto board = std::make_unique<Chessboard>(setup);
        ASSERT_TRUE(board->piecesLoaded()) << c.bitmap;
        EXPECT_EQ(board->size(), QSize(8 * c.squareSize, 8 * c.squareSize)) << c.bitmap;
        EXPECT_EQ(messages.texts(), c.messages) << c.bitmap;
        // white in a bitmap file is transparent: a1's rook stands on the dark colour
        const QImage image = grabbed(*board, "board-pieces");
        EXPECT_EQ(image.pixel(board->squareOrigin(0) + QPoint(1, 1)), qRgb(0, 191, 0)) << c.bitmap;
    }
}

} // namespace
} // namespace vez::test
