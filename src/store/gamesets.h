// Gamesets: named, persistent sets of game numbers. A set is either Fixed (games are added
// and removed by hand) or defined by a rule: a parent it is a subset of, another set it is
// combined with (union, intersection or subtraction), and criteria on player, event, a tag
// value, dates, ECO codes, a position the games pass through, the outcome and the colour.
// A rule set is filled when it is created and kept current afterwards: every new game is
// offered to every set, every deleted game is removed from all of them.
//
// Members are a chain of IntRanges in ascending order, disjoint and never adjacent.
// Gamesets form one list in creation order; a set refers as parent or other only to sets
// before it, so in list order every set comes after the sets it depends on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chess/position.h"
#include "store/records.h"

namespace vez {

// The rule field of a Gameset.
enum class GamesetKind : std::int32_t {
    Fixed = 0,
    Plain = 1,
    Union = 2,
    Intersect = 3,
    Subtract = 4
};
enum class GamesetOutcome : std::int32_t { Any = 0, Win = 1, Loss = 2, Draw = 3 };
enum class GamesetColor : std::int32_t { Any = 0, White = 1, Black = 2 };

// Sets that other parts of the program make by name.
inline constexpr std::string_view kSelectedGamesName = "Selected Games";
inline constexpr std::string_view kGamesFromPrefix = "Games from ";
inline constexpr std::string_view kTemporaryGamesetFormat = "Temporary Gameset #%d";
inline constexpr std::string_view kTemporarySelectionName = "TEMPORARY SELECTION GAMESET";

// The text form of a rule, as the gameset dialog and the server write it. Empty means not
// given. rule: "" plain, "Fixed", "Union", "Intersect", "Subtract"; outcome: "", "Win",
// "Loss", "Draw"; color: "", "White", "Black". Dates and ECO codes in their text forms,
// fen a FEN position with nothing after it.
struct GamesetRule {
    std::string parent;
    std::string other;
    std::string player;
    std::string event;
    std::string tag;
    std::string value;
    std::string minDate;
    std::string maxDate;
    std::string minEco;
    std::string maxEco;
    std::string fen;
    std::string rule;
    std::string outcome;
    std::string color;

    friend bool operator==(const GamesetRule&, const GamesetRule&) = default;
};

// The keys of the text form, in the order the rule is listed, each with its field.
struct GamesetRuleKey {
    std::string_view key;
    std::string GamesetRule::*field;
};
inline constexpr GamesetRuleKey kGamesetRuleKeys[] = {
    {"parent", &GamesetRule::parent},    {"other", &GamesetRule::other},
    {"player", &GamesetRule::player},    {"event", &GamesetRule::event},
    {"tag", &GamesetRule::tag},          {"value", &GamesetRule::value},
    {"min_date", &GamesetRule::minDate}, {"max_date", &GamesetRule::maxDate},
    {"min_ECO", &GamesetRule::minEco},   {"max_ECO", &GamesetRule::maxEco},
    {"FEN", &GamesetRule::fen},          {"rule", &GamesetRule::rule},
    {"outcome", &GamesetRule::outcome},  {"color", &GamesetRule::color},
};
// The field of a key, or null for a key outside the list.
inline std::string GamesetRule::*gamesetRuleField(std::string_view key)
{
    for (const GamesetRuleKey& k : kGamesetRuleKeys) {
        if (k.key == key)
            return k.field;
    }
    return nullptr;
}

// The form createGameset takes: the sets resolved, the codes as numbers and the FEN read.
// The criteria stay texts: the store interns and parses them only once creation cannot fail.
struct GamesetDefinition {
    DbOffset parent = 0; // Gameset, 0 none
    DbOffset other = 0;  // Gameset, 0 none
    std::string player;
    std::string event;
    std::string tag;
    std::string value;
    std::string minDate;
    std::string maxDate;
    std::string minEco;
    std::string maxEco;
    std::optional<Position> fen;
    GamesetKind rule = GamesetKind::Plain;
    GamesetOutcome outcome = GamesetOutcome::Any;
    GamesetColor color = GamesetColor::Any;
};

// --- Members --------------------------------------------------------------------------

bool contains(DbOffset gameset, std::int32_t number);
// The number of members.
std::uint32_t size(DbOffset gameset);
bool isEmpty(DbOffset gameset);
// The lowest and the highest member; -1 for an empty set.
std::int32_t first(DbOffset gameset);
std::int32_t last(DbOffset gameset);
// The smallest member greater than number; when there is none, a value greater than last.
std::int32_t nextMember(DbOffset gameset, std::int32_t number);
// Every member in ascending order.
std::vector<std::int32_t> members(DbOffset gameset);
// Negative numbers are never members and are ignored.
void addMember(DbOffset gameset, std::int32_t number);
void removeMember(DbOffset gameset, std::int32_t number);

// --- The list of gamesets -------------------------------------------------------------

// The gameset of a name, or 0; an empty name names no set.
DbOffset findGameset(std::string_view name);
// The names of the named sets, in creation order, and their number.
std::vector<std::string> gamesetNames();
int gamesetCount();

// A new gameset at the end of the list, filled over the existing games unless
// noInitialFill (a set without parent then starts empty and fills as games are stored).
// An empty name makes an unnamed set. 0, with nothing changed, when the name exists, a
// parent or other is not a live gameset, a code is outside its list, the FEN position
// cannot be stored, or a Fixed set is given a parent, an other, a FEN or criteria.
DbOffset createGameset(std::string_view name, const GamesetDefinition& rule, bool noInitialFill);

// True when no gameset uses it as parent or other.
bool canDeleteGameset(DbOffset gameset);
// Deletes a set with its ranges, then its parent and its other when they are unnamed and
// no longer used. A set still in use is left alone (false).
bool deleteGameset(DbOffset gameset);

// Offers a newly stored game to every gameset, in list order.
void offerGame(DbOffset gameRecord);
// Adds the game when the set's rule takes it; Fixed sets take nothing.
void offerGameTo(DbOffset gameset, DbOffset gameRecord);
// Removes a number from every gameset.
void removeGameEverywhere(std::uint32_t number);

// The rule of a set in its text form.
GamesetRule describeGameset(DbOffset gameset);

// Converts a text rule; false for a parent or other name that names no gameset, a FEN
// that does not read, has text after it or cannot be stored, or a rule, outcome or color
// text outside its list.
bool gamesetDefinitionFromText(const GamesetRule& text, GamesetDefinition& out);
// Converts and creates (with the initial fill); 0 when either step fails.
DbOffset createGamesetFromText(std::string_view name, const GamesetRule& text);

// The position records that gamesets name. Game deletion keeps such a record (or moves
// the reference with redirectGamesetPosition) so that a set never names a released record.
bool isGamesetPosition(DbOffset record);
void redirectGamesetPosition(DbOffset from, DbOffset to);

} // namespace vez
