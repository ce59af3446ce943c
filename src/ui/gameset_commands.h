// The gameset commands: Gameset/New..., Search..., Export..., Delete..., Delete Games...,
// Game/Select game/... from gameset..., Add to gameset..., Remove from gameset....
//
// They ask through a DialogRunner, so that a test scripts the answers; the desktop program's
// runner shows the dialogs, and keeps an open game list in step with the database when a
// server client or another command deletes games meanwhile.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "chess/position.h"
#include "ui/dialogs/gameset_form.h"

class QWidget;

namespace vez {

class CVezDoc;

struct GameChoice {
    enum Outcome { Cancelled, Chosen, Refine } outcome = Cancelled;
    int number = -1;
};

class DialogRunner {
public:
    virtual ~DialogRunner() = default;
    // "New Gameset" with the entries preset; none when cancelled.
    virtual std::optional<GamesetForm> editGameset(const GamesetChoices& choices,
                                                   const GamesetForm& preset) = 0;
    // "Select Game" over the numbers; offerRefine adds "Refine...".
    virtual GameChoice chooseGame(const std::vector<int>& numbers, int numberToShow,
                                  bool offerRefine) = 0;
    // "Select Gameset"; empty when cancelled. Never asked with an empty list.
    virtual std::string chooseGameset(const std::vector<std::string>& names) = 0;
};

// The dialogs themselves.
class QtDialogRunner final : public DialogRunner {
public:
    QtDialogRunner(CVezDoc& doc, QWidget* parent) : m_doc(doc), m_parent(parent) {}
    std::optional<GamesetForm> editGameset(const GamesetChoices& choices,
                                           const GamesetForm& preset) override;
    GameChoice chooseGame(const std::vector<int>& numbers, int numberToShow,
                          bool offerRefine) override;
    std::string chooseGameset(const std::vector<std::string>& names) override;

private:
    CVezDoc& m_doc;
    QWidget* m_parent;
};

class GamesetCommands {
public:
    // chooseGame loads a game chosen in a list with the gameset it came from (the view's
    // business: it may first offer the current game for saving).
    using GameLoader = std::function<void(int number, const std::string& gameset)>;
    GamesetCommands(CVezDoc& doc, DialogRunner& dialogs, GameLoader loader);

    // Gameset/New... (search false) and Gameset/Search... (search true); board is the
    // position shown, for "Games containing current position".
    void newGameset(bool search, const Position& board, const std::string& subsetOf = {});
    void selectFromGameset(const Position& board);
    void addCurrentGame();
    void removeCurrentGame();
    void deleteGameset();
    // Asks OK/Cancel with the number of games before deleting any.
    void deleteGames();
    void exportGameset(const std::string& path, const std::string& gameset);
    std::string chooseGamesetToExport();

    GamesetChoices choices() const;

private:
    // Lists the members; OK loads the chosen game, Refine searches within the set.
    void listMembers(const std::string& gameset, const Position& board);
    std::string choose(const std::vector<std::string>& names);

    CVezDoc& m_doc;
    DialogRunner& m_dialogs;
    GameLoader m_loader;
};

} // namespace vez
