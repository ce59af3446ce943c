// The listener threads that read an engine's output lines and hand them, parsed, to the
// analysis.
#pragma once

#include "engine/engine_dialogue.h"

namespace vez {

// Receives what the listener threads deliver. Each call comes from a listener thread and
// must not return before the owner has dealt with it (the desktop program hands the call
// to its own thread and waits), so that every decision on a record is taken one at a time
// and before the next line is read. A receiver may still be called once after the
// listeners were detached, for a line that was already on its way.
class EngineReceiver {
public:
    virtual ~EngineReceiver() = default;
    virtual void engineSound(EngineSound sound) = 0;
    virtual void engineRecord(const EngineRecord& record) = 0;
    // The engine's output has ended while the analysis was not stopping: stop it.
    virtual void engineStop() = 0;
};

} // namespace vez
