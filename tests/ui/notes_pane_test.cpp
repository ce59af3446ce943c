// The notes pane: shown texts are not edits, typed ones are, and leaving the pane commits
// them.
#include <gtest/gtest.h>

#include <QFocusEvent>
#include <QTest>

#include "ui/notes_pane.h"

namespace vez::test {
namespace {

TEST(NotesPane, TypedTextIsReportedAndCommittedOnLeaving)
{
    NotesPane pane;
    std::vector<std::string> edits;
    int commits = 0;
    QObject::connect(&pane, &NotesPane::noteEdited,
                     [&edits](std::string text) { edits.push_back(std::move(text)); });
    QObject::connect(&pane, &NotesPane::noteCommitted, [&commits] { ++commits; });
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);

    pane.setNoteText("Sharp line.\nWhite keeps the pawn.");
    QCoreApplication::sendEvent(&pane, &focusOut);
    EXPECT_EQ(std::pair(edits.size(), commits), std::pair(std::size_t(0), 0));

    pane.moveCursor(QTextCursor::End);
    QTest::keyClicks(&pane, "!");
    EXPECT_EQ(edits.back(), "Sharp line.\nWhite keeps the pawn.!");
    QCoreApplication::sendEvent(&pane, &focusOut);
    QCoreApplication::sendEvent(&pane, &focusOut);
    EXPECT_EQ(commits, 1);
}

} // namespace
} // namespace vez::test
