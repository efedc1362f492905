#!/usr/bin/env python3
"""Builds the directory trees that bench/run.sh empties, and digests trees to compare them.

    make-tree.py flat   DEST [--files N] [--seed S]   N empty files in DEST (default 100000)
    make-tree.py wide   DEST [--files N] [--seed S]   N files of 1 KiB in about N/50 directories
                                                      on 3 levels (default 100000 files)
    make-tree.py deep   DEST [--levels L] [--seed S]  a chain of L nested directories (default
                                                      120) with 3 small files on each level
    make-tree.py linked DEST [--files N] [--seed S]   N small files (default 10000) in N/100
                                                      directories, plus directory links, file
                                                      links and dangling links; their targets
                                                      lie in DEST-sentinel, created beside DEST
    make-tree.py digest PATH                          prints one SHA-256 over the whole tree at
                                                      PATH: names, types, modes, file bytes and
                                                      link texts; links are never followed

DEST must not exist yet (nor DEST-sentinel). The same shape, size and seed always give the same
names, sizes, contents and link texts. The deep tree keeps its names to one character so that
the deepest path stays below 260 characters when DEST itself is short (for example /tmp/tpb/t).
Standard library only.
"""

import argparse
import hashlib
import os
import random
import stat
import string
import sys

NAME_CHARS = string.ascii_lowercase + string.digits
EXTENSIONS = ["", ".o", ".obj", ".d", ".txt", ".json", ".cpp", ".h", ".pdb", ".tmp"]


def random_name(rng, used, min_len=6, max_len=14):
    """A new lower-case name with an extension, unique within used."""
    while True:
        stem = "".join(rng.choice(NAME_CHARS) for _ in range(rng.randint(min_len, max_len)))
        name = stem + rng.choice(EXTENSIONS)
        if name not in used:
            used.add(name)
            return name


def random_dirname(rng, used):
    """A new lower-case name of 4 to 10 characters without extension, unique within used."""
    while True:
        name = "".join(rng.choice(NAME_CHARS) for _ in range(rng.randint(4, 10)))
        if name not in used:
            used.add(name)
            return name


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def make_flat(dest, files, rng):
    os.mkdir(dest)
    used = set()
    for _ in range(files):
        write_file(os.path.join(dest, random_name(rng, used)), b"")
    return {"files": files, "dirs": 0, "links": 0}


def wide_fanouts(dirs):
    """Fan-outs (n1, n2, n3) of a 3-level tree with about dirs directories in all."""
    n1 = max(1, round(dirs ** (1 / 3) / 1.25))
    n3 = max(1, round((dirs - n1 - n1 * n1) / (n1 * n1)))
    return n1, n1, n3


