#include "interchange/game.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "interchange/move_check.h"
#include "store/codes.h"

namespace vez {

namespace {

using SubLineList = std::vector<std::unique_ptr<GameLine>>;

// Plays the line's entries from `fromPly` up to (not including) `toPly` on pos.
void playEntries(const GameLine& line, int fromPly, int toPly, Position& pos)
{
    const int first = std::max(fromPly, line.startPly) - line.startPly;
    const int last = std::min(toPly, line.endPly) - line.startPly;
    for (int i = first; i < last; ++i)
        playMove(pos, line.entries[static_cast<std::size_t>(i)].move);
}

// The list a sub-line branching from `line` at `ply` belongs to: the alternatives to the
// line's move there, or the sub-lines after its end.
SubLineList& subLineListAt(GameLine& line, int ply)
{
    if (MoveEntry* entry = line.entryAt(ply))
        return entry->subLines;
    return line.subLinesAfterEnd;
}

bool playsMoveAt(const GameLine& line, int ply, Move move)
{
    const MoveEntry* entry = line.entryAt(ply);
    return entry && entry->move == move;
}

GameLine* firstPlaying(const SubLineList& lines, int ply, Move move)
{
    for (const auto& line : lines) {
        if (playsMoveAt(*line, ply, move))
            return line.get();
    }
    return nullptr;
}

// A decimal number at the start of the text, 0 when there is none; long digit runs saturate.
std::int32_t leadingNumber(std::string_view text)
{
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = std::min<std::int64_t>(value * 10 + (c - '0'), 1000000000);
    }
    return static_cast<std::int32_t>(value);
}

struct HeaderField {
    std::string_view name;
    std::string Game::*field;
};

constexpr HeaderField kTextFields[] = {
    {"White", &Game::white}, {"Black", &Game::black}, {"Event", &Game::event},
    {"Site", &Game::site},   {"ECO", &Game::eco},
};

std::string Game::*textField(std::string_view name)
{
    for (const HeaderField& field : kTextFields) {
        if (field.name == name)
            return field.field;
    }
    return nullptr;
}

const TagPair* findTag(const std::vector<TagPair>& tags, std::string_view name)
{
    for (const TagPair& tag : tags) {
        if (tag.name == name)
            return &tag;
    }
    return nullptr;
}

} // namespace

std::string_view resultText(int result)
{
    return result >= 0 && result < static_cast<int>(kResultTexts.size())
               ? kResultTexts[static_cast<std::size_t>(result)]
               : kResultTexts[0];
}

MoveEntry& GameLine::append(Move move, std::int32_t glyph, std::int32_t score)
{
    MoveEntry& entry = entries.emplace_back();
    entry.move = move;
    entry.glyph = glyph;
    entry.score = score;
    ++endPly;
    return entry;
}

MoveEntry* GameLine::entryAt(int ply)
{
    if (ply < startPly || ply >= startPly + static_cast<int>(entries.size()))
        return nullptr;
    return &entries[static_cast<std::size_t>(ply - startPly)];
}

const MoveEntry* GameLine::entryAt(int ply) const
{
    return const_cast<GameLine*>(this)->entryAt(ply);
}

Game::Game()
{
    mainLine = true;
    setStandardStart(startPosition);
}

// Moved from, a game is left cleared.
Game::Game(Game&& other) noexcept : Game() { swap(other); }

Game& Game::operator=(Game&& other) noexcept
{
    if (this == &other)
        return *this;
    swap(other);
    other.clear();
    return *this;
}

void Game::swap(Game& other) noexcept
{
    using std::swap;
    swap(endPly, other.endPly);
    swap(startPly, other.startPly);
    swap(entries, other.entries);
    swap(subLinesAfterEnd, other.subLinesAfterEnd);
    swap(result, other.result);
    swap(white, other.white);
    swap(black, other.black);
    swap(event, other.event);
    swap(site, other.site);
    swap(eco, other.eco);
    swap(year, other.year);
    swap(month, other.month);
    swap(day, other.day);
    swap(round, other.round);
    swap(tags, other.tags);
    swap(startPosition, other.startPosition);
    swap(initialComment, other.initialComment);
    adoptSubLines();
    other.adoptSubLines();
}

void Game::adoptSubLines()
{
    mainLine = true;
    parent = nullptr;
    for (MoveEntry& entry : entries) {
        for (auto& line : entry.subLines)
            line->parent = this;
    }
    for (auto& line : subLinesAfterEnd)
        line->parent = this;
}

void Game::clear()
{
    entries.clear();
    subLinesAfterEnd.clear();
    startPly = endPly = 0;
    setStandardStart(startPosition);
    result = 0;
    white.clear();
    black.clear();
    event.clear();
    site.clear();
    eco.clear();
    year = month = day = round = 0;
    tags.clear();
    initialComment.clear();
}

