// A document with scripted user answers, a private settings file and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
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
#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"
#include "support/pgn_games.h"

namespace vez::test {

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
        if (errorAnswers.empty())
            return {};
        const PgnErrorAnswer answer = errorAnswers.front();
        errorAnswers.pop_front();
        return answer;
    }
    void setClipboardText(const std::string& text) override { clipboard = text; }
    std::unique_ptr<Progress> openProgress(const std::string&) override
    {
        return std::make_unique<ScriptedProgress>(cancelAfterUpdates);
    }

    static std::string takeFront(std::deque<std::string>& answers)
    {
        if (answers.empty())
            return {};
        std::string answer = answers.front();
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

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
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
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() /
                 (std::string("vez-doc-") + info->test_suite_name() + "-" + info->name() + "-" +
                  std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        profile = std::make_unique<ProfileStore>(path("profile.ini"));
        profile->writeProfileInt("Combine Duplicate Games", 0);
        doc = std::make_unique<CVezDoc>(*profile, user);
        doc->addObserver(&view);
    }
    void TearDown() override
    {
        doc.reset();
        profile.reset();
        std::filesystem::remove_all(folder);
    }

    std::string path(const std::string& name) const { return (folder / name).string(); }

    // Imports on the worker and waits; the totals of the import.
    ImportTotals importOnWorker(const std::vector<std::string>& files)
    {
        if (!doc->importFiles(files))
            return {};
        doc->waitForImport();
        return doc->lastImportTotals();
    }

    std::filesystem::path folder;
    std::unique_ptr<ProfileStore> profile;
    ScriptedUser user;
    RecordingView view;
    std::unique_ptr<CVezDoc> doc;
};

} // namespace vez::test
