#include "interchange/eco_book.h"

#include <unordered_set>

#include "chess/fen.h"
#include "interchange/pgn_reader.h"
#include "store/codes.h"

namespace vez {

namespace {

// The line of the book that plays the entry's moves, made where missing, and its last entry.
MoveEntry& bookLine(Game& book, const Game& entry)
{
    GameLine* line = &book;
    int ply = 0;
    for (const MoveEntry& move : entry.entries) {
        if (GameLine* found = book.findLine(*line, ply, move.move)) {
            line = found;
        } else if (line->entryAt(ply) != nullptr) {
            line = &book.createSubLine(*line, ply, SubLinePlace::Last);
            line->append(move.move);
        } else {
            line->append(move.move);
        }
        ++ply;
    }
    return *line->entryAt(ply - 1);
}

} // namespace

std::string ecoBookComment(const Game& entry)
{
    std::string comment = "ECO[" + formatEco(parseEco(entry.eco)) + "]";
    std::string names;
    for (const char* tag : {"Opening", "Variation", "SubVariation"}) {
        const std::string value = entry.getTag(tag);
        if (value.empty())
            continue;
        names += names.empty() ? "" : ", ";
        names += value;
    }
    if (!names.empty())
        comment += ": " + names;
    return comment;
}

EcoBookCounts buildEcoBook(PgnSource& source, Game& book)
{
    EcoBookCounts counts;
    book.clear();
    book.event = "ECO opening book";
    book.setTag(kSpecialTag, kEcoBookValue);
    Position start;
    setStandardStart(start);
    std::unordered_set<std::string> classified;
    Game entry;
    for (;;) {
        entry.clear();
        try {
            if (!readPgnGame(entry, source, false))
                break;
        } catch (const PGNGameException&) {
            ++counts.unreadable;
            source.rewindToMark();
            source.skipGame();
            continue;
        }
        if (parseEco(entry.eco) == kNoEco || entry.entries.empty() ||
            !samePosition(entry.startPosition, start)) {
            ++counts.unusable;
            continue;
        }
        const Position end = entry.positionAtPly(entry, entry.endPly);
        if (!classified.insert(writeFen(end, 0, 0, true)).second) {
            ++counts.repeated;
            continue;
        }
        bookLine(book, entry).comment = ecoBookComment(entry);
        ++counts.lines;
    }
    return counts;
}

} // namespace vez
