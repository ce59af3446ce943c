// The gameset commands on a database of real games, with the dialogs' answers scripted.
#include <gtest/gtest.h>

#include "app/document_fixture.h"
#include "ui/gameset_commands.h"

namespace vez {
namespace {

struct ScriptedDialogs final : DialogRunner {
    std::optional<GamesetForm> editGameset(const GamesetChoices&,
                                           const GamesetForm& preset) override
    {
        presets.push_back(preset);
        if (forms.empty())
            return std::nullopt;
        GamesetForm form = forms.front();
        forms.pop_front();
        form.name = preset.name.empty() ? form.name : preset.name;
        form.parent = preset.parent;
        return form;
    }
    GameChoice chooseGame(const std::vector<int>& numbers, int, bool) override
    {
        lists.push_back(numbers);
        existing.push_back(doc->gamesetNames());
        GameChoice choice = choices.front();
        choices.pop_front();
        if (choice.outcome == GameChoice::Chosen)
            choice.number = numbers.at(std::size_t(choice.number)); // scripted as a row
        return choice;
    }
    std::string chooseGameset(const std::vector<std::string>&) override { return gameset; }

    CVezDoc* doc = nullptr;
    std::deque<GamesetForm> forms;
    std::deque<GameChoice> choices;
    std::string gameset;
    std::vector<GamesetForm> presets;
    std::vector<std::vector<std::string>> existing;
    std::vector<std::vector<int>> lists;
};

using GamesetCommandsTest = test::DocumentTest;

TEST_F(GamesetCommandsTest, ARefinedSearchLeavesNoTemporarySetAndDeleteGamesAsksFirst)
{
    ASSERT_EQ(importOnWorker({test::kSamplePgn}).games, 60);
    ScriptedDialogs dialogs;
    dialogs.doc = doc.get();
    std::vector<std::pair<int, std::string>> loaded;
    GamesetCommands commands(
        *doc, dialogs, [&loaded](int n, const std::string& set) { loaded.emplace_back(n, set); });
    GamesetForm draws;
    draws.role = GamesetRole::Draw;
    GamesetForm fromTheStart;
    fromTheStart.containsPosition = true;
    dialogs.forms = {draws, fromTheStart};
    dialogs.choices = {{GameChoice::Refine, -1}, {GameChoice::Chosen, 0}};
    commands.newGameset(true, test::after(""));

    ASSERT_EQ(dialogs.presets.size(), 2u);
    EXPECT_EQ(dialogs.presets[1].parent, "Temporary Gameset #0");
    // The refinement is a subset of the draws: every game starts from the start position.
    ASSERT_EQ(dialogs.lists.size(), 2u);
    EXPECT_EQ(dialogs.lists[1], dialogs.lists[0]);
    Game header;
    for (int number : dialogs.lists[0])
        EXPECT_TRUE(doc->readGame(number, header, false) && header.result == 3) << number;
    // Both temporary sets live while the inner list is shown, and neither afterwards.
    const auto& during = dialogs.existing[1];
    EXPECT_NE(std::find(during.begin(), during.end(), "Temporary Gameset #0"), during.end());
    EXPECT_FALSE(doc->gamesetExists("Temporary Gameset #0"));
    EXPECT_FALSE(doc->gamesetExists("Temporary Gameset #1"));
    ASSERT_FALSE(dialogs.lists[1].empty());
    EXPECT_EQ(loaded, (std::vector<std::pair<int, std::string>>{
                          {dialogs.lists[1][0], "Temporary Gameset #1"}}));

    // Delete games asks with the count first.
    const std::string source = "Games from " + test::kSamplePgn;
    dialogs.gameset = source;
    user.okAnswer = false;
    commands.deleteGames();
    EXPECT_EQ(user.questions, std::vector<std::string>{"Delete the 60 games of gameset \"" +
                                                       source + "\" from the database?"});
    EXPECT_EQ(doc->gameNumbers().size(), 60u);
    user.okAnswer = true;
    commands.deleteGames();
    EXPECT_TRUE(doc->gameNumbers().empty());
}

} // namespace
} // namespace vez
