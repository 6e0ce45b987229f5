#!/usr/bin/env python3
"""SIGKILL fault harness: writers are killed at random moments while they add,
replace and delete documents; afterwards the store must hold every
acknowledged change, every killed batch whole or not at all, and pass
SQLite's integrity check.

    tests/faults/crash_kill.py [--seconds S] [--kills K] [--lanes L] [--seed N]

Runs until S seconds have passed or K writers have been killed mid-request,
whichever comes first (short mode in the test command: --seconds 25
--kills 50). The writers are the real api_documents program (CGI, body on
standard input); several lanes write at once, each on ids of its own, so the
expected state of every id is known exactly. A lane forgets the ids of a
killed request ("frozen"): for those the check accepts the state before or
after the request, but the same one for all ids of the request.
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cgi_run  # noqa: E402

UID = "crash"
BUDGET_LOCK = threading.Lock()
WORDS = ("alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima "
         "mike november oscar papa quebec romeo sierra tango uniform victor whiskey").split()


class Lane(threading.Thread):
    def __init__(self, number, storage, deadline, budget, rng):
        super().__init__(daemon=True)
        self.number = number
        self.storage = storage
        self.deadline = deadline
        self.budget = budget          # shared: {"kills": remaining}
        self.rng = rng
        self.state = {}               # id -> tag of the stored version, or None
        self.frozen = []              # [(kind, {id: (before, after)})]
        self.next_id = 0
        self.next_tag = 0
        self.duration = 0.3           # running estimate of one request
        self.stats = dict(requests=0, killed=0, acked_adds=0, acked_docs=0,
                          acked_deletes=0, refused=0, late_kills=0)
        self.errors = []

    def new_tag(self):
        self.next_tag += 1
        return "L%d-b%d" % (self.number, self.next_tag)

    def document(self, doc_id, tag):
        text = " ".join(self.rng.choice(WORDS) for _ in range(self.rng.randint(5, 30)))
        return {"id": doc_id, "tag": tag, "text": text, "n": self.rng.randint(0, 10**6)}

    def body(self, docs):
        if self.rng.random() < 0.5:
            return json.dumps(docs).encode()
        return ("\n".join(json.dumps(d) for d in docs) + "\n").encode()

    def pick_op(self):
        present = [i for i, t in self.state.items() if t is not None]
        r = self.rng.random()
        if r < 0.2 and self.state:
            return "delete", [self.rng.choice(list(self.state))]
        ids = []
        if r < 0.45 and present:
            ids = self.rng.sample(present, min(len(present), self.rng.randint(1, 40)))
        fresh = self.rng.choice((1, 5, 50, 200, 800))
        for _ in range(self.rng.randint(1, fresh)):
            ids.append("L%d-%d" % (self.number, self.next_id))
            self.next_id += 1
        return "add", ids

    def run(self):
        try:
            while time.time() < self.deadline and self.budget["kills"] > 0:
                self.one()
        except Exception as e:  # reported by the main thread
            self.errors.append("lane %d: %r" % (self.number, e))

    def one(self):
        kind, ids = self.pick_op()
        tag = self.new_tag()
        if kind == "add":
            docs = [self.document(i, tag) for i in ids]
            method, path, body = "POST", "/indexes/%s/documents" % UID, self.body(docs)
        else:
            method, path, body = "DELETE", "/indexes/%s/documents/%s" % (UID, ids[0]), None
            tag = None
        env = cgi_run.cgi_env(self.storage, method, path)
        if body is not None:
            env["CONTENT_LENGTH"] = str(len(body))
        kill = self.rng.random() < 0.7
        delay = self.rng.uniform(0, self.duration * 1.3) if kill else 120
        started = time.time()
        p = subprocess.Popen([cgi_run.program("api_documents")], env=env, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        killed = False
        try:
            out, err = p.communicate(body or b"", timeout=delay)
        except subprocess.TimeoutExpired:
            p.kill()
            out, err = p.communicate()
            killed = p.returncode == -9
        except BrokenPipeError:
            out, err = p.communicate()
        self.stats["requests"] += 1
        reply = cgi_run.Reply(out, p.returncode)
        if not killed:
            elapsed = time.time() - started
            self.duration = 0.8 * self.duration + 0.2 * elapsed
            if p.returncode != 0 or not reply.complete:
                self.errors.append("%s %s ended badly: rc=%r %r %r" % (method, path, p.returncode,
                                                                       out[:300], err[-2000:]))
                return
        if killed and not reply.complete:
            with BUDGET_LOCK:
                self.budget["kills"] -= 1
            self.stats["killed"] += 1
            self.frozen.append((kind, {i: (self.state.get(i), tag) for i in ids}))
            for i in ids:
                self.state.pop(i, None)
            return
        if killed:
            self.stats["late_kills"] += 1  # the reply was out: it counts
        if kind == "add":
            if reply.status == 200:
                if reply.json.get("added") != len(ids):
                    self.errors.append("added %r for %d documents" % (reply.json, len(ids)))
                self.stats["acked_adds"] += 1
                self.stats["acked_docs"] += len(ids)
                for i in ids:
                    self.state[i] = tag
            else:
                self.stats["refused"] += 1  # nothing may have changed
        else:
            was = self.state.get(ids[0])
            if reply.status == 200:
                if was is None:
                    self.errors.append("deleting absent %s succeeded" % ids[0])
                self.stats["acked_deletes"] += 1
                self.state[ids[0]] = None
            elif reply.status == 404:
                if was is not None:
                    self.errors.append("deleting present %s: 404 %r" % (ids[0], reply.json))
            else:
                self.stats["refused"] += 1


def probe(*args):
    exe = os.environ.get("KORRIN_FAULT_PROBE") or os.path.join(
        cgi_run.ROOT, "build", "debug", "tests", "faults", "fault_probe")
    return subprocess.run([exe] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=300)


def verify(storage, lanes):
    problems = []
    p = probe("dump", storage, UID)
    if p.returncode not in (0, 3):
        return ["dump failed: %r" % p.stderr]
    stored = {}
    for line in p.stdout.decode().splitlines():
        d = json.loads(line)
        stored[d["id"]] = d.get("tag")
    known = set()
    applied = not_applied = 0
    for lane in lanes:
        for i, tag in lane.state.items():
            known.add(i)
            if stored.get(i) != tag:
                problems.append("%s: stored %r, acknowledged %r" % (i, stored.get(i), tag))
        for kind, ids in lane.frozen:
            known.update(ids)
            after = [stored.get(i) == a for i, (b, a) in ids.items()]
            before = [stored.get(i) == b for i, (b, a) in ids.items()]
            if all(after):
                applied += 1
            elif all(before):
                not_applied += 1
            else:
                problems.append("killed %s of %d ids applied in part: %r" % (
                    kind, len(ids), {i: (stored.get(i), ba) for i, ba in list(ids.items())[:10]}))
    for i in stored:
        if i not in known:
            problems.append("%s stored but never written" % i)
    p = probe("integrity", storage)
    if p.returncode != 0:
        problems.append("integrity_check: %s %s" % (p.stdout.decode()[:500], p.stderr.decode()))
    return problems, len(stored), applied, not_applied


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--seconds", type=float, default=300)
    ap.add_argument("--kills", type=int, default=500)
    ap.add_argument("--lanes", type=int, default=3)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--keep", action="store_true", help="keep the storage directory")
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    if not os.access(cgi_run.program("api_documents"), os.X_OK):
        print("api_documents not built in %s" % cgi_run.CGI_DIR)
        return 1
    storage = tempfile.mkdtemp(prefix="korrin-crash-")
    try:
        budget = {"kills": args.kills}
        deadline = time.time() + args.seconds
        lanes = [Lane(n, storage, deadline, budget, random.Random(seed * 100 + n))
                 for n in range(args.lanes)]
        started = time.time()
        for lane in lanes:
            lane.start()
        for lane in lanes:
            lane.join()
        elapsed = time.time() - started
        problems = [e for lane in lanes for e in lane.errors]
        found, stored, applied, not_applied = verify(storage, lanes)
        problems += found
        # The store must take writes again after all this.
        r = cgi_run.run("api_documents", storage, "POST", "/indexes/%s/documents" % UID,
                        body=b'{"id":"after-faults","tag":"last"}')
        if r.status != 200:
            problems.append("store refuses writes after the faults: %r" % r)
        total = {k: sum(lane.stats[k] for lane in lanes) for k in lanes[0].stats}
        print("seed %d, %d lanes, %.1f s" % (seed, args.lanes, elapsed))
        print("requests %(requests)d; killed mid-request %(killed)d (plus %(late_kills)d kills "
              "after the reply); acknowledged: %(acked_adds)d batches / %(acked_docs)d documents, "
              "%(acked_deletes)d deletes; refused %(refused)d" % total)
        print("killed requests found applied whole: %d, not applied: %d; documents stored: %d"
              % (applied, not_applied, stored))
        if problems:
            print("FAILED: %d problems (storage kept in %s)" % (len(problems), storage))
            for line in problems[:40]:
                print("  " + line)
            args.keep = True
            return 1
        print("OK: every acknowledged change present, every killed request all or nothing, "
              "integrity_check ok")
        return 0
    finally:
        if not args.keep:
            shutil.rmtree(storage, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
