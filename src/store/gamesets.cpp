#include "store/gamesets.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "chess/fen.h"
#include "interchange/game.h"
#include "store/checksum.h"
#include "store/codes.h"
#include "store/damage.h"
#include "store/database.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/heap.h"
#include "store/line_ends.h"
#include "store/names.h"
#include "store/packing.h"

namespace vez {

namespace {

Gameset* set(DbOffset gameset) { return at<Gameset>(gameset); }
IntRange* range(DbOffset r) { return at<IntRange>(r); }

// No chain in a sound image is longer than the records it could hold.
std::uint64_t rangeLimit() { return currentHeader().usedBytes / sizeof(IntRange) + 1; }
std::uint64_t listLimit() { return currentHeader().usedBytes / sizeof(Gameset) + 1; }

// Calls visit(gameset) for every gameset in list order.
template <class Visit>
void forEachGameset(Visit visit)
{
    std::uint64_t steps = listLimit();
    for (DbOffset s = currentHeader().firstGameset; s != 0 && steps > 0; --steps) {
        const DbOffset next = set(s)->next; // read first: visit may delete s
        visit(s);
        s = next;
    }
}

// Calls visit(low, high) for every range of a set in ascending order.
template <class Visit>
void forEachRange(DbOffset gameset, Visit visit)
{
    std::uint64_t steps = rangeLimit();
    for (DbOffset r = set(gameset)->ranges; r != 0 && steps > 0; r = range(r)->next, --steps)
        visit(range(r)->low, range(r)->high);
}

// Adds and removes members, remembering where the last one went: numbers given in
// ascending order cost one walk over the ranges in all, others start again at the head.
// Each change is made exactly as a single addMember or removeMember would make it.
class RangeWalk {
public:
    explicit RangeWalk(DbOffset gameset) : m_gameset(gameset) {}
    void add(std::int32_t n);
    void remove(std::int32_t n);

private:
    DbOffset& linkAfter(DbOffset r) { return r == 0 ? set(m_gameset)->ranges : range(r)->next; }
    // The first range whose high end is >= n, with m_previous the range before it.
    DbOffset seek(std::int32_t n);