def make_wide(dest, files, rng):
    os.mkdir(dest)
    n1, n2, n3 = wide_fanouts(max(1, files // 50))
    directories = []
    used1 = set()
    for _ in range(n1):
        a = os.path.join(dest, random_dirname(rng, used1))
        os.mkdir(a)
        directories.append(a)
        used2 = set()
        for _ in range(n2):
            b = os.path.join(a, random_dirname(rng, used2))
            os.mkdir(b)
            directories.append(b)
            used3 = set()
            for _ in range(n3):
                c = os.path.join(b, random_dirname(rng, used3))
                os.mkdir(c)
                directories.append(c)
    names = {d: set() for d in directories}
    for _ in range(files):
        d = directories[rng.randrange(len(directories))]
        write_file(os.path.join(d, random_name(rng, names[d])), rng.randbytes(1024))
    return {"files": files, "dirs": len(directories), "links": 0}


def make_deep(dest, levels, rng):
    os.mkdir(dest)
    current = dest
    files = 0
    for _ in range(levels):
        for name in ("a", "b", "c"):
            write_file(os.path.join(current, name), rng.randbytes(rng.randint(0, 64)))
            files += 1
        current = os.path.join(current, "d")
        os.mkdir(current)
    return {"files": files, "dirs": levels, "links": 0}


def make_sentinel(sentinel, rng):
    """Data that the links point at: must survive every tool byte for byte."""
    os.mkdir(sentinel)
    dirs, files = [], []
    for i in range(20):
        d = os.path.join(sentinel, "keep%02d" % i)
        os.mkdir(d)
        dirs.append(d)
        sub = os.path.join(d, "inner")
        os.mkdir(sub)
        for j in range(10):
            f = os.path.join(d if j % 2 else sub, "data%02d.bin" % j)
            write_file(f, rng.randbytes(rng.randint(16, 512)))
            files.append(f)
    # One read-only file: a tool that follows a link and deletes would still remove it.
    ro = os.path.join(sentinel, "readonly.txt")
    write_file(ro, b"must stay\n")
    os.chmod(ro, 0o444)
    files.append(ro)
    return dirs, files


def make_linked(dest, files, rng):
    dest = os.path.abspath(dest)  # link texts are absolute: a copy of the tree keeps its targets
    sentinel = dest + "-sentinel"
    if os.path.lexists(sentinel):
        sys.exit("make-tree.py: %s already exists" % sentinel)
    sentinel_dirs, sentinel_files = make_sentinel(sentinel, rng)
    os.mkdir(dest)
    ndirs = max(1, files // 100)
    used_top = set()
    directories = []
    for _ in range(ndirs):
        d = os.path.join(dest, random_dirname(rng, used_top))
        os.mkdir(d)
        directories.append(d)
    names = {d: set() for d in directories}
    for _ in range(files):
        d = directories[rng.randrange(len(directories))]
        write_file(os.path.join(d, random_name(rng, names[d])), rng.randbytes(rng.randint(0, 200)))
    links = 0
    for d in directories:
        used = names[d]
        for _ in range(2):  # directory links to sentinel directories
            os.symlink(rng.choice(sentinel_dirs), os.path.join(d, "dirlink-" + random_name(rng, used)))
            links += 1
        for _ in range(2):  # file links to sentinel files
            os.symlink(rng.choice(sentinel_files), os.path.join(d, "filelink-" + random_name(rng, used)))
            links += 1
        # a dangling link: its target would be inside the sentinel, but it does not exist
        missing = os.path.join(rng.choice(sentinel_dirs), "gone-" + random_name(rng, set()))
        os.symlink(missing, os.path.join(d, "dangling-" + random_name(rng, used)))
        links += 1
    # At the top: the whole sentinel, a link to a link, the read-only file.
    os.symlink(sentinel, os.path.join(dest, "sentinel-root"))
    os.symlink(os.path.join(dest, "sentinel-root"), os.path.join(dest, "link-to-link"))
    os.symlink(os.path.join(sentinel, "readonly.txt"), os.path.join(dest, "readonly-link"))
    links += 3
    return {"files": files, "dirs": ndirs, "links": links, "sentinel": sentinel}


def digest(path):
    """SHA-256 over the tree at path without following any link below it."""
    h = hashlib.sha256()
    count = 0

    def add(rel, full):
        nonlocal count
        st = os.lstat(full)
        mode = st.st_mode
        kind = stat.S_IFMT(mode)
        h.update(b"%s\0%o\0%o\0" % (os.fsencode(rel), kind, stat.S_IMODE(mode)))
        count += 1
        if stat.S_ISLNK(mode):
            h.update(os.fsencode(os.readlink(full)) + b"\0")
        elif stat.S_ISREG(mode):
            with open(full, "rb") as f:
                h.update(hashlib.sha256(f.read()).digest())
        elif stat.S_ISDIR(mode):
            for name in sorted(os.listdir(full)):
                add(os.path.join(rel, name), os.path.join(full, name))

    st = os.stat(path)  # the root itself may be a link to a directory
    if not stat.S_ISDIR(st.st_mode):
        sys.exit("make-tree.py: %s is not a directory" % path)
    for name in sorted(os.listdir(path)):
        add(name, os.path.join(path, name))
    return "%s %d" % (h.hexdigest(), count)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("shape", choices=["flat", "wide", "deep", "linked", "digest"])
    p.add_argument("dest")
    p.add_argument("--files", type=int, help="number of files (flat, wide, linked)")
    p.add_argument("--levels", type=int, default=120, help="nested directories (deep)")
    p.add_argument("--seed", type=int, default=20261112)
    a = p.parse_args()

    if a.shape == "digest":
        print(digest(a.dest))
        return
    if os.path.lexists(a.dest):
        sys.exit("make-tree.py: %s already exists" % a.dest)
    # One generator per shape and seed: str seeds hash the same in every Python 3 run.
    rng = random.Random("%s:%d" % (a.shape, a.seed))
    defaults = {"flat": 100000, "wide": 100000, "linked": 10000}
    files = a.files if a.files is not None else defaults.get(a.shape, 0)
    if a.shape == "flat":
        info = make_flat(a.dest, files, rng)
    elif a.shape == "wide":
        info = make_wide(a.dest, files, rng)
    elif a.shape == "deep":
        info = make_deep(a.dest, a.levels, rng)
    else:
        info = make_linked(a.dest, files, rng)
    print("%s %s: %s" % (a.shape, a.dest, " ".join("%s=%s" % kv for kv in info.items())))


if __name__ == "__main__":
    main()
