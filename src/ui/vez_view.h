// The view: the panes placed on one surface by the default chain or their stored places,
// the status text painted at the top, the panes' intents handed to the view's logic and its
// data handed back to the panes.
#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "app/view_logic.h"

class QPainter;

namespace vez {

class ProfileStore;

class VezView : public QWidget, public ViewClient {
    Q_OBJECT
public:
    VezView(CVezDoc& doc, UserInteraction& user, ProfileStore& profile, QWidget* parent);
    ~VezView() override;

    ViewLogic& logic() { return *m_logic; }
    const ViewLogic& logic() const { return *m_logic; }
    // Creates the panes and lets the logic load the document's game.
    void createPanes();
    bool moveTreeShown() const;
    void setMoveTreeShown(bool shown);
    void focusScoresheet();
    // The rectangle of a pane ("Chessbd", "KnownMoves", "ScoreSheet", "Notepad",
    // "MoveTree"); empty when the pane is not there.
    QRect paneRect(const QString& name) const;
    // The movable panel of a pane, null when it is not there.
    QWidget* pane(const QString& name) const;
    // Status text, board and the game's PGN on a printer page.
    void print(QPainter& painter, const QRect& page) const;

    // ViewClient
    void refreshPanes(bool keepScroll) override;
    void statusChanged() override;
    void applyNoteFont() override;
    bool editTags(Game& game) override;
    void coPilotPosition(const Position& position) override;

Q_SIGNALS:
    // Something the commands' enabled state depends on changed.
    void stateChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void placeOtherPanes(const QRect& board);
    void createMoveTree();
    // Puts the content in a movable panel at its stored place, or the given one; the
    // panel's rectangle.
    QRect addPane(const char* name, QWidget* content, bool resizable, const QRect& place);

    struct Panes;
    CVezDoc& m_doc;
    UserInteraction& m_user;
    ProfileStore& m_profile;
    std::unique_ptr<ViewLogic> m_logic;
    std::unique_ptr<Panes> m_panes;
    QRect m_treeRect; // where the move tree goes by default
};

} // namespace vez
