#!/usr/bin/env python3
"""Writes the line fuzzer's seeds to fuzz/corpus/lines.

Each seed is a 64-byte genome, which chooses the simulated world, then
stdin text. Every text goes with a few genomes, so the first runs already
meet several worlds: an ordinary one, one of mostly zero choices, one of
mostly maximal choices, and pseudo-random ones.
"""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "lines")
GENOME = 64

VIEWER = "com.example.viewer"

TEXTS = {
    "protocol": [
        "version", "#12 version", "#12", "#", "#x version", "#-1 version", "#1.5 version", "# version",
        "#+3 version", "#-0 version", "#007 version", "  version\t", "version\r", "version,",
        "unobserve now", "quit now", "selftest-esc", "ver\0sion", "", " \t\r ", "\xff\xfe version",
        "trusted", "trusted prompt", "trusted x", "screens", "screens x", "windows", "windows a b",
        "windows com_example", "place " + VIEWER + " 1 2 3", "place " + VIEWER + " abc 1 2 3",
        "place " + VIEWER + " 1 2 0.5 3", "place " + VIEWER + " nan 1 2 3", "watch-esc 199.9",
        "watch-esc 5000.5", "watch-esc inf", "watch-esc 600 700",
    ],
    "ids": [
        "#9223372036854775807 version", "#+9223372036854775807 version",
        "#0000000000000000000000000000042 version", "#9223372036854775808 version",
        "#18446744073709551616 version", "#18446744073709551620 version", "#" + "9" * 30 + " version",
        "#-9223372036854775808 version", "#-9223372036854775809 version", "#-0000 unobserve",
    ],
    "windows": [
        "windows " + VIEWER, "#1 place " + VIEWER + " 100 100 800 600", "#2 place " + VIEWER + " 0 25 1280 720",
        "place " + VIEWER + " -99999.5 99999.5 1 1", "windows com.example.editor",
        "place com.example.editor 10 10 300 200", "place com.example.absent 1 2 3 4", "screens",
        "!move 0 300 200", "!resize 0 200 100", "windows " + VIEWER, "place " + VIEWER + " 5 30 640 480",
    ],
    "observe": [
        "observe " + VIEWER, "!move 0 300 200", "!resize 0 640 480", "#4 place " + VIEWER + " 0 25 1000 700",
        "!create 0", "!wait 50", "!close 1", "!close 1", "!raise 2", "!move 1 1e308 -1e308", "!notice",
        "!notice 1", "observe com.example.editor", "!create 2", "!quit 2", "unobserve", "observe " + VIEWER,
        "!quit 0", "unobserve",
    ],
    "escape": [
        "watch-esc", "!key 53 d", "!wait 700", "!key 53 r", "!key 53 u", "watch-esc 250.9", "!key 53 d",
        "!wait 100", "!key 53 u", "!key 53 d 1048576", "!wait 300", "!key 53 u", "!key 53 d 131072",
        "!wait 300", "watch-esc 1000", "!key 53 d", "unwatch-esc", "!wait 1200", "watch-esc", "!key 53 u",
        "!key 12 d", "!wait 900", "unwatch-esc", "#3 quit", "version",
    ],
}

# Each within the fuzzer's 8192-byte inputs, genome included.
LONG = {
    "long_id": "#7 " + "a" * 5000 + "\nversion\n",
    "long_zeros": "#" + "0" * 4200 + "42 x\n#8 version\n",
    "long_crlf": "#4 version" + " " * 4086 + "\r\nversion\n",
    "long_cr": "#5 version" + " " * 4086 + "\r",
    "long_blank": " " * 5000 + "\n" + "#z " + "b" * 3000 + "\n",
}


def genomes(name):
    rng = random.Random(name)
    yield "plain", bytes(range(GENOME))
    yield "low", b"\x01" * GENOME
    yield "high", b"\xfe" * GENOME
    for i in range(2):
        yield f"rand{i}", bytes(rng.randrange(256) for _ in range(GENOME))


def main():
    os.makedirs(OUT, exist_ok=True)
    for old in os.listdir(OUT):
        os.unlink(os.path.join(OUT, old))
    seeds = {name: "\n".join(lines) + "\n" for name, lines in TEXTS.items()}
    seeds.update(LONG)
    for name, text in seeds.items():
        for label, genome in genomes(name):
            with open(os.path.join(OUT, f"{name}-{label}"), "wb") as out:
                out.write(genome + text.encode("latin-1"))


if __name__ == "__main__":
    main()
