// What the "New Gameset" dialog holds, its checks in the order the user meets them, and the
// text rule made from it. Widget-free, so that the checks are tested without a display.
#pragma once

#include <string>
#include <vector>

#include "store/gamesets.h"

namespace vez {

enum class GamesetVia { None, Union, Intersect, Subtract };
enum class GamesetRole { Any, Winner, Loser, Draw };


struct GamesetForm {
    std::string name;
    std::string parent; // "Subset of"
    std::string other;  // "Combined with"
    GamesetVia via = GamesetVia::None;
    std::string player, event, tag, value;
    std::string minDate, maxDate, minEco, maxEco;
    bool containsPosition = false;
    GamesetRole role = GamesetRole::Any;
    GamesetColor color = GamesetColor::Any;
};

// The names the dialog offers: existing gamesets, players, events and tags.
struct GamesetChoices {
    std::vector<std::string> gamesets, players, events, tags;
};

// The first check the form fails, as its message; empty when it passes.
std::string checkGamesetForm(const GamesetForm& form, const GamesetChoices& choices);

// The text rule of a checked form; fen is the board's position, used when the form asks
// for games containing it.
GamesetRule gamesetRuleOf(const GamesetForm& form, const std::string& fen);

// "Temporary Gameset #N" with the first N from 0 whose name is free.
std::string temporaryGamesetName(const std::vector<std::string>& existing);

} // namespace vez
