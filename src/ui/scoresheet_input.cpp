// The scoresheet's painting and what the user does on it: keys, typed moves, double clicks
// and the context menu.
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cctype>

#include "app/profile_store.h"
#include "chess/notation.h"
#include "interchange/game.h"
#include "ui/beeper.h"
#include "ui/scoresheet.h"

namespace vez {

namespace {

const QColor kLightYellow(255, 255, 192);

const std::pair<const char*, MoveGlyph> kGlyphItems[] = {
    {"Clear", MoveGlyph::None},   {"!", MoveGlyph::Good},     {"?", MoveGlyph::Mistake},
    {"!!", MoveGlyph::Brilliant}, {"??", MoveGlyph::Blunder}, {"!?", MoveGlyph::Interesting},
    {"?!", MoveGlyph::Dubious},
};

} // namespace

// --- Painting ---------------------------------------------------------------------------

void Scoresheet::paintSlot(QPainter& painter, int slot, const QString& text, const QColor& colour)
{
    const int x = slot % 2 == 0 ? m_numberWidth : m_numberWidth + m_moveWidth;
    painter.setPen(colour);
    painter.drawText(QPoint(x, (slot / 2) * m_lineHeight + QFontMetrics(m_font).ascent()), text);
}

void Scoresheet::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::white);
    if (m_data.setupMode)
        return;
    painter.setFont(m_font);
    painter.translate(0, -m_firstLine * m_lineHeight);
    paintMoves(painter);
}

void Scoresheet::paintMoves(QPainter& painter)
{
    const int ascent = QFontMetrics(m_font).ascent();
    const int offset = m_data.blackFirst ? 1 : 0;
    if (m_data.blackFirst) {
        painter.setPen(playedColour());
        painter.drawText(QPoint(0, ascent), QStringLiteral("1..."));
    }
    const int count = static_cast<int>(m_data.moves.size());
    const int current = m_data.currentPly;
    for (int slot = offset & ~1; slot < count + offset + 1; slot += 2) {
        // The move area alternates white and light yellow by full moves.
        const QRect area(m_numberWidth - 8, (slot / 2) * m_lineHeight, 2 * m_moveWidth,
                         m_lineHeight);
        painter.fillRect(area, slot % 4 == 0 ? QColor(Qt::white) : kLightYellow);
        painter.setPen(playedColour());
        painter.drawText(QPoint(0, (slot / 2) * m_lineHeight + ascent),
                         QString::asprintf("%d. ", slot / 2 + 1));
    }
    for (int i = 0; i < count; ++i) {
        const bool typing = i == current && !m_input.empty();
        const QString text = QString::fromStdString(typing ? m_input : m_data.moves[i].text);
        paintSlot(painter, i + offset, text,
                  typing ? inputColour() : (i < current ? playedColour() : laterColour()));
    }
    const bool atEnd = current == count;
    QString last;
    if (atEnd && !m_input.empty())
        last = QString::fromStdString(m_input);
    else if (m_data.showResult) {
        const std::string_view result = resultText(m_data.result);
        last = QString::fromLatin1(result.data(), qsizetype(result.size()));
    }
    const bool red = atEnd || !m_input.empty();
    paintSlot(painter, count + offset, last, red ? inputColour() : laterColour());
}

// --- Keys and typed moves ---------------------------------------------------------------

void Scoresheet::keyPressEvent(QKeyEvent* event)
{
    if (navigationKey(event->key()))
        return;
    const QString text = event->text();
    const bool terminator = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                            event->key() == Qt::Key_Tab;
    if (!terminator && (text.isEmpty() || !text[0].isPrint()))
        return QAbstractScrollArea::keyPressEvent(event);
    if (m_readOnly || m_data.setupMode) {
        beep(static_cast<int>(BeepKind::StopSign));
        return;
    }
    typeCharacter(text, terminator);
}

bool Scoresheet::navigationKey(int key)
{
    const int count = static_cast<int>(m_data.moves.size());
    switch (key) {
    case Qt::Key_Backspace:
        if (!m_input.empty())
            m_input.pop_back();
        viewport()->update();
        return true;
    case Qt::Key_PageUp: SetFirstLine(m_firstLine - kPageLines); return true;
    case Qt::Key_PageDown:
        SetFirstLine(std::min(m_firstLine + kPageLines, verticalScrollBar()->maximum() - 1));
        return true;
    case Qt::Key_Home: choosePly(0); return true;
    case Qt::Key_End: choosePly(count); return true;
    case Qt::Key_Left: choosePly(m_data.currentPly - 1); return true;
    case Qt::Key_Right: choosePly(m_data.currentPly + 1); return true;
    case Qt::Key_Up: choosePly(m_data.currentPly - 2); return true;
    case Qt::Key_Down: choosePly(m_data.currentPly + 2); return true;
    case Qt::Key_Delete: return true;
    default: return false;
    }
}

