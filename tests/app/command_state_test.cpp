// Which commands are enabled and checked, from the document, the view and the main
// window's facts.
#include "app/command_state.h"

#include "app/recent_files.h"
#include "view_fixture.h"

namespace vez::test {
namespace {

using CommandStateTest = ViewTest;
using C = CommandId;

// Set-up mode allows only board editing; an import disables what would replace the
// database under it, and leaves browsing alone.
TEST_F(CommandStateTest, EnabledAndChecked)
{
    storeSample(2);
    doc->selectGame(0, {}, nullptr);
    viewLogic->advance();
    // The command, its context, enabled and checked.
    const std::vector<std::tuple<CommandId, CommandContext, bool, bool>> cases = {
        {C::FileServer, {.serverRunning = true}, true, true},
        {C::FileRecentFile2, {.recentFileCount = 2}, true, false},
        {C::FileRecentFile3, {.recentFileCount = 2}, false, false},
        {C::GameSave, {}, true, true}, // checked while the game is unmodified
        {C::GameDeleteGame, {.analysisHoldsGame = true}, false, false},
        {C::GamePastePgn, {}, false, false},
        {C::GamePastePgn, {.clipboardHasText = true}, true, false},
        {C::GamesetCreateDatabase, {.serverRunning = true}, false, false},
    };
    for (const auto& [id, context, enabled, checked] : cases) {
        const CommandStatus status = CommandState(*doc, viewLogic.get(), context).status(id);
        EXPECT_EQ(std::pair(status.enabled, status.checked), std::pair(enabled, checked))
            << commandInfo(id).label;
    }

    // The labels of the commands a state enables (in set-up mode: only board editing), and
    // of those an import disables (what would replace the database under it) or enables.
    const auto labels = [](const auto& enabled) {
        std::string text;
        for (int i = 0; i < kCommandCount; ++i)
            if (enabled(CommandId(i)))
                text += std::string(commandInfo(CommandId(i)).label) + "|";
        return text;
    };
    const CommandState idle(*doc, viewLogic.get(), {.recentFileCount = 4});
    const CommandState importing(*doc, viewLogic.get(),
                                 {.importRunning = true, .recentFileCount = 4});
    EXPECT_EQ(labels([&](CommandId id) { return idle.enabled(id) && !importing.enabled(id); }),
              "&New|New Non&standard|&Open...|Save &As...|&Merge...|&Import...|"
              "&Convert to clean PGN...|&1|&2|&3|&4|");
    EXPECT_EQ(labels([&](CommandId id) { return importing.enabled(id) && !idle.enabled(id); }), "");
    viewLogic->enterSetupMode();
    EXPECT_EQ(labels([&](CommandId id) { return idle.enabled(id); }),
              "E&xit|&Toolbar|&Status Bar|&About vez...|&Help Topics|");
}

TEST_F(CommandStateTest, RecentFilesKeepFourNewestFirst)
{
    {
        RecentFiles recent(*profile);
        for (const std::string name : {"a.vez", "b.vez", "c.vez", "d.vez", "b.vez", "e.vez"})
            recent.add("/data/" + name);
        recent.remove("/data/c.vez");
        EXPECT_EQ(recent.menuText(0), "&1 e.vez");
    }
    const RecentFiles reread(*profile);
    EXPECT_EQ(reread.files(),
              (std::vector<std::string>{"/data/e.vez", "/data/b.vez", "/data/d.vez"}));
}

} // namespace
} // namespace vez::test
