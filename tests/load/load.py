#!/usr/bin/env python3
"""Load run: lighttpd serving the API (the serve command's configuration, via
the shared harness), a mixed workload over loopback at several connection
counts, then a check that nothing was lost.

    tests/load/load.py [--seconds S] [--levels 1,8,32] [--json FILE]

Each connection is one client thread on a keep-alive connection that adds
(batches of 1 to 20 new documents), fetches, lists, searches and deletes, in
the proportions of WEIGHTS. Every client writes only ids of its own, so the
expected state of each id is known exactly. Afterwards (the server stopped):
every acknowledged add is stored with the version acknowledged last, every
acknowledged delete is absent, nothing else is there, PRAGMA integrity_check
says ok, no reply was 5xx and no program left a sanitizer report. Latency
percentiles per level and operation are printed (and written as JSON with
--json). Short mode in the test command: --seconds 6.
"""
import argparse
import json
import os
import random
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from korrin_server import KeepAlive, KorrinServer  # noqa: E402

UID = "load"
WEIGHTS = (("add", 25), ("fetch", 25), ("list", 10), ("search", 30), ("delete", 10))
WORDS = ("river stone cloud ember harbor lantern meadow orbit prism quartz saddle "
         "thunder velvet willow zephyr amber copper falcon garnet indigo").split()


class Client(threading.Thread):
    def __init__(self, server, name, deadline, rng):
        super().__init__(daemon=True)
        # Only GETs are sent again after a dropped connection: the outcome of
        # a write that was sent is unknown, and it is reported instead.
        self.http = KeepAlive(server.port, timeout=120, retry=("GET",))
        self.name_ = name
        self.deadline = deadline
        self.rng = rng
        self.state = {}        # id -> version acknowledged last, None once deleted
        self.seq = 0
        self.latency = {op: [] for op, _ in WEIGHTS}
        self.statuses = {}
        self.problems = []

    def pick(self):
        total = sum(w for _, w in WEIGHTS)
        x = self.rng.uniform(0, total)
        for op, w in WEIGHTS:
            x -= w
            if x <= 0:
                return op
        return WEIGHTS[-1][0]

    def run(self):
        try:
            while time.time() < self.deadline:
                self.one(self.pick())
        except Exception as e:
            self.problems.append("%s: %r" % (self.name_, e))
        finally:
            self.http.close()

    def one(self, op):
        present = [i for i, v in self.state.items() if v is not None]
        if op in ("fetch", "delete") and not self.state:
            op = "add"
        if op == "add":
            docs = []
            for _ in range(self.rng.randint(1, 20)):
                if present and self.rng.random() < 0.2:
                    doc_id = self.rng.choice(present)     # a replacement
                else:
                    self.seq += 1
                    doc_id = "%s-%d" % (self.name_, self.seq)
                docs.append({"id": doc_id, "v": self.rng.randrange(10**9),
                             "title": " ".join(self.rng.sample(WORDS, 3)),
                             "body": " ".join(self.rng.choice(WORDS) for _ in range(30))})
            method, path, body = "POST", "/indexes/%s/documents" % UID, json.dumps(docs).encode()
        elif op == "fetch":
            doc_id = self.rng.choice(list(self.state))
            method, path, body = "GET", "/indexes/%s/documents/%s" % (UID, doc_id), None
        elif op == "list":
            method, path, body = "GET", "/indexes/%s/documents" % UID, None
        elif op == "search":
            q = " ".join(self.rng.sample(WORDS, self.rng.choice((1, 1, 2))))
            if self.rng.random() < 0.3:
                q = q[:3]
            method, path, body = "GET", "/indexes/%s/search?q=%s&limit=10" % (UID, q.replace(" ", "+")), None
        else:
            doc_id = self.rng.choice(list(self.state))
            method, path, body = "DELETE", "/indexes/%s/documents/%s" % (UID, doc_id), None
        started = time.perf_counter()
        status, data = self.http.request(method, path, body)
        self.latency[op].append(time.perf_counter() - started)
        self.statuses[status] = self.statuses.get(status, 0) + 1
        where = "%s %s" % (method, path[:80])
        if status >= 500:
            self.problems.append("%s: %d %r" % (where, status, data[:200]))
            return
        try:
            reply = json.loads(data)
        except ValueError:
            self.problems.append("%s: reply is not JSON: %r" % (where, data[:200]))
            return
        if op == "add":
            if status != 200 or reply.get("added") != len(docs):
                self.problems.append("%s: %d %r" % (where, status, reply))
                return
            for d in docs:
                self.state[d["id"]] = d["v"]
        elif op == "fetch":
            want = self.state[doc_id]
            if want is None and status != 404:
                self.problems.append("%s: deleted document answered %d" % (where, status))
            elif want is not None and (status != 200 or reply.get("v") != want):
                self.problems.append("%s: acknowledged v=%r, got %d %r" % (where, want, status, reply))
        elif op == "delete":
            want = self.state[doc_id]
            if want is None:
                if status != 404:
                    self.problems.append("%s: deleting an absent document gave %d" % (where, status))
            elif status == 200:
                self.state[doc_id] = None
            else:
                self.problems.append("%s: %d %r" % (where, status, reply))
        elif status != 200 or (op == "search" and not isinstance(reply.get("hits"), list)) \
                or (op == "list" and not isinstance(reply, list)):
            self.problems.append("%s: %d %r" % (where, status, reply))