    DbOffset m_gameset;
    DbOffset m_previous = 0;
    std::int64_t m_lastNumber = std::numeric_limits<std::int64_t>::min();
};

DbOffset RangeWalk::seek(std::int32_t n)
{
    // Going on from m_previous is right while it lies wholly below n.
    if (n <= m_lastNumber || (m_previous != 0 && range(m_previous)->high >= n))
        m_previous = 0;
    m_lastNumber = n;
    DbOffset r = linkAfter(m_previous);
    for (std::uint64_t steps = rangeLimit(); r != 0 && range(r)->high < n && steps > 0; --steps) {
        m_previous = r;
        r = range(r)->next;
    }
    return r;
}

void RangeWalk::add(std::int32_t n)
{
    noteImageChange();
    if (n < 0)
        return;
    // After a merge or a raised high end the range before the place may already reach n;
    // it starts below the last number, so it holds n.
    if (n > m_lastNumber && m_previous != 0 && range(m_previous)->high >= n) {
        m_lastNumber = n;
        return;
    }
    const DbOffset r = seek(n);
    const DbOffset previous = m_previous;
    const std::int64_t below = std::int64_t(n) - 1;
    if (r != 0 && range(r)->low <= n)
        return;
    if (r != 0 && range(r)->low == std::int64_t(n) + 1) {
        range(r)->low = n;
        if (previous != 0 && range(previous)->high == below) {
            range(previous)->high = range(r)->high;
            range(previous)->next = range(r)->next;
            releaseRecord(RecordKind::IntRange, r);
        }
        return;
    }
    if (previous != 0 && range(previous)->high == below) {
        range(previous)->high = n;
        return;
    }
    const DbOffset fresh = allocateRecord(RecordKind::IntRange);
    range(fresh)->low = n;
    range(fresh)->high = n;
    range(fresh)->next = r;
    linkAfter(previous) = fresh;
}

void RangeWalk::remove(std::int32_t n)
{
    noteImageChange();
    const DbOffset r = seek(n);
    if (r == 0 || range(r)->low > n)
        return;
    IntRange& here = *range(r);
    if (here.low == here.high) {
        linkAfter(m_previous) = here.next;
        releaseRecord(RecordKind::IntRange, r);
    } else if (here.low == n) {
        here.low = n + 1;
    } else if (here.high == n) {
        here.high = n - 1;
    } else {
        const DbOffset fresh = allocateRecord(RecordKind::IntRange);
        IntRange& cut = *range(r); // the image never moves while it grows
        range(fresh)->low = n + 1;
        range(fresh)->high = cut.high;
        range(fresh)->next = cut.next;
        cut.high = n - 1;
        cut.next = fresh;
    }
}

// A dictionary text as the store would keep it: up to its first NUL, cut to what fits.
std::string_view storedForm(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    return text.substr(0, std::min<std::size_t>(text.size(), kMaxDictionaryText));
}

bool isLiveGameset(DbOffset gameset)
{
    bool found = false;
    forEachGameset([&](DbOffset s) { found = found || s == gameset; });
    return found;
}

bool hasCriteria(const GamesetDefinition& d)
{
    return !d.player.empty() || !d.event.empty() || !d.tag.empty() || !d.value.empty() ||
           !d.minDate.empty() || !d.maxDate.empty() || !d.minEco.empty() || !d.maxEco.empty() ||
           d.outcome != GamesetOutcome::Any || d.color != GamesetColor::Any;
}

bool codesInRange(const GamesetDefinition& d)
{
    const auto rule = std::int32_t(d.rule), outcome = std::int32_t(d.outcome);
    const auto color = std::int32_t(d.color);
    return rule >= 0 && rule <= 4 && outcome >= 0 && outcome <= 3 && color >= 0 && color <= 2;
}

bool canStorePosition(const Position& pos)
{
    PackedPosition key;
    return packPosition(pos, key);
}

void appendToList(DbOffset gameset)
{
    noteImageChange();
    DbOffset* link = &currentHeader().firstGameset;
    for (std::uint64_t steps = listLimit(); *link != 0 && steps > 0; --steps)
        link = &set(*link)->next;
    *link = gameset;
}

std::int32_t dateKeyOf(std::string_view text)
{
    int year = 0, month = 0, day = 0;
    return parseDate(text, year, month, day) ? std::int32_t(makeDateKey(year, month, day)) : 0;
}

DbOffset internOrNone(std::string_view text, Dictionary dictionary)
{
    return text.empty() ? 0 : internString(text, dictionary);
}

// Step 5 of creation: the rule's references and criteria into the record.
void storeCriteria(DbOffset gameset, const GamesetDefinition& d)
{
    noteImageChange();
    // Every intern may allocate; each result is stored through a fresh lookup.
    set(gameset)->parent = d.parent;
    set(gameset)->other = d.other;
    const DbOffset player = canonicalPlayer(internPlayer(d.player));
    set(gameset)->player = player;
    const DbOffset event = internOrNone(d.event, Dictionary::Event);
    set(gameset)->event = event;
    set(gameset)->minEco = std::int16_t(parseEco(d.minEco));
    set(gameset)->maxEco = std::int16_t(parseEco(d.maxEco));
    set(gameset)->minDate = dateKeyOf(d.minDate);
    set(gameset)->maxDate = dateKeyOf(d.maxDate);
    if (!d.tag.empty()) {
        const DbOffset tag = internString(d.tag, Dictionary::TagName);
        set(gameset)->tag = tag;
        if (!d.value.empty()) {
            const Dictionary values = d.tag == "Site" ? Dictionary::Site : Dictionary::General;
            const DbOffset value = internString(d.value, values);
            set(gameset)->value = value;
        }
    }
    // A big record is never promoted again, so the reference outlives every later
    // promotion; a position not yet in the graph gets its root record now and so selects
    // the games that come to pass through it.
    if (d.fen) {
        const DbOffset fen = ensureBig(findOrAddRoot(*d.fen));
        set(gameset)->fen = fen;
    }
}

} // namespace

// --- Members --------------------------------------------------------------------------

bool contains(DbOffset gameset, std::int32_t number)
{
    std::uint64_t steps = rangeLimit();
    for (DbOffset r = set(gameset)->ranges; r != 0 && steps > 0; r = range(r)->next, --steps) {
        if (range(r)->high >= number)
            return range(r)->low <= number;
    }
    return false;
}

std::uint32_t size(DbOffset gameset)
{
    std::uint32_t total = 0;
    forEachRange(gameset, [&](std::int32_t low, std::int32_t high) {
        total += std::uint32_t(std::int64_t(high) - low + 1);
    });
    return total;
}

bool isEmpty(DbOffset gameset) { return set(gameset)->ranges == 0; }

std::int32_t first(DbOffset gameset)
{
    const DbOffset r = set(gameset)->ranges;
    return r == 0 ? -1 : range(r)->low;
}

std::int32_t last(DbOffset gameset)
{
    std::int32_t highest = -1;
    forEachRange(gameset, [&](std::int32_t, std::int32_t high) { highest = high; });
    return highest;
}

std::int32_t nextMember(DbOffset gameset, std::int32_t number)
{
    std::uint64_t steps = rangeLimit();
    for (DbOffset r = set(gameset)->ranges; r != 0 && steps > 0; r = range(r)->next, --steps) {
        if (range(r)->high > number)
            return std::max(range(r)->low, number + 1); // number < high, so no overflow
    }
    // Every member is at most number.
    return number == std::numeric_limits<std::int32_t>::max() ? number : number + 1;
}

std::vector<std::int32_t> members(DbOffset gameset)
{
    std::vector<std::int32_t> out;
    forEachRange(gameset, [&](std::int32_t low, std::int32_t high) {
        for (std::int64_t n = low; n <= high; ++n)
            out.push_back(std::int32_t(n));
    });
    return out;
}

void addMember(DbOffset gameset, std::int32_t number) { RangeWalk(gameset).add(number); }

void removeMember(DbOffset gameset, std::int32_t number) { RangeWalk(gameset).remove(number); }

// --- The list -------------------------------------------------------------------------

DbOffset findGameset(std::string_view name)
{
    name = storedForm(name);
    DbOffset found = 0;
    if (name.empty())
        return found;
    forEachGameset([&](DbOffset s) {
        if (found == 0 && set(s)->name != 0 && dictionaryText(set(s)->name) == name)
            found = s;
    });
    return found;
}

std::vector<std::string> gamesetNames()
{
    std::vector<std::string> names;
    forEachGameset([&](DbOffset s) {
        if (set(s)->name != 0)
            names.emplace_back(dictionaryText(set(s)->name));
    });
    return names;
}

int gamesetCount()
{
    int count = 0;
    forEachGameset([&](DbOffset s) { count += set(s)->name != 0; });
    return count;
}

bool canDeleteGameset(DbOffset gameset)
{
    bool used = false;
    forEachGameset(
        [&](DbOffset s) { used = used || set(s)->parent == gameset || set(s)->other == gameset; });
    return !used;
}

bool deleteGameset(DbOffset gameset)
{
    noteImageChange();
    // A set still named by another would leave that one pointing at a released record.
    if (gameset == 0 || !isLiveGameset(gameset) || !canDeleteGameset(gameset))
        return false;
    DbOffset* link = &currentHeader().firstGameset;
    for (std::uint64_t steps = listLimit(); *link != gameset && steps > 0; --steps)
        link = &set(*link)->next;
    *link = set(gameset)->next;

    // The whole range chain goes onto the free list as it stands.
    if (const DbOffset firstRange = set(gameset)->ranges) {
        DbOffset lastRange = firstRange;
        for (std::uint64_t steps = rangeLimit(); range(lastRange)->next != 0 && steps > 0; --steps)
            lastRange = range(lastRange)->next;
        DbOffset& freeHead = currentHeader().freeLists[int(FreeList::IntRange)];
        range(lastRange)->next = freeHead;
        freeHead = firstRange;
        set(gameset)->ranges = 0;
    }
    const DbOffset parent = set(gameset)->parent;
    const DbOffset other = set(gameset)->other;
    for (const DbOffset used : {parent, other}) {
        // A set that is both parent and other is gone from the list after its first turn.
        if (used != 0 && isLiveGameset(used) && set(used)->name == 0)
            deleteGameset(used);
    }
    releaseRecord(RecordKind::Gameset, gameset);
    return true;
}

// --- Rules ----------------------------------------------------------------------------

namespace {

// Rule, outcome and colour texts, indexed by their codes.
constexpr std::array<std::string_view, 5> kKindTexts = {"Fixed", "", "Union", "Intersect",
                                                        "Subtract"};
constexpr std::array<std::string_view, 4> kOutcomeTexts = {"", "Win", "Loss", "Draw"};
constexpr std::array<std::string_view, 3> kColorTexts = {"", "White", "Black"};

template <std::size_t N>
bool codeOf(const std::array<std::string_view, N>& texts, std::string_view text, int& code)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (texts[i] == text) {
            code = int(i);
            return true;
        }
    }
    return false;
}

