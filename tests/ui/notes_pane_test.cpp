// The notes pane: shown texts are not edits, typed ones are, leaving the pane commits them,
// and the note font comes from the settings.
#include <QFocusEvent>
#include <QTest>

#include "ui/notes_pane.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

class NotesPaneTest : public UiTest {};

TEST_F(NotesPaneTest, TypedTextIsReportedAndCommittedOnLeaving)
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
    EXPECT_TRUE(edits.empty());
    EXPECT_EQ(commits, 0);

    pane.moveCursor(QTextCursor::End);
    QTest::keyClicks(&pane, "!");
    EXPECT_EQ(edits.back(), "Sharp line.\nWhite keeps the pawn.!");
    QCoreApplication::sendEvent(&pane, &focusOut);
    QCoreApplication::sendEvent(&pane, &focusOut);
    EXPECT_EQ(commits, 1);
}

TEST_F(NotesPaneTest, TheNoteFontComesFromTheSettings)
{
    NotesPane pane;
    profile().writeProfileString("Note Font Name", "DejaVu Serif");
    profile().writeProfileInt("Note Font Size", 125);
    profile().writeProfileInt("Note Font Weight", 700);
    profile().writeProfileInt("Note Font Italic", 1);
    pane.applyFont(profile());
    EXPECT_EQ(pane.font().family(), QStringLiteral("DejaVu Serif"));
    EXPECT_DOUBLE_EQ(pane.font().pointSizeF(), 12.5);
    EXPECT_EQ(pane.font().weight(), QFont::Bold);
    EXPECT_TRUE(pane.font().italic());
}

} // namespace
} // namespace vez::test
