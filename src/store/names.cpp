#include "store/names.h"

#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/checksum.h"
#include "store/codes.h"
#include "store/database.h"
#include "store/heap.h"

namespace vez {

namespace {

DbOffset& rootOf(Dictionary dictionary)
{
    DatabaseHeader& h = currentHeader();
    switch (dictionary) {
    case Dictionary::Event: return h.eventDictionary;
    case Dictionary::Site: return h.siteDictionary;
    case Dictionary::TagName: return h.tagNameDictionary;
    default: return h.generalDictionary;
    }
}

// A text as a C string would hold it: up to its first NUL, cut to what fits.
std::string_view storable(std::string_view text, std::size_t limit)
{
    text = text.substr(0, text.find('\0'));
    return text.substr(0, std::min(text.size(), limit));
}

int compareTexts(std::string_view a, std::string_view b)
{
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0)
        return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// compareTexts against a stored, zero-ended text, read only as far as they differ.
int compareWithStored(std::string_view a, const char* stored)
{
    for (std::size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(stored[i]);
        if (y == 0)
            return 1;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return stored[a.size()] == 0 ? 0 : -1;
}

const char* entryText(DbOffset entry) { return at<char>(entry + kDictionaryTextOffset); }

// No tree in a sound image is deeper than the records it could hold.
std::uint64_t treeLimit() { return currentHeader().usedBytes / 8 + 1; }

std::string_view trimLeft(std::string_view s)
{
    const std::size_t i = s.find_first_not_of(' ');
    return i == std::string_view::npos ? std::string_view() : s.substr(i);
}

std::string_view trimRight(std::string_view s)
{
    const std::size_t i = s.find_last_not_of(' ');
    return i == std::string_view::npos ? std::string_view() : s.substr(0, i + 1);
}

// Words of a text joined by single blanks.
std::string joinWords(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = text.find_first_not_of(' ', i);
        if (start == std::string_view::npos)
            break;
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (!out.empty())
            out += ' ';
        out.append(text.substr(start, end - start));
        i = end;
    }
    return out;
}

bool isSingleCapital(const std::string& s) { return s.size() == 1 && s[0] >= 'A' && s[0] <= 'Z'; }

Player* player(DbOffset p) { return at<Player>(p); }
const char* lastNameOf(DbOffset p) { return reinterpret_cast<const char*>(player(p)->lastName); }

DbOffset internStringInTree(std::string_view text, Dictionary dictionary)
{
    DbOffset* link = &rootOf(dictionary);
    for (std::uint64_t steps = treeLimit(); *link != 0 && steps > 0; --steps) {
        const int c = compareWithStored(text, entryText(*link));
        if (c == 0)
            return *link + kDictionaryTextOffset;
        link = c < 0 ? &at<DictionaryEntry>(*link)->left : &at<DictionaryEntry>(*link)->right;
    }
    const DbOffset entry = poolAllocate(dictionaryEntrySize(std::uint32_t(text.size())), PoolChain::Misc);
    std::memcpy(at<char>(entry + kDictionaryTextOffset), text.data(), text.size());
    *link = entry; // the image never moves while it grows, so link is still good
    return entry + kDictionaryTextOffset;
}

// The texts interned in the open image, by dictionary. The trees are walked from the root
// (built from sorted input they are as deep as they are long), and an import interns the
// same tag names, events and sites game after game. Entries are never removed, so a text
// once found stays where it is while the image is open.
//
// In front of them, the texts and the players that names as given found lately, in a table
// small enough to stay in the cache, each in the slot its hash picks. A name finds the
// player it found before as long as no player of the same last name has had a given name
// refined: last names never change, and a new player only takes an empty link, so only a
// refinement can turn the way through the tree. Refinements are counted by last name (by
// its hash, so names that share a count forget each other too), and a player is known only
// while the count of its last name is the one it saw.
class InternedTexts {
public:
    static constexpr int kPlayer = 4; // after the dictionaries

