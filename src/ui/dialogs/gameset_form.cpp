#include "ui/dialogs/gameset_form.h"

#include <algorithm>

#include "store/names.h"

namespace vez {

namespace {

bool offered(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A player typed in any of the usual forms ("Tal, M", "M Tal") is the known one.
bool knownPlayer(const std::vector<std::string>& players, const std::string& name)
{
    if (offered(players, name))
        return true;
    const std::string normalized = normalizePlayerName(name);
    return std::any_of(players.begin(), players.end(), [&](const std::string& known) {
        return normalizePlayerName(known) == normalized;
    });
}

} // namespace

std::string checkGamesetForm(const GamesetForm& form, const GamesetChoices& choices)
{
    const bool noPlayer = form.player.empty();
    const bool sided = form.color != GamesetColor::Any;
    const bool decided = form.role == GamesetRole::Winner || form.role == GamesetRole::Loser;
    if (form.name.empty() || offered(choices.gamesets, form.name))
        return "The name must be present and distinct.";
    if (!noPlayer && !knownPlayer(choices.players, form.player))
        return "The player's name must be known, if present.";
    if (noPlayer && decided && !sided)
        return "A player's name or color must be specified if a winner or loser is selected.";
    if (noPlayer && form.role == GamesetRole::Draw && sided)
        return "Impossible draw criteria";
    if (!form.event.empty() && !offered(choices.events, form.event))
        return "The event's name must be known, if present.";
    if (!form.tag.empty() && !offered(choices.tags, form.tag))
        return "The tag must be known, if present.";
    if (!form.value.empty() && form.tag.empty())
        return "A tag must be specified for the value.";
    return {};
}

GamesetRule gamesetRuleOf(const GamesetForm& form, const std::string& fen)
{
    static const char* const kVia[] = {"", "Union", "Intersect", "Subtract"};
    static const char* const kRole[] = {"", "Win", "Loss", "Draw"};
    static const char* const kColor[] = {"", "White", "Black"};
    GamesetRule rule;
    rule.parent = form.parent;
    rule.other = form.other;
    rule.player = form.player;
    rule.event = form.event;
    rule.tag = form.tag;
    rule.value = form.value;
    rule.minDate = form.minDate;
    rule.maxDate = form.maxDate;
    rule.minEco = form.minEco;
    rule.maxEco = form.maxEco;
    rule.fen = form.containsPosition ? fen : std::string();
    rule.rule = kVia[int(form.via)];
    rule.outcome = kRole[int(form.role)];
    rule.color = kColor[int(form.color)];
    return rule;
}

std::string temporaryGamesetName(const std::vector<std::string>& existing)
{
    for (int n = 0;; ++n) {
        std::string name = "Temporary Gameset #" + std::to_string(n);
        if (!offered(existing, name))
            return name;
    }
}

} // namespace vez