void Scoresheet::choosePly(int ply)
{
    m_data.currentPly = std::clamp(ply, 0, static_cast<int>(m_data.moves.size()));
    viewport()->update();
    Q_EMIT plyChosen(m_data.currentPly);
}

void Scoresheet::typeCharacter(const QString& text, bool terminator)
{
    const std::string kept = m_input;
    if (!terminator) {
        char c = text[0].toLatin1();
        if (m_data.descriptive && c != 'x')
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        m_input += c;
    }
    Position position = m_data.startPosition;
    const int ply = std::min<int>(m_data.currentPly, static_cast<int>(m_data.moves.size()));
    for (int i = 0; i < ply; ++i)
        makeMove(position, m_data.moves[i].move);
    std::vector<std::string> texts;
    listMoveTexts(position, texts, m_data.nonstandard, m_data.descriptive);

    const std::size_t cut = m_input.find_last_not_of("!?") + 1;
    const std::string suffix = m_input.substr(cut);
    const std::string typed = m_input.substr(0, cut);
    std::vector<const std::string*> candidates;
    const std::string* exact = nullptr;
    for (const std::string& moveText : texts) {
        if (moveText.compare(0, typed.size(), typed) == 0)
            candidates.push_back(&moveText);
        if (moveText == typed)
            exact = &moveText;
    }
    if (candidates.empty() || (terminator && candidates.size() > 1 && !exact)) {
        beep(static_cast<int>(BeepKind::StopSign));
        m_input = kept;
    } else if ((candidates.size() == 1 && m_autoComplete) || (terminator && exact)) {
        const std::string chosen = (candidates.size() == 1 ? *candidates[0] : *exact) + suffix;
        Move move = Move::None;
        MoveGlyph glyph = MoveGlyph::None;
        const bool parsed = m_data.descriptive
                                ? parseDescriptive(position, move, nullptr, &glyph, chosen)
                                : parseMove(position, move, nullptr, &glyph, chosen);
        m_input.clear();
        viewport()->update();
        if (parsed)
            Q_EMIT moveTyped(move, glyph);
        else
            beep(static_cast<int>(BeepKind::StopSign));
        return;
    }
    viewport()->update();
}

// --- Mouse and menu ---------------------------------------------------------------------

void Scoresheet::mouseDoubleClickEvent(QMouseEvent* event)
{
    choosePly(plyAt(event->position().toPoint()));
}

void Scoresheet::enterEvent(QEnterEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QAbstractScrollArea::enterEvent(event);
}

std::unique_ptr<QMenu> Scoresheet::buildContextMenu(int targetPly)
{
    auto menu = std::make_unique<QMenu>(this);
    QAction* complete = menu->addAction(QStringLiteral("Auto completion"));
    complete->setCheckable(true);
    complete->setChecked(m_autoComplete);
    connect(complete, &QAction::triggered, this, [this] {
        m_autoComplete = !m_autoComplete;
        if (m_profile)
            m_profile->writeProfileInt("Auto Complete", m_autoComplete ? 1 : 0);
    });
    QMenu* glyphs = menu->addMenu(QStringLiteral("Move annotation"));
    for (const auto& [text, glyph] : kGlyphItems)
        connect(glyphs->addAction(QString::fromLatin1(text)), &QAction::triggered, this,
                [this, targetPly, glyph = glyph] { chooseGlyph(targetPly, glyph); });
    return menu;
}

void Scoresheet::chooseGlyph(int ply, MoveGlyph glyph)
{
    if (ply < 0 || ply >= static_cast<int>(m_data.moves.size())) {
        beep(static_cast<int>(BeepKind::Simple));
        return;
    }
    m_data.moves[ply].glyph = glyph;
    viewport()->update();
    Q_EMIT glyphChosen(ply, m_data.moves[ply].move, glyph);
}

void Scoresheet::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_readOnly)
        return;
    const std::unique_ptr<QMenu> menu = buildContextMenu(plyAt(event->pos()));
    m_menuActive = true;
    menu->exec(event->globalPos());
    m_menuActive = false;
}

} // namespace vez
