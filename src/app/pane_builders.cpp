#include "app/pane_builders.h"

#include <algorithm>
#include <cstdio>

#include "app/document.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "store/codes.h"

namespace vez {

namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when none starts there.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0;
    return length;
}

bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string format(const char* pattern, auto... values)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, values...);
    return buffer;
}

// The first line of a note, at most `count` characters (the known-moves list cuts to 100
// first and then at the line end, which comes to the same).
std::string noteExcerpt(std::string_view note, std::size_t count)
{
    return cutCharacters(firstLine(displayText(note)), count);
}

std::int32_t storedScore(const CVezDoc& doc, const Position& position)
{
    return doc.scoreOf(position);
}

Position played(Position position, Move move)
{
    makeMove(position, move);
    return position;
}

} // namespace

const std::string& KnownMoveRow::column(KnownMoveColumn c) const
{
    switch (c) {
    case KnownMoveColumn::Move: return move;
    case KnownMoveColumn::Games: return games;
    case KnownMoveColumn::WhiteWins: return whiteWins;
    case KnownMoveColumn::BlackWins: return blackWins;
    case KnownMoveColumn::Score: return score;
    case KnownMoveColumn::Notes: break;
    }
    return note;
}

std::string displayText(std::string_view text)
{
    if (isUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::string firstLine(std::string_view text)
{
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

std::string cutCharacters(std::string_view text, std::size_t count)
{
    std::size_t i = 0;
    for (std::size_t n = 0; n < count && i < text.size(); ++n)
        i += std::max<std::size_t>(1, utf8SequenceLength(text, i));
    return std::string(text.substr(0, std::min(i, text.size())));
}

std::string scoreText(std::int32_t score)
{
    if (score == kNoScore)
        return {};
    return format("%+.2f", score * 0.01);
}

std::string winsText(const PositionCounts& counts, std::uint32_t limit)
{
    if (counts.games > limit) {
        const auto white =
            static_cast<unsigned>(std::uint64_t{counts.whiteWins} * 100 / counts.games);
        const auto black =
            static_cast<unsigned>(std::uint64_t{counts.blackWins} * 100 / counts.games);
        return format(" (%u%%/%u%%)", white, black);
    }
    return format(" (%u/%u)", counts.whiteWins, counts.blackWins);
}

StatusLines buildStatusLines(const StatusFacts& facts, const Game& game, const GameLine& line)
{
    StatusLines lines;
    const PositionCounts& counts = facts.counts;
    lines.first = format("%u game%s", counts.games, counts.games == 1 ? "" : "s");
    if (counts.games > 0)
        lines.first += winsText(counts, 100);
    if (facts.score != kNoScore)
        lines.first += " " + scoreText(facts.score);
    if (!facts.eco.empty())
        lines.first += " " + facts.eco;
    if (facts.setupMode)
        lines.first += " (Setup Mode)";

    if (facts.storedGame)
        lines.second = displayText(game.title()) + (facts.modified ? " (modified)" : "");
    else if (facts.modified)
        lines.second = "(New unsaved game)";
    if (line.parent) {
        lines.second += " (Variation";
        const std::string comment = line.entries.empty()
                                        ? std::string{}
                                        : firstLine(displayText(line.entries.front().comment));
        if (!comment.empty()) {
            const std::string cut = cutCharacters(comment, 20);
            lines.second += ": " + cut + (cut.size() < comment.size() ? "..." : "");
        }
        lines.second += ")";
    }
    return lines;
}

std::vector<const MoveEntry*> lineEntries(const GameLine& line)
{
    std::vector<const MoveEntry*> entries(static_cast<std::size_t>(std::max(line.endPly, 0)));
    // Each ply is played by the deepest line that covers it: the line itself from its start
    // ply, below that its parent, and so on.
    int below = line.endPly;
    for (const GameLine* l = &line; l && below > 0; l = l->parent) {
        const int from = std::max(l->startPly, 0);
        for (int ply = from; ply < std::min(below, l->endPly); ++ply)
            entries[static_cast<std::size_t>(ply)] = l->entryAt(ply);
        below = std::min(below, from);
    }
    std::erase(entries, nullptr);
    return entries;
}

PlyMoves movesAtPly(const GameLine& line, int ply)
{
    PlyMoves moves;
    const std::vector<const MoveEntry*> entries = lineEntries(line);
    if (ply >= 0 && ply < static_cast<int>(entries.size()))
        moves.next = entries[static_cast<std::size_t>(ply)];
    // The line whose move at the ply the others are alternatives to: sub-lines never start
    // at their parent's start ply, so it is the nearest ancestor starting before the ply.
    const GameLine* base = &line;
    while (base->parent && base->startPly >= ply)
        base = base->parent;
    std::vector<const MoveEntry*> candidates;
    const auto addFirsts = [&](const std::vector<std::unique_ptr<GameLine>>& lines) {
        for (const auto& sub : lines)
            if (!sub->entries.empty() && sub->startPly == ply)
                candidates.push_back(&sub->entries.front());
    };
    if (const MoveEntry* own = ply < base->endPly ? base->entryAt(ply) : nullptr) {
        candidates.push_back(own);
        addFirsts(own->subLines);
    } else {
        addFirsts(base->subLinesAfterEnd);
    }
    for (const MoveEntry* candidate : candidates)
        if (candidate != moves.next)
            moves.branches.push_back(candidate);
    return moves;
}

KnownMoveRow buildKnownMoveRow(const CVezDoc& doc, const Position& position, Move move,
                               bool variation, MoveGlyph glyph, std::int32_t score,
                               const std::string& note)
{
    KnownMoveRow row;
    row.playMove = move;
    row.glyph = glyph;
    row.variation = variation;
    row.move = formatMove(position, move, doc.isNonstandard(), glyph, doc.descriptiveNotation());
    if (variation)
        row.move = "(" + row.move + " ...";
    const Position next = played(position, move);
    const PositionCounts counts = doc.countsOf(next);
    row.games = format("%u", counts.games);
    const bool percent = counts.games >= 100;
    const auto share = [&](std::uint32_t wins) {
        return percent
                   ? format("%u%%", static_cast<unsigned>(std::uint64_t{wins} * 100 / counts.games))
                   : format("%u", wins);
    };
    row.whiteWins = share(counts.whiteWins);
    row.blackWins = share(counts.blackWins);
    row.score = scoreText(score != kNoScore ? score : storedScore(doc, next));
    row.note = noteExcerpt(note.empty() ? doc.noteText(next) : note, 100);
    return row;
}

std::vector<KnownMoveRow> buildKnownMoveRows(const CVezDoc& doc, const Game& game,
                                             const GameLine& line, int ply)
{
    const Position position = game.positionAtPly(line, ply);
    std::vector<GraphEdge> known = doc.movesFrom(position);
    const auto takeKnown = [&known](Move move) {
        const auto it = std::find_if(known.begin(), known.end(),
                                     [move](const GraphEdge& e) { return e.move == move; });
        if (it != known.end())
            known.erase(it);
    };
    std::vector<KnownMoveRow> rows;
    const auto addLineRow = [&](const MoveEntry& entry, bool variation) {
        rows.push_back(buildKnownMoveRow(doc, position, entry.move, variation,
                                         static_cast<MoveGlyph>(entry.glyph), entry.score,
                                         entry.comment));
        takeKnown(entry.move);
    };

    const PlyMoves moves = movesAtPly(line, ply);
    if (moves.next)
        addLineRow(*moves.next, false);
    for (const MoveEntry* branch : moves.branches)
        addLineRow(*branch, true);
    for (const GraphEdge& edge : known)
        rows.push_back(
            buildKnownMoveRow(doc, position, edge.move, false, edge.glyph, kNoScore, {}));
    return rows;
}

std::vector<BoardArrow> buildBoardArrows(const CVezDoc& doc, const Game& game, const GameLine& line,
                                         int ply)
{
    const Position position = game.positionAtPly(line, ply);
    std::vector<BoardArrow> arrows;
    MoveList list;
    const int count = legalMoves(position, list, doc.isNonstandard());
    for (int i = 0; i < count; ++i)
        arrows.push_back({list[static_cast<std::size_t>(i)], ArrowKind::Legal, 0});
    for (const GraphEdge& edge : doc.movesFrom(position))
        arrows.push_back({edge.move, ArrowKind::Known, 0});

    const std::vector<const MoveEntry*> entries = lineEntries(line);
    const Move justPlayed = ply > 0 && ply <= static_cast<int>(entries.size())
                                ? entries[static_cast<std::size_t>(ply - 1)]->move
                                : Move::None;
    for (const GraphEdge& edge : doc.movesInto(position))
        if (edge.move != justPlayed)
            arrows.push_back({edge.move, ArrowKind::Prior, 0});
    if (justPlayed != Move::None)
        arrows.push_back({justPlayed, ArrowKind::Prior, 0});

    // The game's own moves are drawn a little aside, so that they stay visible on top of the
    // database's lines for the same move.
    constexpr int kGameOffset = 3;
    const PlyMoves moves = movesAtPly(line, ply);
    if (moves.next)
        arrows.push_back({moves.next->move, ArrowKind::Next, kGameOffset});
    for (const MoveEntry* branch : moves.branches)
        arrows.push_back({branch->move, ArrowKind::Variation, kGameOffset});
    return arrows;
}

ScoresheetData buildScoresheet(const CVezDoc& doc, const Game& game, const GameLine& line, int ply,
                               bool setupMode)
{
    ScoresheetData sheet;
    sheet.startPosition = game.startPosition;
    sheet.blackFirst = game.startPosition.sideToMove == kBlack;
    sheet.result = game.result;
    sheet.showResult = line.parent == nullptr;
    sheet.setupMode = setupMode;
    sheet.nonstandard = doc.isNonstandard();
    sheet.descriptive = doc.descriptiveNotation();
    sheet.currentPly = ply;

    Position position = game.startPosition;
    for (const MoveEntry* entry : lineEntries(line)) {
        const auto glyph = static_cast<MoveGlyph>(entry->glyph);
        sheet.moves.push_back(
            {entry->move, glyph,
             formatMove(position, entry->move, sheet.nonstandard, glyph, sheet.descriptive)});
        makeMove(position, entry->move);
    }
    return sheet;
}

std::string moveTreeItemText(const CVezDoc& doc, const Position& before, int ply, Move move)
{
    std::string text = format("%d%s ", ply / 2 + 1, before.sideToMove == kWhite ? "." : "...");
    text +=
        formatMove(before, move, doc.isNonstandard(), MoveGlyph::None, doc.descriptiveNotation());
    const Position after = played(before, move);
    const PositionCounts counts = doc.countsOf(after);
    text += format(" (%u, ", counts.games);
    std::string wins = winsText(counts, 100);
    text += wins.substr(2, wins.size() - 3); // without " (" and ")"
    const std::int32_t score = storedScore(doc, after);
    if (score != kNoScore)
        text += ", " + scoreText(score);
    text += ")";
    const std::string note = firstLine(displayText(doc.noteText(after)));
    if (!note.empty()) {
        const std::string cut = cutCharacters(note, 20);
        text += " " + cut + (cut.size() < note.size() ? "..." : "");
    }
    return text;
}

namespace {

// The database's moves from a position as items, `depth` levels deep.
std::vector<MoveTreeItem> treeLevel(const CVezDoc& doc, const Position& position, int ply,
                                    const std::vector<Move>& pathTo, int depth)
{
    std::vector<MoveTreeItem> items;
    for (const GraphEdge& edge : doc.movesFrom(position)) {
        MoveTreeItem item;
        item.move = edge.move;
        item.text = moveTreeItemText(doc, position, ply, edge.move);
        item.path = pathTo;
        item.path.push_back(edge.move);
        if (depth > 1)
            item.children =
                treeLevel(doc, played(position, edge.move), ply + 1, item.path, depth - 1);
        items.push_back(std::move(item));
    }
    return items;
}

} // namespace

MoveTreeData buildMoveTree(const CVezDoc& doc, const Game& game, const GameLine& line, int ply)
{
    MoveTreeData tree;
    tree.rootPosition = game.startPosition;
    const std::vector<const MoveEntry*> entries = lineEntries(line);
    std::vector<MoveTreeItem>* level = &tree.items;
    Position position = game.startPosition;
    const int walk = std::min<int>(ply, static_cast<int>(entries.size()));
    for (int i = 0; i < walk; ++i) {
        *level = treeLevel(doc, position, i, tree.selectedPath, 1);
        const Move move = entries[static_cast<std::size_t>(i)]->move;
        auto it = std::find_if(level->begin(), level->end(),
                               [move](const MoveTreeItem& item) { return item.move == move; });
        if (it == level->end()) {
            MoveTreeItem item;
            item.move = move;
            item.text = moveTreeItemText(doc, position, i, move);
            item.path = tree.selectedPath;
            item.path.push_back(move);
            level->push_back(std::move(item));
            it = level->end() - 1;
        }
        it->expanded = true;
        tree.selectedPath.push_back(move);
        makeMove(position, move);
        level = &it->children;
    }
    *level = treeLevel(doc, position, walk, tree.selectedPath, 2);
    return tree;
}

std::vector<MoveTreeItem> buildMoveTreeChildren(const CVezDoc& doc, const Position& root,
                                                const std::vector<Move>& path)
{
    Position position = root;
    for (const Move move : path)
        makeMove(position, move);
    return treeLevel(doc, position, static_cast<int>(path.size()), path, 2);
}

GameListRow buildGameListRow(int gameNumber, const Game& header)
{
    GameListRow row;
    row.gameNumber = gameNumber;
    row.columns = {format("%d", gameNumber),
                   displayText(header.white),
                   displayText(header.black),
                   std::string(resultText(header.result)),
                   header.eco,
                   header.year == 0 ? std::string{}
                                    : formatDate(header.year, header.month, header.day),
                   displayText(header.site),
                   displayText(header.event),
                   format("%d", header.round)};
    return row;
}

std::vector<GameListRow> buildGameListRows(const CVezDoc& doc, const std::vector<int>& numbers)
{
    std::vector<GameListRow> rows;
    Game header;
    for (const int number : numbers) {
        header.clear();
        if (doc.readGame(number, header, false))
            rows.push_back(buildGameListRow(number, header));
    }
    return rows;
}

} // namespace vez
