#include "ui/help_window.h"

#include <QDialog>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vez {

const char* userGuideHtml()
{
    return R"(<h1>VEZ 1.5 user guide</h1>
<p>VEZ keeps chess games in one database file (<tt>.vez</tt>) as a single graph of positions:
every position reached in any game is stored once, with the moves played from it and how the
games through it ended.</p>
<h2>The window</h2>
<ul>
<li><b>Status lines</b> at the top: how many games reach the shown position (with White's and
Black's wins), its score and ECO code; below, the current game.</li>
<li><b>Board</b>: drag a piece to play a move. Right-click for the board's menu: flip, square
colours, arrows, pieces and set-up mode.</li>
<li><b>Known moves</b>: every move the database knows from the shown position, with its games,
results, score and note. Click a row to play it.</li>
<li><b>Scoresheet</b>: the moves of the current line. Click a move to go there; type a move
(e.g. <tt>Nf3</tt>) to play it. Right-click for move annotations.</li>
<li><b>Notes</b>: the comment of the move just played; it is kept when you move on.</li>
<li><b>Move tree</b> (View/Move tree): the database's moves from the start as a tree.</li>
</ul>
<h2>Everyday work</h2>
<ul>
<li><b>File/Import...</b> (Ctrl+I) reads PGN and EPD files; the program stays usable while
games arrive, and the status line's counts grow.</li>
<li>Opening a <tt>.pgn</tt> file browses it in a new unnamed database; <b>File/Save As...</b>
keeps it.</li>
<li><b>Game/Save...</b> (Ctrl+A) stores the game on the board; <b>Game/Start new game</b>
(Ctrl+R) returns to the starting position.</li>
<li><b>Game/Copy PGN</b> (Ctrl+C) and <b>Game/Paste PGN</b> (Ctrl+V) exchange games with other
programs through the clipboard; <b>Position/Copy EPD</b> copies the position.</li>
<li><b>Game/Select game</b>: the games through the shown position (Ctrl+P) or of a gameset
(Ctrl+G).</li>
<li><b>Gameset/New...</b> and <b>Gameset/Search...</b> make sets of games by player, event,
tag, date, ECO code, result, colour and position; a search's set is removed when you close
its list, and <b>Refine...</b> narrows it further.</li>
<li><b>Position/Set Score...</b>, <b>Flashcard toggle</b> (Ctrl+W) and the notes pane annotate
positions; the exports write them as EPD.</li>
</ul>
<h2>Keys</h2>
<p>Ctrl+N new database, Ctrl+O open, Ctrl+I import, Ctrl+T edit tags, Ctrl+J next game in the
gameset. In the notes pane and other text fields Ctrl+C, Ctrl+X, Ctrl+V, Ctrl+A and Ctrl+Z edit
the text and never act on the game.</p>
<h2>Closing</h2>
<p>A file-backed database is written as you work; an unnamed one is offered for saving when
you close the program. Stopping the program with SIGTERM or SIGINT closes the database file
cleanly without asking, so an unsaved unnamed database is lost.</p>
)";
}

void showUserGuide(QWidget* parent)
{
    static QPointer<QDialog> shown;
    if (!shown) {
        shown = new QDialog(parent);
        shown->setAttribute(Qt::WA_DeleteOnClose);
        shown->setWindowTitle("VEZ Help Topics");
        auto* browser = new QTextBrowser(shown);
        browser->setHtml(userGuideHtml());
        auto* layout = new QVBoxLayout(shown);
        layout->addWidget(browser);
        shown->resize(640, 560);
    }
    shown->show();
    shown->raise();
}

} // namespace vez