template <std::size_t N>
std::string textOf(const std::array<std::string_view, N>& texts, std::int32_t code)
{
    return code >= 0 && std::size_t(code) < N ? std::string(texts[std::size_t(code)]) : "";
}

enum class Side { None, White, Black };

// The outcome and the colour: false when they rule the game out, else the side whose
// player the rule is about (None when either side will do).
bool sideOfInterest(const Gameset& s, int result, Side& side)
{
    const auto outcome = GamesetOutcome(s.outcome);
    const auto color = GamesetColor(s.color);
    side = Side::None;
    if (outcome == GamesetOutcome::Win || outcome == GamesetOutcome::Loss) {
        if (result != 1 && result != 2)
            return false;
        const bool whiteWon = result == 1;
        side = whiteWon == (outcome == GamesetOutcome::Win) ? Side::White : Side::Black;
        return !(side == Side::White && color == GamesetColor::Black) &&
               !(side == Side::Black && color == GamesetColor::White);
    }
    if (outcome == GamesetOutcome::Draw && result != 3)
        return false;
    if (color == GamesetColor::White)
        side = Side::White;
    else if (color == GamesetColor::Black)
        side = Side::Black;
    return true;
}

// A set with a tag but no value asks only that the game has the tag. Any tag but those of
// the header is read from the record's list, without reading the game.
bool matchesTag(const Gameset& s, DbOffset gameRecord)
{
    const std::string_view tag = dictionaryText(s.tag);
    if (Game::isHeaderTag(tag)) {
        Game game;
        readGame(gameRecord, game, false);
        return game.hasTag(tag) && (s.value == 0 || game.getTag(tag) == dictionaryText(s.value));
    }
    // The record lists the tags newest first, so the game's first of a name is the last here.
    DbOffset found = 0;
    WalkGuard tags("TagVal", sizeof(TagVal));
    for (DbOffset t = at<GameRecord>(gameRecord)->firstTag; t != 0;
         t = at<TagVal>(t)->next, tags.step(t)) {
        if (dictionaryText(at<TagVal>(t)->name) == tag)
            found = t;
    }
    return found != 0 &&
           (s.value == 0 || dictionaryText(at<TagVal>(found)->value) == dictionaryText(s.value));
}

