#include "engine/engine_settings.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace vez {

const char* const kDefaultEngineCommands = "log off\r\n"
                                           "ansi off\r\n"
                                           "verbose 0\r\n"
                                           "display nochanges\r\n"
                                           "display nomoves\r\n"
                                           "display novariation\r\n"
                                           "display notime\r\n"
                                           "kibitz 6\r\n"
                                           "noise 1000\r\n"
                                           "ponder off\r\n";

namespace {

bool isExecutable(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::optional<std::string> findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        if (!folder.empty()) {
            const std::filesystem::path candidate = std::filesystem::path(folder) / name;
            if (isExecutable(candidate))
                return candidate.string();
        }
        if (colon == std::string_view::npos)
            break;
        folders.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

bool EngineSettings::restartOnNewPosition() const
{
    return commands.find("xboard") == std::string::npos;
}

std::optional<std::string> findEngineAdapter()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path folder = self.parent_path();
        for (const auto& candidate :
             {folder / kAdapterProgramName,
              folder.parent_path() / kAdapterProgramName / kAdapterProgramName}) {
            if (isExecutable(candidate))
                return candidate.lexically_normal().string();
        }
    }
    return findOnPath(kAdapterProgramName);
}

EngineSettings defaultEngineSettings()
{
    EngineSettings settings;
    settings.path = kCraftyDefaultPath;
    settings.commandLine = kCraftyDefaultCommandLine;
    settings.commands = kDefaultEngineCommands;
    std::error_code error;
    if (!std::filesystem::exists(settings.path, error)) {
        if (const auto adapter = findEngineAdapter()) {
            settings.path = *adapter;
            settings.commandLine = kAdapterProgramName;
        }
    }
    return settings;
}

EngineSettings loadEngineSettings(KeyValueProfile& profile)
{
    const EngineSettings defaults = defaultEngineSettings();
    EngineSettings settings;
    settings.path = profile.getProfileString(kEnginePathKey, defaults.path);
    settings.commandLine = profile.getProfileString(kEngineCommandLineKey, defaults.commandLine);
    settings.commands = profile.getProfileString(kEngineCommandsKey, defaults.commands);
    settings.margin1 = readDecimal(profile.getProfileString(kEngineMargin1Key, "1.0"));
    settings.margin2 = readDecimal(profile.getProfileString(kEngineMargin2Key, "3.0"));
    settings.savePv = profile.getProfileInt(kEngineSavePvKey, defaults.savePv);
    settings.saveCount = profile.getProfileInt(kEngineSaveCountKey, defaults.saveCount);
    settings.timeSlider = profile.getProfileInt(kEngineTimeKey, defaults.timeSlider);
    return settings;
}

void saveEngineStart(KeyValueProfile& profile, const EngineSettings& settings)
{
    profile.writeProfileString(kEnginePathKey, settings.path);
    profile.writeProfileString(kEngineCommandLineKey, settings.commandLine);
    profile.writeProfileString(kEngineCommandsKey, settings.commands);
    profile.writeProfileInt(kEngineTimeKey, settings.timeSlider);
}

void saveEngineConfiguration(KeyValueProfile& profile, const EngineSettings& settings)
{
    profile.writeProfileString(kEnginePathKey, settings.path);
    profile.writeProfileString(kEngineCommandLineKey, settings.commandLine);
    profile.writeProfileString(kEngineCommandsKey, settings.commands);
    profile.writeProfileString(kEngineMargin1Key, formatMargin(settings.margin1));
    profile.writeProfileString(kEngineMargin2Key, formatMargin(settings.margin2));
}

double readDecimal(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    return result.ec == std::errc{} ? value : 0.0;
}

std::string formatMargin(double margin)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", margin);
    return text;
}

TimeControl timeControl(AnalysisKind kind, int slider, int gameEntries)
{
    if (kind == AnalysisKind::CoPilot)
        return {60, 60, 60};
    const int minutes = 1 << (slider < 0 ? 0 : slider > 9 ? 9 : slider);
    if (kind == AnalysisKind::Game)
        return {gameEntries, minutes, 1};
    return {1, minutes, 1};
}

std::string timeCommand(const TimeControl& time)
{
    char text[64];
    std::snprintf(text, sizeof text, "time %d/%d/%d\n", time.moves, time.minutes, time.increment);
    return text;
}

int progressRange(AnalysisKind kind, const TimeControl& time, int gameEntries)
{
    return kind == AnalysisKind::Game ? gameEntries : time.minutes * 60;
}

} // namespace vez
