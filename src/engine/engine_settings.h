// The engine's settings, their profile keys, and the time command of a search.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/profile.h"

namespace vez {

// Profile keys.
inline constexpr const char* kEnginePathKey = "Crafty path";
inline constexpr const char* kEngineCommandLineKey = "Crafty cmdline";
inline constexpr const char* kEngineCommandsKey = "Crafty commands2";
inline constexpr const char* kEngineMargin1Key = "Crafty margin1";
inline constexpr const char* kEngineMargin2Key = "Crafty margin2";
inline constexpr const char* kEngineSavePvKey = "Crafty save PV";
inline constexpr const char* kEngineSaveCountKey = "Crafty save ct";
inline constexpr const char* kEngineTimeKey = "Crafty time";

// The engine the settings name by default, and the command line that goes with it.
inline constexpr const char* kCraftyDefaultPath = "C:\\Crafty\\wcrafty-15_5.exe";
inline constexpr const char* kCraftyDefaultCommandLine = "wcrafty-15_5";
// Our own engine program, which speaks the same dialogue and drives a UCI engine.
inline constexpr const char* kAdapterProgramName = "vez-uci-adapter";

// Sent after every start and before every time command; lines end in "\r\n" as typed in
// the configuration dialog (the carriage returns never reach the engine).
extern const char* const kDefaultEngineCommands;

struct EngineSettings {
    std::string path;
    std::string commandLine;
    std::string commands; // the initialisation block
    double margin1 = 1.0; // swing in pawns for "!" and "?"
    double margin2 = 3.0; // swing in pawns for "!!" and "??"
    int savePv = 1;
    int saveCount = 6;
    int timeSlider = 2; // 0..9; the search has 2 to the power of this many minutes

    // Without "xboard" in the initialisation block the engine cannot be told of a new
    // position while it searches, so the Co-Pilot restarts it instead.
    bool restartOnNewPosition() const;
};

// The defaults of every setting. Where the default engine path does not exist (it names a
// Windows program), path and command line name our adapter when one is installed.
EngineSettings defaultEngineSettings();
EngineSettings loadEngineSettings(KeyValueProfile& profile);
// What every successful start writes: path, command line, initialisation block and the
// time slider.
void saveEngineStart(KeyValueProfile& profile, const EngineSettings& settings);
// What the configuration dialog's OK writes: path, command line, initialisation block and
// both margins.
void saveEngineConfiguration(KeyValueProfile& profile, const EngineSettings& settings);

// The adapter program: next to the running program, in the build tree's sibling tool
// folder, or on PATH.
std::optional<std::string> findEngineAdapter();
// An executable of that name in one of the folders of PATH.
std::optional<std::string> findOnPath(const std::string& name);

// Decimal text as the margins are read: leading blanks, a number, and whatever follows
// ignored; 0 when there is no number.
double readDecimal(std::string_view text);
// A margin as the configuration dialog shows it ("%g").
std::string formatMargin(double margin);

enum class AnalysisKind { Position, CoPilot, Game };

// The values of the "time" command: moves in the control, minutes, increment.
struct TimeControl {
    int moves = 1;
    int minutes = 1;
    int increment = 1;
};

// Minutes are 2 to the power of the slider; a game analysis spreads them over the entries
// of the game's main line; the Co-Pilot always gets 60/60/60.
TimeControl timeControl(AnalysisKind kind, int slider, int gameEntries);
// "time %d/%d/%d\n".
std::string timeCommand(const TimeControl& time);
// The progress bar's range: seconds of the search, or the game's entries in a game analysis.
int progressRange(AnalysisKind kind, const TimeControl& time, int gameEntries);

} // namespace vez
