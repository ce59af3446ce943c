// A view's logic over a document, with a scripted desktop view.
#pragma once

#include <sstream>

#include "app/view_logic.h"
#include "document_fixture.h"

namespace vez::test {

class ScriptedClient final : public ViewClient {
public:
    void refreshPanes(bool) override {}
    void statusChanged() override {}
    void applyNoteFont() override { ++fontChanges; }
    bool editTags(Game& game) override
    {
        if (!tagAnswer)
            return false;
        game.white = "Player, White";
        game.black = "Player, Black";
        return true;
    }
    int fontChanges = 0;
    bool tagAnswer = true;
};

class ViewTest : public DocumentTest {
protected:
    void SetUp() override
    {
        DocumentTest::SetUp();
        viewLogic = std::make_unique<ViewLogic>(*doc, user, client);
        viewLogic->setPanesCreated();
    }
    // Stores the first `count` games of the bundled sample.
    void storeSample(std::size_t count)
    {
        for (const Game& game : readGames(kSamplePgn, count))
            ASSERT_GE(doc->addGame(game, -1), 0);
    }
    // Stores a game given as PGN movetext with its result.
    int storeMoves(const std::string& moves, const std::string& result = "*")
    {
        return storeText("[Result \"" + result + "\"]\n\n" + moves + " " + result + "\n");
    }
    // Plays moves given as SAN separated by blanks.
    void play(const std::string& moves)
    {
        std::istringstream in(moves);
        for (std::string move; in >> move;)
            ASSERT_TRUE(viewLogic->enterMoveText(move)) << move;
    }
    ScriptedClient client;
    std::unique_ptr<ViewLogic> viewLogic;
};

} // namespace vez::test