Position Game::lineStartPosition(const GameLine& line) const
{
    // Walk up to the main line, then play down again: each ancestor's entries from its own
    // start up to where the next line down branches off.
    std::vector<const GameLine*> chain;
    for (const GameLine* l = &line; l->parent; l = l->parent)
        chain.push_back(l);
    Position pos = startPosition;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        playEntries(*(*it)->parent, (*it)->parent->startPly, (*it)->startPly, pos);
    return pos;
}

Position Game::positionAtPly(const GameLine& line, int ply) const
{
    const GameLine* owner = &line;
    while (ply < owner->startPly && owner->parent)
        owner = owner->parent;
    Position pos = lineStartPosition(*owner);
    playEntries(*owner, owner->startPly, ply, pos);
    return pos;
}

GameLine* Game::findLine(GameLine& line, int ply, Move move)
{
    GameLine* owner = &line;
    while (owner->parent && owner->startPly >= ply)
        owner = owner->parent;
    if (ply < owner->startPly)
        return nullptr;
    if (ply < owner->endPly) {
        if (playsMoveAt(*owner, ply, move))
            return owner;
        return firstPlaying(owner->entryAt(ply)->subLines, ply, move);
    }
    return firstPlaying(owner->subLinesAfterEnd, ply, move);
}

GameLine& Game::createSubLine(GameLine& line, int ply, SubLinePlace place)
{
    GameLine* owner = &line;
    while (owner->parent && owner->startPly >= ply)
        owner = owner->parent;
    assert(ply >= owner->startPly && "a sub-line cannot branch before its line starts");
    SubLineList& list = subLineListAt(*owner, ply);
    auto created = std::make_unique<GameLine>();
    created->parent = owner;
    created->startPly = created->endPly = ply;
    GameLine& result = *created;
    if (place == SubLinePlace::First)
        list.insert(list.begin(), std::move(created));
    else
        list.push_back(std::move(created));
    return result;
}

bool Game::addLine(GameLine& line, int ply, std::span<const MoveWithGlyph> moves,
                   std::int32_t score, std::string_view comment)
{
    GameLine* current = &line;
    std::size_t next = 0;
    for (; next < moves.size(); ++next, ++ply) {
        GameLine* found = findLine(*current, ply, moves[next].move);
        if (!found)
            break;
        current = found;
    }
    if (next == moves.size())
        return false;
    GameLine& created = createSubLine(*current, ply);
    MoveEntry& first = created.append(moves[next].move, moves[next].glyph, score);
    if (next == 0)
        first.comment.assign(comment);
    for (++next; next < moves.size(); ++next)
        created.append(moves[next].move, moves[next].glyph);
    return true;
}

bool Game::hasTag(std::string_view name) const
{
    if (std::string Game::*field = textField(name))
        return !(this->*field).empty();
    if (name == "Round")
        return round != 0;
    if (name == "Date")
        return year != 0;
    if (name == "Result")
        return true;
    return findTag(tags, name) != nullptr;
}

bool Game::isHeaderTag(std::string_view name)
{
    return textField(name) != nullptr || name == "Round" || name == "Date" || name == "Result";
}

std::string Game::getTag(std::string_view name) const
{
    if (std::string Game::*field = textField(name))
        return this->*field;
    if (name == "Round")
        return round == 0 ? std::string() : std::to_string(round);
    if (name == "Date")
        return formatDate(year, month, day);
    if (name == "Result")
        return std::string(resultText(result));
    const TagPair* tag = findTag(tags, name);
    return tag ? tag->value : std::string();
}

void Game::setTag(std::string_view name, std::string_view value)
{
    if (std::string Game::*field = textField(name)) {
        (this->*field).assign(value); // ECO keeps the text as given, as the PGN reader does
        return;
    }
    if (name == "Round") {
        round = leadingNumber(value);
    } else if (name == "Date") {
        int y = 0, m = 0, d = 0;
        if (parseDate(value, y, m, d)) {
            year = y;
            month = m;
            day = d;
        }
    } else if (name == "Result") {
        for (int index : {3, 2, 1}) {
            if (value == kResultTexts[static_cast<std::size_t>(index)])
                result = index;
        }
    } else if (TagPair* tag = const_cast<TagPair*>(findTag(tags, name))) {
        tag->value.assign(value);
    } else {
        tags.push_back({std::string(name), std::string(value)});
    }
}

std::string Game::title() const
{
    std::string text = white.empty() ? "?" : white;
    text += " -- ";
    text += black.empty() ? "?" : black;
    text += year != 0 ? " [" + std::to_string(year) + "]" : std::string(" [?]");
    if (!eco.empty()) {
        text += ' ';
        text += eco;
    }
    return text;
}

bool Game::isCommentOnly(std::string* comment) const
{
    const bool bare = entries.empty() && subLinesAfterEnd.empty() && result == 0 && white.empty() &&
                      black.empty() && event.empty() && site.empty() && eco.empty() && round == 0 &&
                      year == 0 && !initialComment.empty();
    if (!bare)
        return false;
    for (const TagPair& tag : tags) {
        if (tag.name != "Source")
            return false;
    }
    if (comment)
        *comment = initialComment;
    return true;
}

} // namespace vez
