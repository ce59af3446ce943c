// A document with scripted user answers, a private settings file and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/document.h"
#include "app/profile_store.h"
#include "app/user_interaction.h"
#include "chess/notation.h"
#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "support/child_scripts.h"
#include "support/movetext.h"
#include "support/pgn_games.h"

namespace vez::test {

inline const std::string kSamplePgn = VEZ_TEST_DATA_DIR "/twic0920-sample.pgn";

class ScriptedProgress final : public Progress {
public:
    explicit ScriptedProgress(int cancelAfter) : m_cancelAfter(cancelAfter) {}
    bool cancelled() const override { return m_cancelAfter >= 0 && m_updates >= m_cancelAfter; }
    void update(const std::string&, std::uint64_t, std::uint64_t) override { ++m_updates; }

private:
    int m_cancelAfter;
    std::atomic<int> m_updates{0};
};

class ScriptedUser final : public UserInteraction {
public:
    void showMessage(const std::string& text) override { messages.push_back(text); }
    bool askOkCancel(const std::string& text) override
    {
        questions.push_back(text);
        return okAnswer;
    }
    SaveAnswer askSaveChanges(const std::string& title) override
    {
        savePrompts.push_back(title);
        return saveAnswer;
    }
    std::string chooseOpenFile(const FileDialogRequest& request) override
    {
        openRequests.push_back(request);
        return takeFront(openAnswers);
    }
    std::string chooseSaveFile(const FileDialogRequest&) override { return takeFront(saveAnswers); }
    PgnErrorAnswer pgnError(const PgnErrorReport& report) override
    {
        errors.push_back(report);
        errorThreads.push_back(std::this_thread::get_id());
        return takeFront(errorAnswers);
    }
    void setClipboardText(const std::string& text) override { clipboard = text; }
    std::unique_ptr<Progress> openProgress(const std::string&) override
    {
        return std::make_unique<ScriptedProgress>(cancelAfterUpdates);
    }

    template <class T>
    static T takeFront(std::deque<T>& answers)
    {
        if (answers.empty())
            return {};
        T answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<std::string> savePrompts;
    std::vector<FileDialogRequest> openRequests;
    std::vector<PgnErrorReport> errors;
    std::vector<std::thread::id> errorThreads;
    std::deque<PgnErrorAnswer> errorAnswers;
    std::deque<std::string> openAnswers;
    std::deque<std::string> saveAnswers;
    std::string clipboard;
    bool okAnswer = true;
    SaveAnswer saveAnswer = SaveAnswer::No;
    int cancelAfterUpdates = -1;
};

// Records every update with the thread it arrived on.
class RecordingView final : public DocumentObserver {
public:
    void onUpdate(DocumentObserver*, UpdateHint hint) override
    {
        hints.push_back(hint);
        threads.push_back(std::this_thread::get_id());
    }
    std::vector<UpdateHint> hints;
    std::vector<std::thread::id> threads;
};

inline std::string readFile(const std::string& path) { return readTextFile(path).value_or(""); }

inline void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Runs the event loop until the condition holds or the time is up.
template <class Condition>
bool pump(Condition done, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    return eventually(
        [&done] {
            QCoreApplication::processEvents();
            return done();
        },
        limit);
}

// The position after SAN moves from the standard start.
inline Position after(const std::string& moves)
{
    Position position;
    setStandardStart(position);
    std::istringstream in(moves);
    for (std::string text; in >> text;) {
        Move move = Move::None;
        EXPECT_TRUE(parseMove(position, move, nullptr, nullptr, text)) << text;
        makeMove(position, move);
    }
    return position;
}

// The games of a PGN text that the reader takes.
inline std::vector<Game> gamesOfText(const std::string& text)
{
    PgnSource source;
    source.openText(text);
    return readGames(source, ~std::size_t(0));
}

class DocumentTest : public ::testing::Test {
protected:
    // A new database, unnamed. The members go in reverse order: the document before its
    // settings and the folder.
    void SetUp() override
    {
        profile = std::make_unique<ProfileStore>(path("profile.ini"));
        profile->writeProfileInt("Combine Duplicate Games", 0);
        doc = std::make_unique<CVezDoc>(*profile, user);
        doc->addObserver(&view);
        ASSERT_TRUE(doc->OnNewDocument());
    }

    std::string path(const std::string& name) const
    {
        return folder.filePath(QString::fromStdString(name)).toStdString();
    }

    // Stores the one game of a PGN text; its number, -1 if it was refused.
    int storeText(const std::string& pgn)
    {
        const std::vector<Game> games = gamesOfText(pgn);
        EXPECT_EQ(games.size(), 1u) << pgn;
        return games.empty() ? -1 : doc->addGame(games[0], -1);
    }
    // Imports on the worker and waits; the totals of the import.
    ImportTotals importOnWorker(const std::vector<std::string>& files)
    {
        if (!doc->importFiles(files))
            return {};
        doc->waitForImport();
        return doc->lastImportTotals();
    }

    QTemporaryDir folder;
    std::unique_ptr<ProfileStore> profile;
    ScriptedUser user;
    RecordingView view;
    std::unique_ptr<CVezDoc> doc;
};

} // namespace vez::test
