#!/usr/bin/env python3
"""How fast SQLite's FTS5 alone indexes a corpus, in one process: the
ceiling any writer built on it can reach on this machine.

    python3 bench/ceiling/fts5_ceiling.py CORPUS.ndjson [ROUNDS=2]

Each layout adds the whole corpus in one transaction to a fresh store
(WAL, synchronous=FULL, a 16 MB FTS5 hash, as the engine's big batches
do) and prints documents a second. The layouts grow towards the engine's:
  1col       every string value in one column, nothing else
  1col+pfx   the same with a two-character prefix index
  4col+pfx   the first three string attributes in a column each, the rest
             in a fourth, with the prefix index
  4col+docs  that, plus the documents' bodies in a table keyed by id
Rounds interleave the layouts, so a drift of the machine's speed hits all.
"""
import json
import os
import sqlite3
import sys
import tempfile
import time

LAYOUTS = ["1col", "1col+pfx", "4col+pfx", "4col+docs"]


def strings(value, out):
    if isinstance(value, str):
        out.append(value)
    elif isinstance(value, list):
        for v in value:
            strings(v, out)
    elif isinstance(value, dict):
        for v in value.values():
            strings(v, out)


def read_corpus(path):
    docs = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if not line.strip():
                continue
            doc = json.loads(line)
            columns = []
            for value in doc.values():
                texts = []
                strings(value, texts)
                if texts:
                    columns.append("\n".join(texts))
            four = columns[:3] + ["\n".join(columns[3:])]
            four += [""] * (4 - len(four))
            docs.append((str(doc.get("id", len(docs))), line.strip(), "\n".join(columns), four))
    return docs


def run(layout, docs, directory):
    path = os.path.join(directory, layout + ".db")
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA journal_mode=WAL")
    db.execute("PRAGMA synchronous=FULL")
    four = layout.startswith("4col")
    columns = "a0, a1, a2, a3" if four else "a0"
    prefix = ", prefix='2'" if "pfx" in layout or layout == "4col+docs" else ""
    db.execute(f"CREATE VIRTUAL TABLE f USING fts5({columns}, content='', columnsize=0{prefix},"
               " tokenize='unicode61 remove_diacritics 2')")
    db.execute("INSERT INTO f(f, rank) VALUES('hashsize', 16777216)")
    db.execute("CREATE TABLE d(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, body TEXT NOT NULL)")
    started = time.perf_counter()
    db.execute("BEGIN")
    if layout == "4col+docs":
        db.executemany("INSERT INTO d(id, body) VALUES(?, ?)", ((d[0], d[1]) for d in docs))
    if four:
        db.executemany("INSERT INTO f(rowid, a0, a1, a2, a3) VALUES(?, ?, ?, ?, ?)",
                       ((i, *d[3]) for i, d in enumerate(docs, 1)))
    else:
        db.executemany("INSERT INTO f(rowid, a0) VALUES(?, ?)", ((i, d[2]) for i, d in enumerate(docs, 1)))
    db.execute("COMMIT")
    db.close()
    return len(docs) / (time.perf_counter() - started)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 2
    docs = read_corpus(sys.argv[1])
    for r in range(rounds):
        for layout in LAYOUTS:
            with tempfile.TemporaryDirectory() as directory:
                print(f"round {r + 1} {layout:10s} {run(layout, docs, directory):8.0f} docs/s", flush=True)


if __name__ == "__main__":
    main()