bool matchesCriteria(const Gameset& s, DbOffset gameRecord)
{
    const GameRecord g = *at<GameRecord>(gameRecord);
    Side side;
    if (!sideOfInterest(s, gameResultOf(g), side))
        return false;
    if (s.player != 0) {
        const bool played = side == Side::White   ? g.white == s.player
                            : side == Side::Black ? g.black == s.player
                                                  : g.white == s.player || g.black == s.player;
        if (!played)
            return false;
    }
    if (s.event != 0 && g.event != s.event)
        return false;
    const std::uint16_t eco = g.eco;
    if ((s.minEco != 0 && eco < std::uint16_t(s.minEco)) ||
        (s.maxEco != 0 && eco > std::uint16_t(s.maxEco)))
        return false;
    const auto date = std::int64_t(makeDateKey(gameYearOf(g), gameMonthOf(g), gameDayOf(g)));
    if ((s.minDate != 0 && date < s.minDate) || (s.maxDate != 0 && date > s.maxDate))
        return false;
    return s.tag == 0 || matchesTag(s, gameRecord);
}

// Membership of numbers asked in ascending order, in one walk over the ranges.
class AscendingMembers {
public:
    explicit AscendingMembers(DbOffset gameset)
        : m_range(gameset == 0 ? 0 : set(gameset)->ranges), m_steps(rangeLimit())
    {
    }
    bool operator()(std::int32_t n)
    {
        while (m_range != 0 && range(m_range)->high < n && m_steps-- > 0)
            m_range = range(m_range)->next;
        return m_range != 0 && range(m_range)->low <= n;
    }

private:
    DbOffset m_range;
    std::uint64_t m_steps;
};

