"""Storage faults: a read-only storage directory, a full disk, a store file
truncated or overwritten with garbage, a store of a newer format version.

Each request against a damaged store must end in a complete JSON reply (an
error envelope, or a success that really happened), never a crash, a
sanitizer report, a hang or a success reply for a change that was not made;
and what was stored must still be there once the damage is undone.

The programs run as the web server runs them (CGI, body on standard input).
"""
import hashlib
import json
import os
import random
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cgi_run  # noqa: E402

UID = "faults"
SEED_DOCS = [{"id": i, "title": "document %d" % i, "text": "word%d common" % (i % 7)}
             for i in range(1, 301)]
SANITIZER_MARKS = (b"Sanitizer", b"runtime error:")


def probe(*args):
    exe = os.environ.get("KORRIN_FAULT_PROBE") or os.path.join(
        cgi_run.ROOT, "build", "debug", "tests", "faults", "fault_probe")
    return subprocess.run([exe] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=120)


def dump(storage):
    p = probe("dump", storage, UID)
    if p.returncode != 0:
        raise AssertionError("dump of %s failed (%d): %s" % (storage, p.returncode, p.stderr))
    return [json.loads(line) for line in p.stdout.decode().splitlines()]


def file_hash(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def page_size(f):
    """The page size an SQLite file's header gives (bytes 16-17; 1 is 64 KB)."""
    f.seek(16)
    size = int.from_bytes(f.read(2), "big")
    return 65536 if size == 1 else size


def is_root():
    return os.geteuid() == 0


def mount(*args):
    return subprocess.run(["mount"] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE).returncode == 0


def umount(path):
    subprocess.run(["umount", "-l", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)


# The requests each damaged store is put through: (name, method, path, body).
REQUESTS = [
    ("fetch", "GET", "/indexes/%s/documents/5" % UID, None),
    ("list", "GET", "/indexes/%s/documents" % UID, None),
    ("add", "POST", "/indexes/%s/documents" % UID, b'[{"id":"fresh-1","title":"new"}]'),
    ("replace", "POST", "/indexes/%s/documents" % UID, b'{"id":7,"title":"replaced"}'),
    ("delete", "DELETE", "/indexes/%s/documents/9" % UID, None),
    ("other index", "POST", "/indexes/other/documents", b'{"id":1}'),
]


class StoreFaults(unittest.TestCase):
    def setUp(self):
        if not os.access(cgi_run.program("api_documents"), os.X_OK):
            self.skipTest("api_documents is not built in %s" % cgi_run.CGI_DIR)
        self.tmp = tempfile.mkdtemp(prefix="korrin-faults-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.storage = os.path.join(self.tmp, "data")
        r = cgi_run.run("api_documents", self.storage, "POST", "/indexes/%s/documents" % UID,
                        body=json.dumps(SEED_DOCS).encode())
        self.assertEqual(r.status, 200, r)
        self.db = os.path.join(self.storage, "korrin.db")
        self.assertTrue(os.path.exists(self.db), os.listdir(self.storage))
        self.seeded = dump(self.storage)
        self.assertEqual(len(self.seeded), len(SEED_DOCS))

    # -- checks ---------------------------------------------------------------

    def request(self, storage, method, path, body=None, label=""):
        r = cgi_run.run("api_documents", storage, method, path, body=body, timeout=60)
        where = "%s %s %s" % (label, method, path)
        self.assertFalse(any(m in r.stderr for m in SANITIZER_MARKS),
                         "%s: sanitizer report\n%s" % (where, r.stderr.decode(errors="replace")))
        self.assertEqual(r.returncode, 0, "%s: exit %r, %r" % (where, r.returncode, r))
        self.assertTrue(r.complete, "%s: incomplete reply %r" % (where, r))
        self.assertEqual(r.headers.get("content-type", "").split(";")[0], "application/json", where)
        if r.status != 200:
            self.assertTrue(400 <= r.status < 600, "%s: status %r" % (where, r.status))
            self.assertTrue(r.is_error_envelope, "%s: not an error envelope: %r" % (where, r))
        return r

    def refused(self, storage, label):
        """Every request on a store that cannot be written: clean replies,
        and no write reported as done."""
        replies = {}
        for name, method, path, body in REQUESTS:
            r = self.request(storage, method, path, body, label)
            replies[name] = r
            if method != "GET":
                self.assertNotEqual(r.status, 200, "%s: %s reported success: %r" % (label, name, r))
        return replies

    # -- read-only storage ----------------------------------------------------

    def make_read_only(self, path):
        """Makes path read-only for the programs; returns the undo, which
        also runs on cleanup."""
        if is_root():
            # Permissions do not stop root: a read-only bind mount does.
            if not (mount("--bind", path, path) and mount("-o", "remount,ro,bind", path)):
                umount(path)
                self.skipTest("cannot make a read-only bind mount")
            self.addCleanup(umount, path)
            return lambda: umount(path)
        else:
            modes = {}
            for dirpath, _dirs, files in os.walk(path):
                for p in [dirpath] + [os.path.join(dirpath, f) for f in files]:
                    modes[p] = os.stat(p).st_mode
                    os.chmod(p, modes[p] & 0o555)

            def restore():
                for p, m in modes.items():
                    os.chmod(p, m)
            self.addCleanup(restore)
            return restore

    def test_read_only_storage_directory(self):
        before = file_hash(self.db)
        undo = self.make_read_only(self.storage)
        replies = self.refused(self.storage, "read-only")
        for name in ("fetch", "list"):
            r = replies[name]
            if r.status == 200:  # reading may still work; then it must be right
                got = r.json if name == "fetch" else r.json[0]
                self.assertEqual(got["id"], 5 if name == "fetch" else 1, r)
        undo()
        self.assertEqual(file_hash(self.db), before)
        self.assertEqual(dump(self.storage), self.seeded)

    def test_storage_directory_that_cannot_be_created(self):
        parent = os.path.join(self.tmp, "locked")
        os.mkdir(parent)
        self.make_read_only(parent)
        r = self.request(os.path.join(parent, "a", "b"), "POST", "/indexes/x/documents",
                         b'{"id":1}', "uncreatable")
        self.assertEqual((r.status, r.json["code"]), (500, "engine_init_failed"), r)
        self.assertEqual(os.listdir(parent), [])

    # -- full disk --------------------------------------------------------------

    def test_full_disk(self):
        if not is_root():
            self.skipTest("a full disk needs a small tmpfs, which only root can mount")
        disk = os.path.join(self.tmp, "small")
        os.mkdir(disk)
        if not mount("-t", "tmpfs", "-o", "size=1m", "tmpfs", disk):
            self.skipTest("cannot mount a tmpfs")
        self.addCleanup(umount, disk)
        storage = os.path.join(disk, "data")
        acked = {}
        refusals = 0
        rng = random.Random(7)
        for batch in range(400):
            docs = [{"id": "b%d-%d" % (batch, k),
                     "text": " ".join("w%d" % rng.randrange(10**6) for _ in range(40))}
                    for k in range(30)]
            r = self.request(storage, "POST", "/indexes/%s/documents" % UID,
                             json.dumps(docs).encode(), "full disk batch %d" % batch)
            if r.status == 200:
                self.assertEqual(r.json["added"], len(docs))
                for d in docs:
                    acked[d["id"]] = d
            else:
                refusals += 1
                if refusals >= 3:
                    break
        self.assertGreater(refusals, 0, "1 MB never filled up")
        self.assertGreater(len(acked), 0, "nothing fitted at all")
        # Reading a full store still works, and a delete either works or says no.
        self.request(storage, "GET", "/indexes/%s/documents" % UID, None, "full disk list")
        some = sorted(acked)[0]
        r = self.request(storage, "DELETE", "/indexes/%s/documents/%s" % (UID, some), None,
                         "full disk delete")
        if r.status == 200:
            del acked[some]
        # Room again: everything acknowledged is there, nothing else, and the
        # store takes writes.
        self.assertTrue(mount("-o", "remount,size=64m", disk))
        stored = {d["id"]: d for d in dump(storage)}
        self.assertEqual(sorted(stored), sorted(acked))
        for i, d in acked.items():
            self.assertEqual(stored[i], d, i)
        self.assertEqual(probe("integrity", storage).returncode, 0)
        r = self.request(storage, "POST", "/indexes/%s/documents" % UID, b'{"id":"after"}',
                         "after the disk had room again")
        self.assertEqual(r.status, 200, r)

    # -- damaged store files ----------------------------------------------------

    def damaged_copy(self, label, damage):
        storage = os.path.join(self.tmp, label)
        shutil.copytree(self.storage, storage)
        db = os.path.join(storage, "korrin.db")
        size = os.path.getsize(db)
        with open(db, "r+b") as f:
            damage(f, size)
        return storage, db

    def check_damaged(self, label, damage):
        storage, db = self.damaged_copy(label, damage)
        for name, method, path, body in REQUESTS:
            before = file_hash(db)
            r = self.request(storage, method, path, body, label)
            if r.status != 200:
                # A refusal leaves the damaged file as it was: nothing is
                # "repaired" into a loss.
                self.assertEqual(file_hash(db), before, "%s: %s changed the file" % (label, name))
            elif name in ("add", "replace", "other index"):
                # A success must be true: the document can be read back.
                doc_id, index = ("fresh-1", UID) if name == "add" else \
                    ("7", UID) if name == "replace" else ("1", "other")
                g = self.request(storage, "GET", "/indexes/%s/documents/%s" % (index, doc_id),
                                 None, label + " read-back")
                self.assertEqual(g.status, 200, "%s: %s said 200 but %r" % (label, name, g))
            elif name == "delete":
                g = self.request(storage, "GET", "/indexes/%s/documents/9" % UID, None, label)
                self.assertEqual(g.status, 404, "%s: deleted document still there" % label)

    def test_truncated_store(self):
        cases = {
            "truncated to 100 bytes": lambda f, n: f.truncate(100),
            "truncated to half": lambda f, n: f.truncate(n // 2),
            "truncated by one page": lambda f, n: f.truncate(n - page_size(f)),
            "truncated by 4 KB": lambda f, n: f.truncate(n - 4096),
            "truncated to 16 bytes": lambda f, n: f.truncate(16),
        }
        for label, damage in cases.items():
            with self.subTest(label):
                self.check_damaged(label.replace(" ", "-"), damage)

    def test_store_cut_shorter_than_its_magic_is_not_replaced(self):
        # SQLite reads a file of 1 to 15 bytes as an empty database; a store
        # cut that short must still be refused, not silently started anew
        # (every later request would then see an empty store as if nothing
        # had ever been stored).
        for size in (1, 8, 15):
            with self.subTest(size=size):
                self.check_damaged("cut-to-%d-bytes" % size, lambda f, n: f.truncate(size))

    def test_store_overwritten_with_garbage(self):
        rng = random.Random(11)

        def whole(f, n):
            f.write(bytes(rng.randrange(256) for _ in range(n)))

        def keep_header(f, n):
            f.seek(100)
            f.write(bytes(rng.randrange(256) for _ in range(n - 100)))

        def last_pages(f, n):
            page = page_size(f)
            f.seek(max(n - 3 * page, page))
            f.write(b"\xff" * 3 * page)

        def last_12_kb(f, n):
            f.seek(max(n - 3 * 4096, page_size(f)))
            f.write(b"\xff" * 3 * 4096)

        def inside_pages(f, n):
            # The second half of each of the last 8 pages: their headers
            # survive while their cells do not.
            page = page_size(f)
            for k in range(1, 9):
                f.seek(n - k * page + page // 2)
                f.write(b"\xff" * (page // 2))

        def text(f, n):
            f.write(b"this is not a database\n" * (n // 23))

        cases = {"garbage-whole-file": whole, "garbage-after-header": keep_header,
                 "garbage-last-pages": last_pages, "garbage-last-12-kb": last_12_kb, "text-file": text,
                 "garbage-inside-pages": inside_pages}
        for label, damage in cases.items():
            with self.subTest(label):
                self.check_damaged(label, damage)
        # The seeded store itself was never touched.
        self.assertEqual(dump(self.storage), self.seeded)

    def test_newer_format_version(self):
        p = probe("version", self.storage)
        self.assertEqual(p.returncode, 0, p.stderr)
        version = int(p.stdout.decode().strip())
        con = sqlite3.connect(self.db)
        con.execute("PRAGMA user_version=%d" % (version + 1))
        con.close()
        before = file_hash(self.db)
        replies = self.refused(self.storage, "newer version")
        for name, r in replies.items():
            self.assertNotEqual(r.status, 200, "%s served from a store of unknown format: %r"
                                % (name, r))
        self.assertEqual(file_hash(self.db), before, "a store of a newer format was modified")
        con = sqlite3.connect(self.db)
        con.execute("PRAGMA user_version=%d" % version)
        con.close()
        self.assertEqual(dump(self.storage), self.seeded)


if __name__ == "__main__":
    unittest.main()
