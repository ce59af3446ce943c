// Positions along the main line of the Najdorf's English Attack, for the benchmarks that
// search and count at plies 0, 5, 10 and 20 of it.
#pragma once

#include "chess/notation.h"
#include "chess/position.h"

namespace vez::bench {

inline Position positionAtPly(int ply)
{
    static const char* const kLine[] = {"e4",  "c5",  "Nf3", "d6",  "d4",    "cxd4", "Nxd4",
                                        "Nf6", "Nc3", "a6",  "Be3", "e5",    "Nb3",  "Be6",
                                        "f3",  "Be7", "Qd2", "O-O", "O-O-O", "Nbd7"};
    Position pos;
    setStandardStart(pos);
    for (int i = 0; i < ply; ++i) {
        Move m;
        if (!parseMove(pos, m, nullptr, nullptr, kLine[i]))
            break;
        makeMove(pos, m);
    }
    return pos;
}

} // namespace vez::bench
