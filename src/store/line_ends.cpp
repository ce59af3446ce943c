#include "store/line_ends.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "store/database.h"
#include "store/game_paths.h"

namespace vez {

namespace {

// The header fields a duplicate search looks games up by. A field a game leaves empty (0)
// agrees with every value, so a game is found under its value or under 0.
constexpr int kFields = 5;

std::array<std::uint32_t, kFields> fieldsOf(const GameRecord& g)
{
    return {g.white, g.black, g.event, g.site, std::uint32_t(gameYearOf(g))};
}

std::uint64_t fieldKey(int field, std::uint32_t value)
{
    return std::uint64_t(field) << 32 | value;
}

// The main lines ending at one position, in the order of the position's list: a later
// entry stands before an earlier one there. Most positions end one game or a few, where
// trying every entry is cheapest; the lists by field value come only with many entries
// (a list per field and value would cost most of an import's memory).
struct MainLines {
    static constexpr std::size_t kListedFrom = 8;
    struct Entry {
        DbOffset line;
        DbOffset game;
    };
    using Lists = std::unordered_map<std::uint64_t, std::vector<std::uint32_t>>;
    std::vector<Entry> entries;
    std::unique_ptr<Lists> byField; // from kListedFrom entries on: an empty map is large

    void add(DbOffset line, DbOffset game)
    {
        if (!entries.empty() && entries.back().line == line)
            return;
        entries.push_back({line, game});
        if (entries.size() == kListedFrom) {
            for (std::size_t i = 0; i < entries.size(); ++i)
                listFields(std::uint32_t(i));
        } else if (entries.size() > kListedFrom) {
            listFields(std::uint32_t(entries.size() - 1));
        }
    }

private:
    void listFields(std::uint32_t index)
    {
        const auto fields = fieldsOf(*gameRecord(entries[index].game));
        if (!byField)
            byField = std::make_unique<Lists>();
        for (int f = 0; f < kFields; ++f)
            (*byField)[fieldKey(f, fields[std::size_t(f)])].push_back(index);
    }
};

// A value for each of some records, by offset (never 0), in one open table: a lookup, made
// for every line stored, costs one cache miss rather than a bucket's and a node's.
template <class Value>
class ByRecord {
public:
    Value* find(DbOffset record)
    {
        if (m_keys.empty())
            return nullptr;
        for (std::size_t at = slotOf(record);; at = (at + 1) & (m_keys.size() - 1)) {
            if (m_keys[at] == record)
                return &m_values[at];
            if (m_keys[at] == 0)
                return nullptr;
        }
    }
    // The record's value, made with Value() when it had none.
    Value& get(DbOffset record)
    {
        if ((m_count + 1) * 2 > m_keys.size())
            grow();
        std::size_t at = slotOf(record);
        for (; m_keys[at] != 0 && m_keys[at] != record; at = (at + 1) & (m_keys.size() - 1)) {
        }
        if (m_keys[at] == 0) {
            m_keys[at] = record;
            ++m_count;
        }
        return m_values[at];
    }
    void clear()
    {
        m_keys.clear();
        m_values.clear();
        m_count = 0;
    }

private:
    std::size_t slotOf(DbOffset record) const
    {
        return std::size_t(std::uint64_t(record) * 0x9E3779B97F4A7C15ull >> 32) &
               (m_keys.size() - 1);
    }
    void grow()
    {
        std::vector<DbOffset> keys(std::max<std::size_t>(1024, m_keys.size() * 2), 0);
        std::vector<Value> values(keys.size());
        keys.swap(m_keys);
        values.swap(m_values);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == 0)
                continue;
            std::size_t at = slotOf(keys[i]);
            while (m_keys[at] != 0)
                at = (at + 1) & (m_keys.size() - 1);
            m_keys[at] = keys[i];
            m_values[at] = std::move(values[i]);
        }
    }

    std::vector<DbOffset> m_keys; // 0: a free slot
    std::vector<Value> m_values;
    std::size_t m_count = 0;
};

struct LineEnds {
    const std::uint8_t* base = nullptr;
    std::uint64_t epoch = 0;
    // An upper bound of the lines with tails listed at a position since a walk counted them;
    // a position not here has not been counted.
    ByRecord<std::uint32_t> tails;
    // The main lines at positions where a duplicate was looked for, as places in lists
    // (a table that grows moves its values: the lists stay where they are).
    ByRecord<std::uint32_t> mainLinesPlace; // 1 + the place
    std::deque<MainLines> mainLines;
};

LineEnds& lineEnds()
{
    static auto& ends = *new LineEnds; // never destroyed: stores may run at exit
    if (ends.base != currentBase || ends.epoch != imageEpoch()) {
        ends.tails.clear();
        ends.mainLinesPlace.clear();
        ends.mainLines.clear();
        ends.base = currentBase;
        ends.epoch = imageEpoch();
    }
    return ends;
}