// The first fill; true when it scanned the candidates, false when it started from the
// games through the set's position.
bool fillGameset(DbOffset gameset, bool noInitialFill)
{
    noteImageChange();
    const Gameset s = *set(gameset);
    const auto kind = GamesetKind(s.rule);
    const std::uint32_t issued = currentHeader().gameNumbersIssued;
    std::int64_t candidates = s.parent == 0 ? (noInitialFill ? 0 : std::int64_t(issued) + 1)
                                            : std::int64_t(size(s.parent));
    if (s.parent != 0 && kind == GamesetKind::Subtract && s.other != 0)
        candidates -= size(s.other);
    const std::int64_t throughPosition = s.fen == 0 ? 0 : recordCounts(s.fen).games;

    RangeWalk walk(gameset);
    if (s.fen == 0 || candidates <= throughPosition) {
        if (s.parent == 0 && !noInitialFill) {
            for (std::uint32_t n = 0; n < issued; ++n) {
                if (gameByNumber(n) != 0)
                    walk.add(std::int32_t(n));
            }
        } else if (s.parent != 0) {
            for (const std::int32_t n : members(s.parent))
                walk.add(n);
        }
        if (kind == GamesetKind::Union && s.other != 0) {
            for (const std::int32_t n : members(s.other))
                walk.add(n);
        }
        return true;
    }
    findGamesThrough(s.fen, [&](std::uint32_t n) { walk.add(std::int32_t(n)); });
    if (s.parent != 0) {
        AscendingMembers inParent(s.parent), inOther(s.other);
        RangeWalk cut(gameset);
        for (const std::int32_t n : members(gameset)) {
            const bool keep = inParent(n) || (kind == GamesetKind::Union && inOther(n));
            if (!keep)
                cut.remove(n);
        }
    }
    return false;
}

void filterGameset(DbOffset gameset, bool criteria, bool scanned)
{
    noteImageChange();
    const Gameset s = *set(gameset);
    const auto kind = GamesetKind(s.rule);
    const bool intersect = kind == GamesetKind::Intersect && s.other != 0;
    const bool subtract = kind == GamesetKind::Subtract && s.other != 0;
    const bool throughPosition = scanned && s.fen != 0;
    if (!intersect && !subtract && !criteria && !throughPosition)
        return;
    AscendingMembers inOther(s.other);
    RangeWalk walk(gameset);
    for (const std::int32_t d : members(gameset)) {
        const bool other = (intersect || subtract) && inOther(d);
        bool drop = (intersect && !other) || (subtract && other);
        if (!drop && (criteria || throughPosition)) {
            // A number without a game (a Fixed parent may hold one) matches nothing.
            const DbOffset game = gameByNumber(std::uint32_t(d));
            drop = game == 0 || (criteria && !matchesCriteria(s, game)) ||
                   (throughPosition && !gameContains(game, s.fen));
        }
        if (drop)
            walk.remove(d);
    }
}

} // namespace

