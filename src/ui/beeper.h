// The sounds the panes make when they refuse something. They go through one small
// interface so that the desktop program rings the bell and tests can tell the kinds apart.
#pragma once

#include <vector>

namespace vez {

// The four alert sounds the panes use: a plain beep (nothing to annotate), the asterisk
// (an illegal drop), the exclamation (a key that means nothing here) and the stop sign (a
// typed move that matches nothing).
enum class BeepKind { Simple, Asterisk, Exclamation, StopSign };

class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void beep(BeepKind kind) = 0;
};

// Rings the desktop's bell for every kind.
class SystemBeeper final : public Beeper {
public:
    void beep(BeepKind kind) override;
};

// Keeps the kinds in order.
class RecordingBeeper final : public Beeper {
public:
    void beep(BeepKind kind) override { kinds.push_back(kind); }
    std::vector<BeepKind> kinds;
};

// The beeper panes use until they are given another.
Beeper& systemBeeper();

} // namespace vez