    DbOffset recent(std::string_view text, int kind)
    {
        refresh();
        const Slot& slot = m_recent[slotOf(text, kind)];
        const bool known = slot.stored != 0 && slot.kind == kind && slot.length == text.size() &&
                           std::memcmp(slot.text, text.data(), text.size()) == 0;
        if (!known || (kind == kPlayer && slot.refinements != m_refinements[slot.lastName]))
            return 0;
        return slot.stored;
    }
    void noteRecent(std::string_view text, int kind, DbOffset stored,
                    std::string_view lastName = {})
    {
        if (text.size() > kLongestRecent)
            return;
        refresh();
        Slot& slot = m_recent[slotOf(text, kind)];
        slot.stored = stored;
        slot.kind = std::uint8_t(kind);
        slot.length = std::uint8_t(text.size());
        std::memcpy(slot.text, text.data(), text.size());
        slot.lastName = std::uint16_t(Hash()(lastName) % kRefinementCounts);
        slot.refinements = m_refinements[slot.lastName];
    }
    void noteRefined(std::string_view lastName)
    {
        refresh();
        ++m_refinements[Hash()(lastName) % kRefinementCounts];
    }

    DbOffset* find(std::string_view text, Dictionary dictionary)
    {
        refresh();
        auto& texts = m_texts[int(dictionary)];
        const auto it = texts.find(text);
        return it == texts.end() ? nullptr : &it->second;
    }
    void add(std::string_view text, Dictionary dictionary, DbOffset stored)
    {
        refresh();
        if (++m_count > kMaxTexts)
            clearTexts();
        m_texts[int(dictionary)].emplace(std::string(text), stored);
    }

private:
    static constexpr std::size_t kMaxTexts = 1 << 20;
    static constexpr std::size_t kRecentSlots = 16384;
    static constexpr std::size_t kLongestRecent = 50;
    static constexpr std::size_t kRefinementCounts = 4096;
    struct Slot {
        DbOffset stored = 0; // 0 for an empty slot
        std::uint8_t kind = 0;
        std::uint8_t length = 0;
        char text[kLongestRecent] = {};
        // A player's: the count of the last name it was found by, and that count then.
        std::uint16_t lastName = 0;
        std::uint32_t refinements = 0;
    };
    static_assert(sizeof(Slot) == 64);
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    static std::size_t slotOf(std::string_view text, int kind)
    {
        return (Hash()(text) + std::size_t(kind) * 0x9E3779B97F4A7C15ull) % kRecentSlots;
    }
    void refresh()
    {
        if (m_base != currentBase || m_epoch != imageEpoch() ||
            m_normalizationOff != currentHeader().nameNormalizationOff) {
            clearTexts();
            m_recent.assign(kRecentSlots, Slot{});
            m_refinements.assign(kRefinementCounts, 0);
            m_base = currentBase;
            m_epoch = imageEpoch();
            m_normalizationOff = currentHeader().nameNormalizationOff;
        }
    }
    void clearTexts()
    {
        for (auto& texts : m_texts)
            texts.clear();
        m_count = 0;
    }

