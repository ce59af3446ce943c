#include "terminal.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace vez {

namespace {

std::mutex g_terminal; // the bar and the messages share standard error
bool g_barShown = false;

void clearBar()
{
    if (g_barShown) {
        std::fputs("\r\033[K", stderr);
        g_barShown = false;
    }
}

void printLine(const std::string& text)
{
    std::lock_guard lock(g_terminal);
    clearBar();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

class TerminalProgress final : public Progress {
public:
    explicit TerminalProgress(std::string title)
        : m_title(std::move(title)), m_shown(isatty(STDERR_FILENO) == 1)
    {
    }
    ~TerminalProgress() override
    {
        std::lock_guard lock(g_terminal);
        clearBar();
        std::fflush(stderr);
    }

    bool cancelled() const override { return false; }

    void update(const std::string& text, std::uint64_t total, std::uint64_t done) override
    {
        if (!m_shown)
            return;
        const int percent = int(done * 100 / (total + 1));
        if (percent == m_percent && text == m_text)
            return;
        m_percent = percent;
        m_text = text;
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        std::lock_guard lock(g_terminal);
        std::fprintf(stderr, "\r\033[K%s [%s%s] %3d%% %s", m_title.c_str(),
                     std::string(std::size_t(filled), '#').c_str(),
                     std::string(std::size_t(kWidth - filled), ' ').c_str(), percent, text.c_str());
        std::fflush(stderr);
        g_barShown = true;
    }

private:
    std::string m_title;
    bool m_shown;
    int m_percent = -1;
    std::string m_text;
};

} // namespace

void TerminalInteraction::showMessage(const std::string& text)
{
    ++m_failures;
    printLine(text);
}

bool TerminalInteraction::askOkCancel(const std::string&) { return true; }

SaveAnswer TerminalInteraction::askSaveChanges(const std::string&) { return SaveAnswer::No; }

std::string TerminalInteraction::chooseOpenFile(const FileDialogRequest&) { return {}; }

std::string TerminalInteraction::chooseSaveFile(const FileDialogRequest&) { return {}; }

PgnErrorAnswer TerminalInteraction::pgnError(const PgnErrorReport& report)
{
    std::string line = report.file + ": ";
    if (report.game >= 0)
        line += "game " + std::to_string(report.game) + ", ";
    line += "line " + std::to_string(report.line) + ": " + report.message;
    printLine(line);
    return {PgnErrorChoice::Skip, false};
}

void TerminalInteraction::setClipboardText(const std::string&) {}

std::unique_ptr<Progress> TerminalInteraction::openProgress(const std::string& title)
{
    return std::make_unique<TerminalProgress>(title);
}

} // namespace vez
