// The document's side of importing, cleaning and splitting: checking the chosen files,
// starting the one worker, and the split's ECO lookup and file append.
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/document.h"
#include "app/import.h"
#include "app/user_interaction.h"
#include "interchange/game.h"
#include "interchange/pgn_writer.h"
#include "store/database.h"
#include "store/notes.h"
#include "store/position_index.h"
#include "store/prepared_game.h"

namespace vez {

namespace {

bool isShortcut(const std::string& path)
{
    if (path.size() <= 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".lnk";
}

bool samePath(const std::string& a, const std::string& b)
{
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error))
        return true;
    return std::filesystem::weakly_canonical(a, error) ==
           std::filesystem::weakly_canonical(b, error);
}

// An ECO text as a file name: a sub-number's "/" would name a folder.
std::string ecoFileName(std::string eco)
{
    for (char& c : eco)
        if (c == '/')
            c = '-';
    return eco;
}

} // namespace

bool CVezDoc::browseFile(const std::string& path)
{
    if (!OnNewDocument())
        return false;
    m_browsingMode = true;
    updateTitle();
    const std::unique_ptr<Progress> progress = m_user.openProgress("Loading File for Browsing");
    ImportContext context(*this, *progress, false);
    context.nonstandard = isNonstandard();
    m_lastTotals = importFile(path, context);
    if (!m_database)
        return false;
    m_modified = false;
    UpdateAllViews(nullptr, UpdateHint::Bulk);
    updateTitle();
    return true;
}

void CVezDoc::startWorker(std::function<ImportTotals(CVezDoc&, Progress&)> work,
                          const std::string& progressTitle)
{
    if (m_importThread.joinable())
        m_importThread.join();
    m_importRunning = true;
    m_stopWorker = false;
    m_outOfRoom = false;
    m_lastTotals = {};
    m_importThread = std::thread([this, work = std::move(work), progressTitle] {
        std::unique_ptr<Progress> progress;
        callOnDocumentThread([&] { progress = m_user.openProgress(progressTitle); });
        const ImportTotals totals = work(*this, *progress);
        callOnDocumentThread([&] {
            progress.reset();
            m_lastTotals = totals;
        });
        ImportRequest finished;
        finished.code = ImportNotification::Finished;
        sendImportNotification(finished);
    });
}

bool CVezDoc::importFiles(const std::vector<std::string>& paths)
{
    if (!m_database || m_importRunning)
        return false;
    std::vector<std::string> job;
    std::uint64_t total = 0;
    for (const std::string& path : paths) {
        if (isShortcut(path)) {
            m_user.showMessage("Can't resolve shortcut file " + path);
            continue;
        }
        const std::string reason = unreadableReason(path);
        std::ifstream in;
        if (reason.empty())
            in.open(path, std::ios::binary | std::ios::ate);
        if (!reason.empty() || !in) {
            m_user.showMessage(path + ": could not open:\n\t" +
                               (reason.empty() ? std::strerror(errno) : reason));
            continue;
        }
        total += std::uint64_t(std::max<std::streamoff>(in.tellg(), 0));
        job.push_back(path);
    }
    if (job.empty())
        return false;
    claimRoomAhead(total * 2);
    // Some ten bytes of PGN make a new position: size the position index once.
    reservePositionIndex(total / 10);
    claimWorkingSet(std::uint64_t(usedBytesOf(m_database)) + roomOf(m_database));
    // The file's room is written page by page for the first time, and the system provides
    // each page as it is first written. Asked for them a little ahead of the heap top by a
    // thread of its own, it does that work beside the storing rather than in it. The thread
    // looks at the heap top every 10 ms: the room it keeps ahead lasts far longer, and each
    // time it wakes it takes a processor from the reading or the storing for a moment.
    auto* const image = reinterpret_cast<std::uint8_t*>(m_database);
    const std::uint64_t roomEnd = std::uint64_t(usedBytesOf(m_database)) + roomOf(m_database);
    m_importHeapTop = usedBytesOf(m_database);
    const bool nonstandard = isNonstandard();
    const StoreSettings settings{compressionThreshold(), nonstandard};
    startWorker(
        [job, nonstandard, settings, image, roomEnd](CVezDoc& doc, Progress& progress) {
            std::mutex mutex;
            std::condition_variable stop;
            bool finished = false;
            std::thread provide([&doc, &mutex, &stop, &finished, image, roomEnd] {
                constexpr std::uint64_t kAhead = 4u << 20; // provided, not yet used, but resident
                constexpr std::uint64_t kPage = 4096;
                std::uint64_t provided = doc.importHeapTop() / kPage * kPage;
                for (;;) {
                    const std::uint64_t wanted = std::min(roomEnd, doc.importHeapTop() + kAhead) / kPage * kPage;
                    if (wanted > provided) {
                        (void)::madvise(image + provided, wanted - provided, MADV_POPULATE_WRITE);
                        provided = wanted;
                    }
                    std::unique_lock lock(mutex);
                    if (stop.wait_for(lock, std::chrono::milliseconds(10), [&] { return finished; }))
                        return;
                }
            });
            ImportContext context(doc, progress, true);
            context.nonstandard = nonstandard;
            context.storeSettings = settings;
            ImportTotals totals;
            for (const std::string& path : job)
                totals += importFile(path, context);
            {
                const std::lock_guard lock(mutex);
                finished = true;
            }
            stop.notify_one();
            provide.join();
            return totals;
        },
        "PGN Import");
    return true;
}

