// The four dictionaries of texts and the player tree, with player-name normalization.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/records.h"

namespace vez {

enum class Dictionary { General, Event, Site, TagName };

// The stored copy of a text (the offset of the text itself, so that it reads as a C string),
// inserted when it is not there yet. A text runs to its first NUL and is cut to the longest
// a record can hold.
DbOffset internString(std::string_view text, Dictionary dictionary);
// The text stored at an offset from internString; empty for 0.
std::string_view dictionaryText(DbOffset text);
// Every text of a dictionary in ascending byte order.
void listDictionary(Dictionary dictionary, std::vector<std::string>& out);

// "Last", "Last, First" or "Last, First Middle" from the ways names are written.
std::string normalizePlayerName(std::string_view name);
struct PlayerName {
    std::string last;
    std::string first;
    std::string middle;
};
PlayerName splitPlayerName(std::string_view normalized);
// Whether b is acceptable for a: equal, a empty, or b a shorter start or initial of a.
bool namesMatch(std::string_view a, std::string_view b);

// The player of a name (normalized unless the database has normalization off), created
// when no stored player matches; 0 for an empty name.
DbOffset internPlayer(std::string_view name);
// The Player whose name its alias ring shows (the player itself when it has no alias);
// games and gameset rules refer to this one, so that every spelling finds the same games.
DbOffset canonicalPlayer(DbOffset player);
// The name of the canonical player of the alias ring; empty for 0.
std::string playerDisplayName(DbOffset player);
// Every canonical player, in tree order.
void listPlayers(std::vector<std::string>& out);
// Makes the second name an alias of the first: it shows as the kept player from now on.
// Games of the alias move to the kept player and gamesets follow (defined with the
// gamesets, which it updates).
void aliasPlayer(std::string_view keep, std::string_view alias);
// The ring part of aliasPlayer: the two Players (kept, alias), or nullopt when the names
// are one Player or empty.
std::optional<std::pair<DbOffset, DbOffset>> joinAliasRings(std::string_view keep,
                                                            std::string_view alias);

} // namespace vez