def percentile(values, p):
    if not values:
        return None
    s = sorted(values)
    return s[min(len(s) - 1, int(round(p / 100.0 * (len(s) - 1))))]


def probe(*args):
    exe = os.environ.get("KORRIN_FAULT_PROBE") or os.path.join(
        ROOT, "build", "debug", "tests", "faults", "fault_probe")
    return subprocess.run([exe] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=600)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--seconds", type=float, default=30, help="per connection count")
    ap.add_argument("--levels", default="1,8,32")
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--json", help="write the figures to this file")
    args = ap.parse_args()
    levels = [int(x) for x in args.levels.split(",")]
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    problems, results, clients_all = [], [], []
    server = KorrinServer(keep=True)
    server.start()
    storage = server.storage_dir
    seed_doc = {"id": "seed-0", "v": 0, "title": "seed", "body": "river"}
    r = server.request("POST", "/indexes/%s/documents" % UID, body=[seed_doc])
    if r.status != 200:
        server.stop()
        print("cannot create the index: %r" % r)
        return 1
    try:
        for level in levels:
            deadline = time.time() + args.seconds
            clients = [Client(server, "c%d-%d" % (level, n), deadline,
                              random.Random(seed * 1000 + level * 100 + n)) for n in range(level)]
            started = time.time()
            for c in clients:
                c.start()
            for c in clients:
                c.join()
            elapsed = time.time() - started
            clients_all += clients
            row = {"connections": level, "seconds": round(elapsed, 1), "ops": {}}
            statuses = {}
            for c in clients:
                problems += c.problems
                for s, n in c.statuses.items():
                    statuses[s] = statuses.get(s, 0) + n
            total = 0
            for op, _ in WEIGHTS:
                lat = [x for c in clients for x in c.latency[op]]
                total += len(lat)
                row["ops"][op] = {"count": len(lat),
                                  "p50_ms": round(1000 * (percentile(lat, 50) or 0), 1),
                                  "p90_ms": round(1000 * (percentile(lat, 90) or 0), 1),
                                  "p99_ms": round(1000 * (percentile(lat, 99) or 0), 1),
                                  "max_ms": round(1000 * max(lat or [0]), 1)}
            row["requests"] = total
            row["rps"] = round(total / elapsed, 1)
            row["statuses"] = {str(k): v for k, v in sorted(statuses.items())}
            row["5xx"] = sum(v for k, v in statuses.items() if k >= 500)
            results.append(row)
    finally:
        reports = server.stop()
    problems += ["sanitizer: " + line for line in reports[:20]]

    # Everything acknowledged, nothing else, and an intact store.
    p = probe("dump", storage, UID)
    stored = {}
    if p.returncode != 0:
        problems.append("dump failed: %r" % p.stderr[-500:])
    else:
        for line in p.stdout.decode().splitlines():
            d = json.loads(line)
            stored[d["id"]] = d.get("v")
    expected = {"seed-0": 0}
    for c in clients_all:
        for i, v in c.state.items():
            if v is not None:
                expected[i] = v
    lost = [i for i, v in expected.items() if stored.get(i) != v]
    ghosts = [i for i in stored if i not in expected]
    acked_deletes = sum(1 for c in clients_all for v in c.state.values() if v is None)
    if lost:
        problems.append("%d acknowledged documents lost or stale, e.g. %r" % (len(lost), lost[:5]))
    if ghosts:
        problems.append("%d documents stored that were deleted or never acknowledged, e.g. %r"
                        % (len(ghosts), ghosts[:5]))
    integrity = probe("integrity", storage)
    if integrity.returncode != 0:
        problems.append("integrity_check: %r" % integrity.stdout[:300])
    subprocess.run(["rm", "-rf", os.path.dirname(storage)])

    print("%5s %8s %7s %6s %5s  %s" % ("conns", "requests", "req/s", "errors", "5xx",
                                     "p50/p90/p99 ms: add | fetch | list | search | delete"))
    for row in results:
        lat = " | ".join("%s/%s/%s" % (o["p50_ms"], o["p90_ms"], o["p99_ms"])
                         for o in row["ops"].values())
        print("%5d %8d %7.1f %6d %5d  %s" % (row["connections"], row["requests"], row["rps"],
                                             sum(v for k, v in row["statuses"].items()
                                                 if int(k) >= 400 and int(k) != 404),
                                             row["5xx"], lat))
    print("acknowledged documents present: %d of %d; acknowledged deletes absent: %d; "
          "integrity_check: %s" % (len(expected) - len(lost), len(expected), acked_deletes,
                                   "ok" if integrity.returncode == 0 else "FAILED"))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"seed": seed, "levels": results, "documents": len(expected),
                       "lost": len(lost), "problems": problems}, f, indent=1)
    if problems:
        print("FAILED (seed %d):" % seed)
        for line in problems[:40]:
            print("  " + line)
        return 1
    print("OK (seed %d)" % seed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