bool CVezDoc::cleanPgn(const std::vector<std::string>& inputs, const std::string& output)
{
    if (m_importRunning)
        return false;
    std::vector<std::string> job;
    for (const std::string& path : inputs) {
        if (isShortcut(path)) {
            m_user.showMessage("Can't resolve shortcut file " + path);
            continue;
        }
        if (samePath(path, output)) {
            m_user.showMessage(path + ": can't read and write simultaneously");
            return false;
        }
        job.push_back(path);
    }
    const bool nonstandard = isNonstandard();
    startWorker(
        [job, output, nonstandard](CVezDoc& doc, Progress& progress) {
            ImportContext context(doc, progress, true);
            context.nonstandard = nonstandard;
            ImportTotals totals;
            std::ofstream out(output, std::ios::binary | std::ios::trunc);
            if (!out) {
                context.showMessage(output + ": could not write:\n\t" + std::strerror(errno));
                return totals;
            }
            for (const std::string& path : job) {
                if (context.cancelled())
                    break;
                const ImportTotals one = cleanFile(path, out, context);
                totals.games += one.games;
                totals.skipped += one.skipped;
            }
            out.flush();
            if (!out)
                context.showMessage(output + ": could not write:\n\t" + std::strerror(errno));
            return totals;
        },
        "PGN Sanitization");
    return true;
}

bool CVezDoc::canSplit() const
{
    return m_database && m_database->hasEcoBook == 1 && !isNonstandard() && !m_importRunning;
}

bool CVezDoc::splitFiles(const std::vector<std::string>& inputs)
{
    if (!canSplit())
        return false;
    for (const std::string& path : inputs) {
        const std::string folder = splitFolderOf(path);
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error))
            std::filesystem::create_directories(folder, error);
        if (!std::filesystem::is_directory(folder, error)) {
            m_user.showMessage(folder + ": directory does not exist and cannot be created\n");
            return false;
        }
    }
    startWorker(
        [inputs](CVezDoc& doc, Progress& progress) {
            ImportContext context(doc, progress, true);
            ImportTotals totals;
            for (const std::string& path : inputs) {
                if (context.cancelled())
                    break;
                const ImportTotals one = splitFile(path, context);
                totals.games += one.games;
                totals.skipped += one.skipped;
            }
            return totals;
        },
        "PGN Splitting");
    return true;
}

void CVezDoc::splitGame(const Game& game, const std::string& sourcePath)
{
    std::string eco = "No-ECO";
    if (m_database) {
        Position position = game.startPosition;
        for (const MoveEntry& entry : game.entries) {
            const std::string here = vez::ecoText(position);
            if (!here.empty())
                eco = here;
            makeMove(position, entry.move);
        }
    }
    const std::string file = splitFolderOf(sourcePath) + "/" + ecoFileName(eco) + ".pgn";
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (out)
        writeGameToFile(game, out, false);
    if (!out)
        m_user.showMessage(file + ": could not append:\n\t" + std::strerror(errno));
}

} // namespace vez