    const void* m_base = nullptr;
    std::uint64_t m_epoch = 0;
    std::uint32_t m_normalizationOff = 0;
    std::size_t m_count = 0;
    std::unordered_map<std::string, DbOffset, Hash, std::equal_to<>> m_texts[4];
    std::vector<Slot> m_recent;
    std::vector<std::uint32_t> m_refinements;
};

// Never destroyed: a database may still be written by another static's destructor at exit.
InternedTexts& internedTexts()
{
    static auto* texts = new InternedTexts;
    return *texts;
}

} // namespace

DbOffset internString(std::string_view text, Dictionary dictionary)
{
    text = storable(text, kMaxDictionaryText);
    InternedTexts& interned = internedTexts();
    if (const DbOffset recent = interned.recent(text, int(dictionary)))
        return recent;
    const DbOffset* known = interned.find(text, dictionary);
    const DbOffset stored = known != nullptr ? *known : internStringInTree(text, dictionary);
    if (known == nullptr)
        interned.add(text, dictionary, stored);
    interned.noteRecent(text, int(dictionary), stored);
    return stored;
}

std::string_view dictionaryText(DbOffset text) { return text == 0 ? std::string_view() : at<char>(text); }

void listDictionary(Dictionary dictionary, std::vector<std::string>& out)
{
    // In order without recursion: trees built from sorted input are as deep as they are long.
    std::vector<DbOffset> stack;
    DbOffset node = rootOf(dictionary);
    for (std::uint64_t steps = 2 * treeLimit(); (node != 0 || !stack.empty()) && steps > 0; --steps) {
        if (node != 0) {
            stack.push_back(node);
            node = at<DictionaryEntry>(node)->left;
            continue;
        }
        node = stack.back();
        stack.pop_back();
        out.emplace_back(entryText(node));
        node = at<DictionaryEntry>(node)->right;
    }
}

std::string normalizePlayerName(std::string_view name)
{
    const std::string cleaned = cleanEventName(name);
    const std::string_view s = cleaned;
    std::string_view last, rest;
    const std::size_t comma = s.find(',');
    if (comma != std::string_view::npos) {
        last = trimRight(s.substr(0, comma));
        rest = trimLeft(s.substr(comma + 1));
    } else {
        const std::size_t blank = s.rfind(' ');
        if (s.find_first_of("*_") != std::string_view::npos || blank == std::string_view::npos)
            return cleaned;
        last = s.substr(blank + 1);
        rest = trimRight(s.substr(0, blank));
    }
    std::string_view first;
    if (const std::size_t blank = rest.find(' '); blank != std::string_view::npos) {
        first = rest.substr(0, blank);
        rest = trimLeft(rest.substr(blank + 1));
    } else if (const std::size_t dot = rest.find('.'); dot != std::string_view::npos) {
        first = rest.substr(0, dot + 1);
        rest = trimLeft(rest.substr(dot + 1));
    } else {
        first = rest;
        rest = {};
    }
    std::string lastName(last), firstName(first), middle = joinWords(rest);
    // Without a comma, a one-letter or initial "last name" means the name was written last
    // name first with the initials after it.
    if (comma == std::string_view::npos &&
        (lastName.size() == 1 || (lastName.size() == 2 && lastName[1] == '.'))) {
        std::string oldLast = lastName;
        lastName = firstName;
        if (middle.empty()) {
            firstName = oldLast;
        } else {
            firstName = middle;
            middle = oldLast;
        }
    }
    if (isSingleCapital(firstName))
        firstName += '.';
    if (isSingleCapital(middle))
        middle += '.';
    if (middle == ".")
        middle.clear();
    if (firstName == ".") {
        firstName = middle;
        middle.clear();
    }
    std::string result = lastName;
    if (!firstName.empty()) {
        result += ", " + firstName;
        if (!middle.empty())
            result += " " + middle;
    }
    return result;
}

PlayerName splitPlayerName(std::string_view normalized)
{
    PlayerName name;
    const std::size_t comma = normalized.find(',');
    if (comma == std::string_view::npos) {
        name.last = normalized;
        return name;
    }
    name.last = normalized.substr(0, comma);
    // After ", " as normalization writes it; a raw "Last,First" keeps its first letter.
    std::string_view rest = normalized.substr(comma + 1);
    if (!rest.empty() && rest[0] == ' ')
        rest.remove_prefix(1);
    const std::size_t blank = rest.find(' ');
    name.first = rest.substr(0, blank);
    if (blank != std::string_view::npos)
        name.middle = rest.substr(blank + 1);
    return name;
}

bool namesMatch(std::string_view a, std::string_view b)
{
    if (a == b || a.empty())
        return true;
    if (b.empty() || a[0] != b[0])
        return false;
    if (b.size() < a.size() && a.substr(0, b.size()) == b)
        return true;
    if (b.size() < a.size() && b.back() == '.') {
        const std::string_view stem = b.substr(0, b.size() - 1);
        return a.substr(0, stem.size()) == stem;
    }
    return false;
}

namespace {

// Compares a new first or middle name with a stored one. 0 when they match; then *store
// says whether the new name should replace the stored one.
int compareGivenName(const std::string& fresh, DbOffset stored, bool& store)
{
    store = false;
    if (stored == 0) {
        store = !fresh.empty();
        return 0;
    }
    if (fresh.empty())
        return 0;
    const std::string_view old = dictionaryText(stored);
    const int c = compareTexts(fresh, old);
    if (c == 0 || namesMatch(old, fresh))
        return 0;
    if (namesMatch(fresh, old)) {
        store = true;
        return 0;
    }
    return c;
}

DbOffset internGiven(const std::string& text)
{
    return text.empty() ? 0 : internString(text, Dictionary::General);
}

} // namespace

DbOffset internPlayer(std::string_view name)
{
    name = storable(name, std::string_view::npos);
    if (name.empty())
        return 0;
    InternedTexts& interned = internedTexts();
    if (const DbOffset recent = interned.recent(name, InternedTexts::kPlayer))
        return recent;
    const std::string normalized =
        currentHeader().nameNormalizationOff == 1 ? std::string(name) : normalizePlayerName(name);
    PlayerName parts = splitPlayerName(normalized);
    if (parts.last.size() > kMaxPlayerLastName)
        parts.last.resize(kMaxPlayerLastName);

    DbOffset* link = &currentHeader().playerRoot;
    for (std::uint64_t steps = treeLimit(); *link != 0 && steps > 0; --steps) {
        const DbOffset p = *link;
        bool storeFirst = false, storeMiddle = false;
        int c = compareWithStored(parts.last, lastNameOf(p));
        if (c == 0)
            c = compareGivenName(parts.first, player(p)->firstName, storeFirst);
        if (c == 0)
            c = compareGivenName(parts.middle, player(p)->middleName, storeMiddle);
        if (c == 0) {
            if (storeFirst || storeMiddle) {
                noteImageChange();
                interned.noteRefined(parts.last);
            }
            if (storeFirst)
                player(p)->firstName = internGiven(parts.first);
            if (storeMiddle)
                player(p)->middleName = internGiven(parts.middle);
            interned.noteRecent(name, InternedTexts::kPlayer, p, parts.last);
            return p;
        }
        link = c < 0 ? &player(p)->left : &player(p)->right;
    }
    const DbOffset p = poolAllocate(playerRecordSize(std::uint32_t(parts.last.size())), PoolChain::Misc);
    std::memcpy(player(p)->lastName, parts.last.data(), parts.last.size());
    player(p)->nextAlias = p;
    player(p)->canonical = 1;
    player(p)->firstName = internGiven(parts.first);
    player(p)->middleName = internGiven(parts.middle);
    *link = p;
    interned.noteRecent(name, InternedTexts::kPlayer, p, parts.last);
    return p;
}

namespace {

DbOffset canonicalOf(DbOffset p)
{
    DbOffset q = p;
    for (std::uint64_t steps = treeLimit(); steps > 0; --steps) {
        if (player(q)->canonical)
            return q;
        q = player(q)->nextAlias;
        if (q == p || q == 0)
            break;
    }
    return p;
}

bool sameRing(DbOffset a, DbOffset b)
{
    DbOffset q = a;
    for (std::uint64_t steps = treeLimit(); steps > 0; --steps) {
        if (q == b)
            return true;
        q = player(q)->nextAlias;
        if (q == a || q == 0)
            return false;
    }
    return false;
}

} // namespace

DbOffset canonicalPlayer(DbOffset p) { return p == 0 ? 0 : canonicalOf(p); }


std::string playerDisplayName(DbOffset p)
{
    if (p == 0)
        return {};
    const DbOffset c = canonicalOf(p);
    std::string text = lastNameOf(c);
    if (player(c)->firstName != 0) {
        text += ", ";
        text += dictionaryText(player(c)->firstName);
        if (player(c)->middleName != 0) {
            text += " ";
            text += dictionaryText(player(c)->middleName);
        }
    }
    return text;
}

void listPlayers(std::vector<std::string>& out)
{
    std::vector<DbOffset> stack;
    DbOffset node = currentHeader().playerRoot;
    for (std::uint64_t steps = 2 * treeLimit(); (node != 0 || !stack.empty()) && steps > 0; --steps) {
        if (node != 0) {
            stack.push_back(node);
            node = player(node)->left;
            continue;
        }
        node = stack.back();
        stack.pop_back();
        if (player(node)->canonical) {
            std::string text = lastNameOf(node);
            if (player(node)->firstName != 0)
                text += ", " + std::string(dictionaryText(player(node)->firstName));
            if (player(node)->middleName != 0)
                text += " " + std::string(dictionaryText(player(node)->middleName));
            out.push_back(std::move(text));
        }
        node = player(node)->right;
    }
}

std::optional<std::pair<DbOffset, DbOffset>> joinAliasRings(std::string_view keep,
                                                            std::string_view alias)
{
    noteImageChange();
    const DbOffset k = internPlayer(keep);
    const DbOffset a = internPlayer(alias);
    if (k == 0 || a == 0 || k == a)
        return std::nullopt;
    const std::pair<DbOffset, DbOffset> joined{k, a};
    player(a)->canonical = 0;
    if (sameRing(k, a)) {
        // Already aliases of each other: exchanging the links would split the ring.
        if (!player(canonicalOf(k))->canonical)
            player(k)->canonical = 1;
        return joined;
    }
    std::swap(player(k)->nextAlias, player(a)->nextAlias);
    return joined;
}

} // namespace vez
