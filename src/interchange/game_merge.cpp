// mergeGame: completing a game from another copy of it (the view merges the stored copy
// into the game it shows).
#include "interchange/game.h"

#include <algorithm>
#include <memory>

namespace vez {

namespace {

using SubLineList = std::vector<std::unique_ptr<GameLine>>;

class Merger {
public:
    bool conflict = false;

    void text(std::string& mine, const std::string& theirs)
    {
        if (mine.empty())
            mine = theirs;
        else if (!theirs.empty() && mine != theirs)
            conflict = true;
    }

    void number(std::int32_t& mine, std::int32_t theirs)
    {
        if (mine == 0)
            mine = theirs;
        else if (theirs != 0 && mine != theirs)
            conflict = true;
    }

    void header(Game& game, const Game& other);
    void date(Game& game, const Game& other);
    void tags(std::vector<TagPair>& mine, const std::vector<TagPair>& theirs);
    void line(GameLine& mine, const GameLine& theirs);

private:
    void entry(MoveEntry& mine, const MoveEntry& theirs, GameLine& owner, int ply);
    void subLines(SubLineList& mine, const SubLineList& theirs, GameLine& owner, int ply);
};

Move firstMove(const GameLine& line)
{
    return line.entries.empty() ? Move::None : line.entries.front().move;
}

void Merger::header(Game& game, const Game& other)
{
    text(game.initialComment, other.initialComment);
    number(game.result, other.result);
    text(game.white, other.white);
    text(game.black, other.black);
    text(game.event, other.event);
    text(game.site, other.site);
    number(game.round, other.round);
    date(game, other);
    text(game.eco, other.eco);
}

// From the year down. An unknown part takes the other's date from that part on (the finer
// parts are only meaningful with it); a known part is compared and the next one looked at.
void Merger::date(Game& game, const Game& other)
{
    if (game.year == 0) {
        game.year = other.year;
        game.month = other.month;
        game.day = other.day;
        return;
    }
    if (game.year != other.year)
        conflict = true;
    if (game.month == 0) {
        game.month = other.month;
        game.day = other.day;
        return;
    }
    if (game.month != other.month)
        conflict = true;
    if (game.day == 0)
        game.day = other.day;
    else if (game.day != other.day)
        conflict = true;
}

void Merger::tags(std::vector<TagPair>& mine, const std::vector<TagPair>& theirs)
{
    for (const TagPair& tag : theirs) {
        auto found = std::find_if(mine.begin(), mine.end(),
                                  [&](const TagPair& t) { return t.name == tag.name; });
        if (found == mine.end())
            mine.push_back(tag);
        else if (found->value.empty())
            found->value = tag.value;
        else if (found->value != tag.value)
            conflict = true;
    }
    if (mine.size() > theirs.size())
        conflict = true;
}

void Merger::entry(MoveEntry& mine, const MoveEntry& theirs, GameLine& owner, int ply)
{
    number(mine.glyph, theirs.glyph);
    text(mine.comment, theirs.comment);
    if (theirs.score != kNoScore)
        mine.score = theirs.score;
    subLines(mine.subLines, theirs.subLines, owner, ply);
}

void Merger::subLines(SubLineList& mine, const SubLineList& theirs, GameLine& owner, int ply)
{
    for (const auto& other : theirs) {
        auto match = std::find_if(mine.begin(), mine.end(), [&](const auto& line) {
            return firstMove(*line) == firstMove(*other);
        });
        if (match == mine.end()) {
            auto created = std::make_unique<GameLine>();
            created->parent = &owner;
            created->startPly = created->endPly = ply;
            mine.push_back(std::move(created));
            match = mine.end() - 1;
        }
        line(**match, *other);
    }
    if (mine.size() != theirs.size())
        conflict = true;
}

// Entries are paired in order, whatever their moves; the other's surplus entries are
// appended. Sub-lines that hung after our old end become alternatives to the first
// appended move, which now stands at their ply.
void Merger::line(GameLine& mine, const GameLine& theirs)
{
    for (std::size_t i = 0; i < theirs.entries.size(); ++i) {
        const int ply = theirs.startPly + static_cast<int>(i);
        if (i == mine.entries.size()) {
            MoveEntry& appended = mine.append(theirs.entries[i].move);
            appended.subLines = std::move(mine.subLinesAfterEnd);
            mine.subLinesAfterEnd.clear();
        }
        entry(mine.entries[i], theirs.entries[i], mine, ply);
    }
    const int afterEnd = theirs.endPly;
    MoveEntry* at = mine.entryAt(afterEnd);
    subLines(at ? at->subLines : mine.subLinesAfterEnd, theirs.subLinesAfterEnd, mine, afterEnd);
}

} // namespace

bool mergeGame(Game& game, const Game& other)
{
    Merger merger;
    merger.header(game, other);
    merger.tags(game.tags, other.tags);
    merger.line(game, other);
    return merger.conflict;
}

} // namespace vez