bool isMainLine(DbOffset line)
{
    const DbOffset game = variation(line)->game;
    return game != 0 && gameRecord(game)->mainLine == line;
}

// The main lines at a position when they are known already, else null.
MainLines* knownMainLines(LineEnds& ends, DbOffset end)
{
    const std::uint32_t* place = ends.mainLinesPlace.find(end);
    return place != nullptr ? &ends.mainLines[*place - 1] : nullptr;
}

// The main lines at a position, from its list when they are not known yet.
MainLines& mainLinesAt(DbOffset end)
{
    LineEnds& ends = lineEnds();
    if (MainLines* known = knownMainLines(ends, end))
        return *known;
    std::vector<DbOffset> listed;
    for (DbOffset w = at<BigPosition>(end)->firstVariation; w != 0; w = variation(w)->nextAtEnd)
        listed.push_back(w);
    MainLines& found = ends.mainLines.emplace_back();
    ends.mainLinesPlace.get(end) = std::uint32_t(ends.mainLines.size());
    for (auto w = listed.rbegin(); w != listed.rend(); ++w) {
        if (isMainLine(*w))
            found.add(*w, variation(*w)->game);
    }
    return found;
}

} // namespace

void lineListed(DbOffset v, DbOffset end)
{
    LineEnds& ends = lineEnds();
    if (variation(v)->compressedTail != 0) {
        if (std::uint32_t* counted = ends.tails.find(end))
            ++*counted;
    }
    // A new game's main line is listed before the game knows it; mainLineStored adds it.
    if (MainLines* known = knownMainLines(ends, end); known != nullptr && isMainLine(v))
        known->add(v, variation(v)->game);
}

bool mayHoldTails(DbOffset end)
{
    const std::uint32_t* counted = lineEnds().tails.find(end);
    return counted == nullptr || *counted > 0;
}

void tailsCounted(DbOffset end, std::uint32_t count) { lineEnds().tails.get(end) = count; }

DbOffset duplicateOf(DbOffset g)
{
    const DbOffset main = gameRecord(g)->mainLine;
    const DbOffset end = variation(main)->graphEnd;
    const MainLines& lines = mainLinesAt(end);
    auto matches = [&](std::uint32_t index) {
        const MainLines::Entry& e = lines.entries[index];
        return e.line != main && variation(e.line)->graphEnd == end &&
               variation(e.line)->game == e.game && isMainLine(e.line) &&
               gamesCompatible(e.game, g) && samePath(e.line, main);
    };
    // The fewest candidates: those of one field's value and those that leave it empty.
    static const std::vector<std::uint32_t> kNone;
    auto listOf = [&](int field, std::uint32_t value) -> const std::vector<std::uint32_t>& {
        const auto found = lines.byField->find(fieldKey(field, value));
        return found == lines.byField->end() ? kNone : found->second;
    };
    const auto fields = fieldsOf(*gameRecord(g));
    int best = -1;
    std::size_t fewest = lines.entries.size();
    for (int f = 0; f < kFields && lines.entries.size() >= MainLines::kListedFrom; ++f) {
        const std::uint32_t value = fields[std::size_t(f)];
        if (value == 0)
            continue;
        const std::size_t count = listOf(f, value).size() + listOf(f, 0).size();
        if (count < fewest) {
            fewest = count;
            best = f;
        }
    }
    if (best < 0) {
        for (std::size_t i = lines.entries.size(); i-- > 0;)
            if (matches(std::uint32_t(i)))
                return lines.entries[i].game;
        return 0;
    }
    // The two lists ascend; the latest entry that matches is the first in the file's list.
    const std::vector<std::uint32_t>& a = listOf(best, fields[std::size_t(best)]);
    const std::vector<std::uint32_t>& b = listOf(best, 0);
    std::size_t i = a.size(), j = b.size();
    while (i > 0 || j > 0) {
        const bool fromA = j == 0 || (i > 0 && a[i - 1] > b[j - 1]);
        const std::uint32_t index = fromA ? a[--i] : b[--j];
        if (matches(index))
            return lines.entries[index].game;
    }
    return 0;
}

void mainLineStored(DbOffset g)
{
    const DbOffset main = gameRecord(g)->mainLine;
    if (main == 0)
        return;
    const DbOffset end = variation(main)->graphEnd;
    if (MainLines* known = knownMainLines(lineEnds(), end))
        known->add(main, g);
}

void forgetLineEnds()
{
    LineEnds& ends = lineEnds();
    ends.tails.clear();
    ends.mainLinesPlace.clear();
    ends.mainLines.clear();
}

} // namespace vez
