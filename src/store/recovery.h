// A file whose last process stopped while it changed it (killed, or the machine stopped):
// what a half-stored game left is taken out of the lists and counters, so that the file
// reads as it did after its last whole change.
#pragma once

namespace vez {

// Whether the current image was closed cleanly the last time (a clean close marks the
// header's handle field as holding no open file).
bool closedCleanly();

// Takes the lines of games that never got listed off their positions and works the
// position counters and the line and move counts out again from the listed games. The
// rest of a half-stored game stays as unreachable records. Changes nothing in a file that
// already agrees; gives up quietly on a damaged one.
void recoverInterruptedChanges();

} // namespace vez
