// Bringing games and positions in from files, and the two file-to-file utilities: clean PGN
// and split by ECO. The same code runs on the document's thread (browsing a file) and on the
// worker (File/Import..., clean, split); on the worker it never touches the database but asks
// the document through synchronous requests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/document.h"
#include "app/user_interaction.h"
#include "store/prepared_game.h"

namespace vez {

class ProfileStore;

// A converter: a program that writes PGN from a foreign database format. "(CF)" in the
// argument template stands for the file to convert, "(TF)" for a temporary output file.
struct Converter {
    const char* extension; // with its dot, lower case
    const char* settingsKey;
    const char* defaultPath;
    const char* programFileName;
    const char* argumentTemplate;
    bool outputBesideInput; // the PGN is the input path with "pgn" for its last three letters
};

// The converter for a path (its extension compared without regard to case, only for paths
// longer than 4 characters), or null.
const Converter* converterFor(const std::string& path);

// How importing code reaches the document and the user: directly on the document's thread,
// or from the worker through synchronous calls onto it.
class ImportContext {
public:
    ImportContext(CVezDoc& doc, Progress& progress, bool onWorker)
        : m_doc(doc), m_progress(progress), m_onWorker(onWorker)
    {
    }

    CVezDoc& doc() { return m_doc; }
    Progress& progress() { return m_progress; }
    bool cancelled() const;
    int send(const ImportRequest& request);
    // Runs the function where the user interaction lives (the document's thread).
    void withUser(const std::function<void(UserInteraction&)>& function);
    void showMessage(const std::string& text);
    ProfileStore& profile() { return m_doc.profile(); }

    bool nonstandard = false; // how the games are read
    // Set when the games are worked out on the worker ahead of storing (the database's
    // settings, read on the document's thread before the worker started).
    std::optional<StoreSettings> storeSettings;

    // Games read but not yet handed over go to the document before the user is asked
    // anything, so that a dialog finds every earlier game stored.
    void setPendingGames(std::function<void()> flush) { m_flushPending = std::move(flush); }

private:
    CVezDoc& m_doc;
    Progress& m_progress;
    bool m_onWorker;
    std::function<void()> m_flushPending;
};

// Why a file cannot be imported, or empty when it can. Only a regular file is read: a
// directory has no text, and a FIFO or a device would block the import until some other
// program writes to it.
std::string unreadableReason(const std::string& path);

// The path of the PGN text to read for a file: the path itself when it needs no converter,
// the converter's output otherwise, or empty when the conversion failed or was cancelled.
std::string convertIfNeeded(const std::string& path, ImportContext& context);

// Imports one PGN or EPD file (any file whose name ends in ".epd" is read as EPD).
ImportTotals importFile(const std::string& path, ImportContext& context);

// Reads every game of the inputs and writes it to out in the writer's layout.
ImportTotals cleanFile(const std::string& path, std::ostream& out, ImportContext& context);

// Hands every game of a file to the document's split.
ImportTotals splitFile(const std::string& path, ImportContext& context);

// The folder a split of the file writes into: the path without its extension.
std::string splitFolderOf(const std::string& path);

} // namespace vez
