#include "ui/gameset_commands.h"

#include <QApplication>
#include <QGuiApplication>
#include <fstream>

#include "app/document.h"
#include "app/user_interaction.h"
#include "chess/fen.h"
#include "interchange/game.h"
#include "interchange/pgn_writer.h"
#include "store/names.h"
#include "ui/dialogs/gameset_dialog.h"
#include "ui/dialogs/select_game_dialog.h"
#include "ui/dialogs/select_gameset_dialog.h"
#include "ui/widget_helpers.h"

namespace vez {

namespace {

// Keeps an open game list or gameset list in step with the database while it is shown.
class ListWatcher final : public DocumentObserver {
public:
    ListWatcher(CVezDoc& doc, std::function<void()> refresh)
        : m_doc(doc), m_refresh(std::move(refresh))
    {
        m_doc.addObserver(this);
    }
    ~ListWatcher() override { m_doc.removeObserver(this); }
    void onUpdate(DocumentObserver*, UpdateHint hint) override
    {
        if (hint == UpdateHint::Reset || hint == UpdateHint::Bulk ||
            hint == UpdateHint::GameSelected)
            m_refresh();
    }

private:
    CVezDoc& m_doc;
    std::function<void()> m_refresh;
};

} // namespace

std::optional<GamesetForm> QtDialogRunner::editGameset(const GamesetChoices& choices,
                                                       const GamesetForm& preset)
{
    GamesetDialog dialog(choices, preset,
                         [this](const std::string& message) { m_doc.user().showMessage(message); },
                         m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.form();
}

GameChoice QtDialogRunner::chooseGame(const std::vector<int>& numbers, int numberToShow,
                                      bool offerRefine)
{
    SelectGameDialog dialog(
        numbers, numberToShow,
        [this](int number, Game& header) { return m_doc.readGame(number, header, false); },
        m_parent, offerRefine);
    ListWatcher watcher(m_doc, [&] {
        dialog.refresh([this](int number) { return m_doc.gameExists(number); });
    });
    const int result = dialog.exec();
    if (result == SelectGameDialog::Refine)
        return {GameChoice::Refine, -1};
    if (result != QDialog::Accepted || dialog.chosen() < 0 || !m_doc.gameExists(dialog.chosen()))
        return {GameChoice::Cancelled, -1};
    return {GameChoice::Chosen, dialog.chosen()};
}

std::string QtDialogRunner::chooseGameset(const std::vector<std::string>& names)
{
    SelectGamesetDialog dialog(names, m_parent);
    // A gameset deleted meanwhile (by a server client) leaves the list.
    ListWatcher watcher(m_doc, [&] {
        std::vector<std::string> still;
        for (const std::string& name : names) {
            if (m_doc.gamesetExists(name))
                still.push_back(name);
        }
        dialog.setNames(still);
    });
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const std::string chosen = dialog.chosen();
    return m_doc.gamesetExists(chosen) ? chosen : std::string();
}

GamesetCommands::GamesetCommands(CVezDoc& doc, DialogRunner& dialogs, GameLoader loader)
    : m_doc(doc), m_dialogs(dialogs), m_loader(std::move(loader))
{
}

GamesetChoices GamesetCommands::choices() const
{
    GamesetChoices choices;
    choices.gamesets = m_doc.gamesetNames();
    if (!m_doc.database())
        return choices;
    listPlayers(choices.players);
    listDictionary(Dictionary::Event, choices.events);
    listDictionary(Dictionary::TagName, choices.tags);
    return choices;
}

std::string GamesetCommands::choose(const std::vector<std::string>& names)
{
    return names.empty() ? std::string() : m_dialogs.chooseGameset(names);
}

void GamesetCommands::newGameset(bool search, const Position& board, const std::string& subsetOf)
{
    if (!m_doc.database())
        return;
    const GamesetChoices known = choices();
    GamesetForm preset;
    if (search)
        preset.name = temporaryGamesetName(known.gamesets);
    preset.parent = subsetOf;
    const std::optional<GamesetForm> form = m_dialogs.editGameset(known, preset);
    if (!form)
        return;
    bool made = false;
    {
        WaitCursor wait;
        made = m_doc.createGamesetFromText(form->name, gamesetRuleOf(*form, writeFen(board, 0, 1)));
    }
    if (!made) {
        m_doc.user().showMessage("Could not construct new gameset.");
        return;
    }
    listMembers(form->name, board);
    // The search's own set goes once it and every refinement opened from it have ended.
    if (search)
        m_doc.deleteGamesetByName(form->name);
}

void GamesetCommands::listMembers(const std::string& gameset, const Position& board)
{
    const GameChoice choice = m_dialogs.chooseGame(m_doc.gamesetMembers(gameset), -1, true);
    if (choice.outcome == GameChoice::Refine)
        newGameset(true, board, gameset);
    else if (choice.outcome == GameChoice::Chosen && m_doc.gameExists(choice.number))
        m_loader(choice.number, gameset);
}

void GamesetCommands::selectFromGameset(const Position& board)
{
    const std::string gameset = choose(m_doc.gamesetNames());
    if (!gameset.empty())
        listMembers(gameset, board);
}

void GamesetCommands::addCurrentGame()
{
    const int game = m_doc.getCurrentGame();
    std::vector<std::string> names;
    for (const std::string& name : m_doc.gamesetNames()) {
        const std::vector<int> members = m_doc.gamesetMembers(name);
        if (!std::binary_search(members.begin(), members.end(), game))
            names.push_back(name);
    }
    if (const std::string gameset = choose(names); !gameset.empty() && game >= 0)
        m_doc.addToGameset(gameset, game);
}

void GamesetCommands::removeCurrentGame()
{
    const int game = m_doc.getCurrentGame();
    std::vector<std::string> names;
    for (const std::string& name : m_doc.gamesetNames()) {
        const std::vector<int> members = m_doc.gamesetMembers(name);
        if (std::binary_search(members.begin(), members.end(), game))
            names.push_back(name);
    }
    if (const std::string gameset = choose(names); !gameset.empty() && game >= 0)
        m_doc.removeFromGameset(gameset, game);
}

void GamesetCommands::deleteGameset()
{
    std::vector<std::string> names;
    for (const std::string& name : m_doc.gamesetNames()) {
        if (m_doc.canDeleteGamesetByName(name))
            names.push_back(name);
    }
    if (const std::string gameset = choose(names); !gameset.empty())
        m_doc.deleteGamesetByName(gameset);
}

void GamesetCommands::deleteGames()
{
    const std::string gameset = choose(m_doc.gamesetNames());
    if (gameset.empty())
        return;
    const std::vector<int> members = m_doc.gamesetMembers(gameset);
    if (members.empty())
        return;
    const std::string question = "Delete the " + std::to_string(members.size()) +
                                 (members.size() == 1 ? " game" : " games") + " of gameset \"" +
                                 gameset + "\" from the database?";
    if (!m_doc.user().askOkCancel(question))
        return;
    {
        WaitCursor wait;
        if (std::binary_search(members.begin(), members.end(), m_doc.getCurrentGame()))
            m_doc.clearGame();
        for (int number : members)
            m_doc.deleteGame(number);
    }
    m_doc.UpdateAllViews(nullptr, UpdateHint::Bulk);
}

std::string GamesetCommands::chooseGamesetToExport() { return choose(m_doc.gamesetNames()); }

void GamesetCommands::exportGameset(const std::string& path, const std::string& gameset)
{
    WaitCursor wait;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        m_doc.user().showMessage(path + ": could not open:\n\t" + std::strerror(errno));
        return;
    }
    for (int number : m_doc.gamesetMembers(gameset)) {
        Game game;
        if (m_doc.readGame(number, game, true))
            writeGameToFile(game, out, m_doc.isNonstandard());
    }
    out.flush();
    if (!out)
        m_doc.user().showMessage(path + ": could not write:\n\t" + std::strerror(errno));
}

} // namespace vez
