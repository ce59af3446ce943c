// Shared pieces of the widget tests: a private settings file, captured messages and beeps,
// and screenshots kept as artifacts under the build folder.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "app/profile_store.h"
#include "support/child_scripts.h"
#include "ui/beeper.h"
#include "ui/chessboard.h"

namespace vez::test {

// The widget as painted now; also saved as NAME.png among the suite's artifacts.
inline QImage grabbed(QWidget& widget, const char* name)
{
    const QImage image = widget.grab().toImage();
    QDir().mkpath(QStringLiteral(VEZ_UI_ARTIFACT_DIR));
    image.save(QStringLiteral(VEZ_UI_ARTIFACT_DIR "/%1.png").arg(QLatin1String(name)));
    return image;
}

// A left-button drag, as a user's mouse does it.
inline void drag(QWidget* widget, QPoint from, QPoint to)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, from);
    QTest::mouseMove(widget, to);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, to);
}

// A key: a character below 128, else a Qt::Key.
inline void pressKey(QWidget* widget, int key)
{
    if (key < 128)
        QTest::keyClick(widget, static_cast<char>(key));
    else
        QTest::keyClick(widget, static_cast<Qt::Key>(key));
}

// The action at "Submenu/Item" of a menu, or null.
inline QAction* findAction(QMenu& menu, const QString& path)
{
    QAction* found = nullptr;
    for (const QString& part : path.split(QLatin1Char('/'))) {
        const QMenu* current = found ? found->menu() : &menu;
        const QList<QAction*> actions = current ? current->actions() : QList<QAction*>();
        const auto it =
            std::find_if(actions.begin(), actions.end(),
                         [&part](const QAction* action) { return action->text() == part; });
        if (it == actions.end())
            return nullptr;
        found = *it;
    }
    return found;
}

// The middle of a board's square.
inline QPoint centre(const Chessboard& board, int square)
{
    return board.squareOrigin(square) + QPoint(board.squareSize() / 2, board.squareSize() / 2);
}

class UiTest : public ::testing::Test {
protected:
    UiTest() : m_profile(std::make_unique<ProfileStore>(m_dir.filePath("vez.ini").toStdString())) {}
    ProfileStore& profile() { return *m_profile; }
    QString scratchPath(const QString& name) const { return m_dir.filePath(name); }
    // The view's board over this fixture's settings, messages and beeper.
    ChessboardSetup boardSetup(int pictures = kBuiltInPieces)
    {
        return {.controlId = kMainBoardId,
                .pictureResource = pictures,
                .profile = &profile(),
                .messages = &m_messages,
                .beeper = &m_beeper};
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ProfileStore> m_profile;
    CapturedMessages m_messages;
    RecordingBeeper m_beeper;
};

} // namespace vez::test