DbOffset createGameset(std::string_view name, const GamesetDefinition& d, bool noInitialFill)
{
    noteImageChange();
    name = storedForm(name);
    if (findGameset(name) != 0)
        return 0;
    if ((d.parent != 0 && !isLiveGameset(d.parent)) || (d.other != 0 && !isLiveGameset(d.other)))
        return 0;
    if (!codesInRange(d) || (d.fen && !canStorePosition(*d.fen)))
        return 0;
    const bool criteria = hasCriteria(d);
    if (d.rule == GamesetKind::Fixed && (d.parent != 0 || d.other != 0 || d.fen || criteria))
        return 0;

    const DbOffset gameset = allocateRecord(RecordKind::Gameset);
    appendToList(gameset);
    if (!name.empty()) {
        const DbOffset text = internString(name, Dictionary::General);
        set(gameset)->name = text;
    }
    set(gameset)->outcome = std::int32_t(d.outcome);
    set(gameset)->color = std::int32_t(d.color);
    set(gameset)->rule = std::int32_t(d.rule);
    if (d.rule == GamesetKind::Fixed)
        return gameset;
    storeCriteria(gameset, d);
    const bool scanned = fillGameset(gameset, noInitialFill);
    filterGameset(gameset, criteria, scanned);
    return gameset;
}

void offerGameTo(DbOffset gameset, DbOffset gameRecord)
{
    noteImageChange();
    const Gameset s = *set(gameset);
    const auto kind = GamesetKind(s.rule);
    if (kind == GamesetKind::Fixed)
        return;
    const auto n = std::int32_t(gameNumberOf(*at<GameRecord>(gameRecord)));
    const bool inOther = s.other != 0 && contains(s.other, n);
    if (s.parent != 0 && !contains(s.parent, n)) {
        if (kind != GamesetKind::Union || !inOther)
            return;
    } else if (s.other != 0) {
        if ((kind == GamesetKind::Intersect && !inOther) ||
            (kind == GamesetKind::Subtract && inOther))
            return;
    }
    if (!matchesCriteria(s, gameRecord))
        return;
    if (s.fen != 0 && !gameContains(gameRecord, s.fen))
        return;
    addMember(gameset, n);
}

void offerGame(DbOffset gameRecord)
{
    // A set's parent and other come before it, so they have taken the game already.
    forEachGameset([&](DbOffset s) { offerGameTo(s, gameRecord); });
}

void removeGameEverywhere(std::uint32_t number)
{
    noteImageChange();
    if (number > std::uint32_t(std::numeric_limits<std::int32_t>::max()))
        return;
    forEachGameset([&](DbOffset s) { removeMember(s, std::int32_t(number)); });
}

// --- Player aliases -------------------------------------------------------------------

void aliasPlayer(std::string_view keep, std::string_view alias)
{
    noteImageChange();
    const auto joined = joinAliasRings(keep, alias);
    if (!joined)
        return;
    // Games are about to change players, which the duplicate search looks them up by.
    forgetLineEnds();
    const DbOffset a = joined->second;
    const DbOffset k = canonicalPlayer(joined->first);
    // Games of the alias now name the kept player; they and the kept player's games are
    // evaluated again by the rule sets (hand-made Fixed sets keep what the user put in).
    std::vector<std::uint32_t> touched;
    const std::uint32_t issued = currentHeader().gameNumbersIssued;
    for (std::uint32_t n = 0; n < issued; ++n) {
        const DbOffset g = gameByNumber(n);
        if (g == 0)
            continue;
        GameRecord* r = at<GameRecord>(g);
        const bool hadAlias = r->white == a || r->black == a;
        if (r->white == a)
            r->white = k;
        if (r->black == a)
            r->black = k;
        if (hadAlias || r->white == k || r->black == k)
            touched.push_back(n);
    }
    // Sets whose player rule named the alias, and every set built on one of them, are
    // evaluated again over all games.
    std::vector<DbOffset> renamed;
    forEachGameset([&](DbOffset s) {
        const Gameset& g = *set(s);
        const auto depends = [&](DbOffset other) {
            return other != 0 && std::find(renamed.begin(), renamed.end(), other) != renamed.end();
        };
        if (g.player == a || depends(g.parent) || depends(g.other))
            renamed.push_back(s);
        if (g.player == a)
            set(s)->player = k;
    });
    for (std::uint32_t n = 0; n < issued; ++n) {
        const DbOffset g = gameByNumber(n);
        if (g == 0)
            continue;
        const bool gameTouched = std::binary_search(touched.begin(), touched.end(), n);
        forEachGameset([&](DbOffset s) {
            if (GamesetKind(set(s)->rule) == GamesetKind::Fixed)
                return;
            if (!gameTouched && std::find(renamed.begin(), renamed.end(), s) == renamed.end())
                return;
            removeMember(s, std::int32_t(n));
            offerGameTo(s, g);
        });
    }
}

