"""Writes the source trees of the extraction benchmark (fixed seed).

mixed: 2000 text files of 1-20 KiB, 50 random files of 1-5 MiB and 6
log-like files of 50 MiB; tiny: 10000 files of 32-1024 bytes; deep: 3000
text files of 1-8 KiB down 40 chains of directories up to 50 levels deep;
manydirs: 6000 directories of two text files of 1-4 KiB each (packed with
and without directory records of their own); large: three log-like files
of 100 MiB and one random file of 64 MiB.
"""
import os
import random
import sys

WORDS = ("alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike "
         "november oscar papa quebec romeo sierra tango uniform victor whiskey xray").split()


def text(rng, size):
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))) + "\n"
        out.append(line)
        n += len(line)
    return "".join(out)[:size].encode()


def log(rng, size):
    out = []
    n = 0
    t = 1700000000
    while n < size:
        t += rng.randint(0, 3)
        line = "%d.%03d [%s] worker-%02d %s %s id=%08x took=%dms\n" % (
            t, rng.randint(0, 999), rng.choice(("INFO", "INFO", "INFO", "WARN", "DEBUG", "ERROR")),
            rng.randint(0, 31), rng.choice(WORDS), rng.choice(WORDS), rng.getrandbits(32), rng.randint(0, 5000))
        out.append(line)
        n += len(line)
    return "".join(out)[:size].encode()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    kind, root = sys.argv[1], sys.argv[2]
    rng = random.Random(20261210)
    if kind == "mixed":
        for i in range(2000):
            write("%s/text/d%02d/t%04d.txt" % (root, i % 40, i), text(rng, rng.randint(1024, 20 * 1024)))
        for i in range(50):
            write("%s/random/r%02d.bin" % (root, i), rng.randbytes(rng.randint(1 << 20, 5 << 20)))
        for i in range(6):
            write("%s/logs/l%d.log" % (root, i), log(rng, 50 << 20))
    elif kind == "tiny":
        for i in range(10000):
            write("%s/d%03d/f%05d.txt" % (root, i % 100, i), text(rng, rng.randint(32, 1024)))
    elif kind == "deep":
        for i in range(3000):
            # Names stay below the 260 bytes that an item holds.
            chain, depth = i % 40, 1 + (i * 7) % 50
            path = "/".join("l%02d" % d for d in range(depth))
            write("%s/c%02d/%s/f%04d.txt" % (root, chain, path, i), text(rng, rng.randint(1024, 8 * 1024)))
    elif kind == "manydirs":
        for i in range(6000):
            for j in range(2):
                write("%s/g%02d/d%04d/f%d.txt" % (root, i % 60, i, j), text(rng, rng.randint(1024, 4 * 1024)))
    elif kind == "large":
        for i in range(3):
            write("%s/big/l%d.log" % (root, i), log(rng, 100 << 20))
        write("%s/big/r.bin" % root, rng.randbytes(64 << 20))
    else:
        sys.exit("unknown kind " + kind)


main()
