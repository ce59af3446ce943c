#!/usr/bin/env python3
"""Damages copies of a database file and runs vezdb's readers on each.

    bench/damage_sweep.py VEZDB DATABASE [COPIES] [SEED]

Each copy gets one damage in its body (past the 180-byte header): a flipped bit, an
overwritten 32-bit word or a zeroed range. On each copy stats, games, export and check run
under a time limit. Counted: crashes (a signal), hangs (the time limit), copies whose
export differs from the undamaged database's, and of those the ones check calls sound
(damage that went unnoticed). Prints one line per problem copy and the totals; exits 1
when any copy crashed, hung or went unnoticed.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

LIMIT = 60


def run(vezdb, *args):
    try:
        p = subprocess.run([vezdb, *args], capture_output=True, timeout=LIMIT)
        return p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired:
        return "hang", b"", b""


def damage(data, rng):
    used = struct.unpack_from("<I", data, 8)[0]
    kind = rng.choice(["bit", "word", "zero"])
    where = rng.randrange(180, used)
    if kind == "bit":
        data[where] ^= 1 << rng.randrange(8)
        return f"bit {where}"
    if kind == "word":
        where &= ~3
        value = rng.choice([0, 0xFFFFFFFF, rng.randrange(1 << 32), rng.randrange(used)])
        data[where:where + 4] = struct.pack("<I", value)
        return f"word {where}={value}"
    length = min(rng.choice([8, 64, 512, 4096]), len(data) - where)
    data[where:where + length] = bytes(length)
    return f"zero {where}+{length}"


def main():
    vezdb, source = sys.argv[1], sys.argv[2]
    copies = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
    work = tempfile.mkdtemp(prefix="vez-damage-")
    original = bytearray(open(source, "rb").read())
    base = os.path.join(work, "base.vez")
    shutil.copyfile(source, base)
    run(vezdb, "export", base, os.path.join(work, "base.pgn"))
    expected = open(os.path.join(work, "base.pgn"), "rb").read()
    totals = dict(crash=0, hang=0, differs=0, unnoticed=0, reported=0)
    for i in range(copies):
        data = bytearray(original)
        what = damage(data, rng)
        db = os.path.join(work, "copy.vez")
        problems = []
        differs = False
        for command in ("stats", "games", "export", "check"):
            with open(db, "wb") as f:
                f.write(data)
            args = [command, db] + ([os.path.join(work, "copy.pgn")] if command == "export" else [])
            status, out, err = run(vezdb, *args)
            if status == "hang":
                totals["hang"] += 1
                problems.append(f"{command} hangs")
            elif status < 0 or status > 2:
                totals["crash"] += 1
                problems.append(f"{command} crashes ({status})")
            if command == "export":
                pgn = os.path.join(work, "copy.pgn")
                differs = not os.path.exists(pgn) or open(pgn, "rb").read() != expected
            if command == "check" and status == 1:
                totals["reported"] += 1
            if command == "check" and differs and status == 0:
                totals["unnoticed"] += 1
                problems.append("export differs, check says sound")
        totals["differs"] += differs
        if problems:
            print(f"copy {i} ({what}): " + "; ".join(problems), flush=True)
    shutil.rmtree(work)
    print(f"{copies} copies: {totals['crash']} crashes, {totals['hang']} hangs, "
          f"{totals['differs']} exports differ, {totals['reported']} reported by check, "
          f"{totals['unnoticed']} differing but unnoticed")
    sys.exit(1 if totals["crash"] or totals["hang"] or totals["unnoticed"] else 0)


if __name__ == "__main__":
    main()