// --- Text form ------------------------------------------------------------------------

namespace {

std::string nameOf(DbOffset gameset)
{
    return gameset == 0 ? std::string() : std::string(dictionaryText(set(gameset)->name));
}

std::string dateText(std::int32_t key)
{
    const auto k = DateKey(key);
    return key == 0 ? std::string() : formatDate(yearOf(k), monthOf(k), dayOf(k));
}

std::string fenText(DbOffset record)
{
    Position pos;
    if (record == 0 || !reconstructPosition(record, pos))
        return {};
    return writeFen(pos, 0, 1);
}

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t start = text.find_first_not_of(kBlanks);
    if (start == std::string_view::npos)
        return {};
    return text.substr(start, text.find_last_not_of(kBlanks) - start + 1);
}

// An empty text is no position; anything left after the FEN fields is refused.
bool readRuleFen(std::string_view text, std::optional<Position>& fen)
{
    fen.reset();
    text = trimmed(text);
    if (text.empty())
        return true;
    Position pos;
    std::size_t cursor = 0;
    if (!readFen(pos, text, cursor) || cursor < text.size() || !canStorePosition(pos))
        return false;
    fen = pos;
    return true;
}

bool resolveGameset(std::string_view name, DbOffset& gameset)
{
    gameset = name.empty() ? 0 : findGameset(name);
    return name.empty() || gameset != 0;
}

} // namespace

GamesetRule describeGameset(DbOffset gameset)
{
    const Gameset s = *set(gameset);
    GamesetRule r;
    r.parent = nameOf(s.parent);
    r.other = nameOf(s.other);
    r.player = playerDisplayName(s.player);
    r.event = dictionaryText(s.event);
    r.tag = dictionaryText(s.tag);
    r.value = dictionaryText(s.value);
    r.minDate = dateText(s.minDate);
    r.maxDate = dateText(s.maxDate);
    r.minEco = formatEco(EcoCode(std::uint16_t(s.minEco)));
    r.maxEco = formatEco(EcoCode(std::uint16_t(s.maxEco)));
    r.fen = fenText(s.fen);
    r.rule = textOf(kKindTexts, s.rule);
    r.outcome = textOf(kOutcomeTexts, s.outcome);
    r.color = textOf(kColorTexts, s.color);
    return r;
}

bool gamesetDefinitionFromText(const GamesetRule& text, GamesetDefinition& out)
{
    GamesetDefinition d;
    int rule = 0, outcome = 0, color = 0;
    if (!resolveGameset(text.parent, d.parent) || !resolveGameset(text.other, d.other) ||
        !codeOf(kKindTexts, text.rule, rule) || !codeOf(kOutcomeTexts, text.outcome, outcome) ||
        !codeOf(kColorTexts, text.color, color) || !readRuleFen(text.fen, d.fen))
        return false;
    d.rule = GamesetKind(rule);
    d.outcome = GamesetOutcome(outcome);
    d.color = GamesetColor(color);
    d.player = text.player;
    d.event = text.event;
    d.tag = text.tag;
    d.value = text.value;
    d.minDate = text.minDate;
    d.maxDate = text.maxDate;
    d.minEco = text.minEco;
    d.maxEco = text.maxEco;
    out = std::move(d);
    return true;
}

DbOffset createGamesetFromText(std::string_view name, const GamesetRule& text)
{
    GamesetDefinition rule;
    if (!gamesetDefinitionFromText(text, rule))
        return 0;
    return createGameset(name, rule, false);
}

// --- Positions named by gamesets --------------------------------------------------------

bool isGamesetPosition(DbOffset record)
{
    bool named = false;
    if (record != 0)
        forEachGameset([&](DbOffset s) { named = named || set(s)->fen == record; });
    return named;
}

void redirectGamesetPosition(DbOffset from, DbOffset to)
{
    noteImageChange();
    if (from == 0)
        return;
    forEachGameset([&](DbOffset s) {
        if (set(s)->fen == from)
            set(s)->fen = to;
    });
}

} // namespace vez
