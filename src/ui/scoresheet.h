// The scoresheet: the current line's moves in two columns with move numbers, the current
// ply and the result, move entry by typing with prefix completion, and a context menu for
// auto completion and move glyphs. It shows what the view's logic builds (ScoresheetData)
// and reports the user's choices by signals.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>

#include <memory>
#include <string>

#include "app/pane_data.h"

class QMenu;

namespace vez {

class Beeper;
class ProfileStore;

class Scoresheet final : public QAbstractScrollArea {
    Q_OBJECT
public:
    // profile: "Auto Complete" is read here and written by the menu item (null: on, not
    // stored). beeper: null for the system's.
    Scoresheet(ProfileStore* profile, Beeper* beeper, QWidget* parent = nullptr);

    // Shows the line. With keepScroll the first visible line stays, otherwise the current
    // ply is scrolled into view. Anything typed so far is dropped.
    void setData(const ScoresheetData& data, bool keepScroll);
    const ScoresheetData& data() const { return m_data; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    void SetCurrentPly(int ply);
    int GetFirstLine() const { return m_firstLine; }
    void SetFirstLine(int line);
    int visibleLines() const;
    const std::string& input() const { return m_input; }
    bool autoCompletion() const { return m_autoComplete; }

    // Geometry of the text, in the viewport's pixels before scrolling.
    int numberWidth() const { return m_numberWidth; }
    int moveWidth() const { return m_moveWidth; }
    int lineHeight() const { return m_lineHeight; }
    // The ply a point of the viewport stands for.
    int plyAt(QPoint point) const;
    // The colours the sheet writes moves in: played, current and later, typed text.
    static QColor playedColour() { return Qt::black; }
    QColor laterColour() const;
    static QColor inputColour() { return QColor(127, 0, 0); }

    // The context menu for the move at a ply; the caller owns it.
    std::unique_ptr<QMenu> buildContextMenu(int targetPly);

Q_SIGNALS:
    void moveTyped(vez::Move move, vez::MoveGlyph glyph);
    void plyChosen(int ply);
    // A glyph from the context menu for the move at ply (an index into the line's moves).
    void glyphChosen(int ply, vez::Move move, vez::MoveGlyph glyph);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // Lines a Page Up or Page Down key and a click in the scroll bar's trough move.
    static constexpr int kPageLines = 10;

    int slotCount() const;
    void updateScrollRange();
    void scrollPlyIntoView(int ply);
    void paintMoves(QPainter& painter);
    void paintSlot(QPainter& painter, int slot, const QString& text, const QColor& colour);
    void typeCharacter(const QString& text, bool terminator);
    bool navigationKey(int key);
    void choosePly(int ply);
    void chooseGlyph(int ply, MoveGlyph glyph);
    void beep(int kind) const;

    ProfileStore* m_profile;
    Beeper* m_beeper;
    ScoresheetData m_data;
    QFont m_font;
    int m_numberWidth = 0;
    int m_moveWidth = 0;
    int m_lineHeight = 1;
    int m_firstLine = 0;
    bool m_autoComplete = true;
    bool m_readOnly = false;
    bool m_menuActive = false;
    std::string m_input;
};

} // namespace vez
