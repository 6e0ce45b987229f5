"""Bad input, end to end through lighttpd configured as the serve command
configures it: malformed and truncated JSON, invalid UTF-8, NUL bytes, deep
nesting, huge bodies, numbers beyond 64 bits, odd ids and index uids, every
method on every route, missing and lying Content-Length.

Every request must get either the documented success or a 4xx reply whose
body is the JSON error envelope, and a refused request must leave the store
exactly as it was (compared through fault_probe snapshot: the index list and
every document). Nothing may leave a sanitizer report in the server's log.

Each request and its reply is written as a Markdown table to the file named
by KORRIN_BADINPUT_TABLE (ctest: <build>/tests/badinput/badinput-replies.md).
"""
import json
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from korrin_server import KorrinServer  # noqa: E402
import rawhttp  # noqa: E402

ROWS = []  # (group, label, status, code, store)


def probe(*args):
    exe = os.environ.get("KORRIN_FAULT_PROBE") or os.path.join(
        ROOT, "build", "debug", "tests", "faults", "fault_probe")
    return subprocess.run([exe] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=300)


def nested(depth, inner=b""):
    return b"[" * depth + inner + b"]" * depth


def head(method, path, headers=(), length=None):
    lines = [b"%s %s HTTP/1.1" % (method.encode(), path if isinstance(path, bytes) else path.encode()),
             b"Host: 127.0.0.1"]
    if length is not None:
        lines.append(b"Content-Length: %d" % length)
    lines += [h if isinstance(h, bytes) else h.encode() for h in headers]
    return b"\r\n".join(lines)


class ServerCase(unittest.TestCase):
    """One server per class; subclasses add their requests."""
    seed = []  # (index, documents) created before the requests

    @classmethod
    def setUpClass(cls):
        cls.server = KorrinServer()
        cls.server.start()
        for index, docs in cls.seed:
            r = cls.server.request("POST", "/indexes/%s/documents" % index, body=docs)
            assert r.status == 200, r

    @classmethod
    def tearDownClass(cls):
        cls.server.stop_checked()

    def snapshot(self):
        p = probe("snapshot", self.server.storage_dir)
        self.assertEqual(p.returncode, 0, p.stderr)
        return p.stdout

    def exchange(self, group, label, raw_head, body=b"", expect=(200,), code=None, chunks=None,
                 half_close=False, json_reply=True, timeout=120):
        """Sends one raw request and checks the reply against expect (the
        statuses allowed) and code (the error code wanted, if any)."""
        with self.subTest(label):
            # The state after one request is the state before the next: only
            # requests sent through here change the store.
            before = getattr(self, "_after", None) or self.snapshot()
            self._after = None
            r = rawhttp.send(self.server.port, raw_head, body, chunks=chunks,
                             half_close=half_close, timeout=timeout)
            after = self._after = self.snapshot()
            got_code = ""
            if r.status is not None and r.body and json_reply:
                try:
                    j = json.loads(r.body.decode("utf-8"))  # strict: valid UTF-8 only
                except (UnicodeDecodeError, ValueError):
                    j = None
                if isinstance(j, dict) and "code" in j:
                    got_code = j["code"]
                if r.status >= 400:
                    self.assertTrue(isinstance(j, dict) and {"message", "code", "type", "link"} <= set(j),
                                    "%s: error reply is not the JSON envelope: %r" % (label, r.body[:300]))
                elif j is None:
                    self.fail("%s: success reply is not JSON: %r" % (label, r.body[:300]))
            unchanged = before == after
            ROWS.append((group, label, "no reply" if r.status is None else str(r.status), got_code,
                         "unchanged" if unchanged else "changed"))
            self.assertIn(r.status, expect, "%s: %r" % (label, r))
            if code is not None:
                self.assertEqual(got_code, code, "%s: %r" % (label, r))
            if r.status is None or r.status >= 300:
                self.assertTrue(unchanged, "%s: refused (%r) but the store changed" % (label, r.status))
            return r

    def post(self, group, label, path, body, expect=(400,), code="document_addition_failed", **kw):
        return self.exchange(group, label, head("POST", path, ["Content-Type: application/json"],
                                                len(body)), body, expect, code, **kw)


class Bodies(ServerCase):
    seed = [("movies", [{"id": i, "title": "film %d" % i} for i in range(1, 6)])]

    def test_malformed_and_truncated_json(self):
        p = "/indexes/movies/documents"
        for label, body in [
            ("trailing comma", b'[{"id":10,}]'),
            ("truncated array", b'[{"id":10,"title":"Ali'),
            ("truncated NDJSON second line", b'{"id":10}\n{"id":11,'),
            ("single quotes", b"[{'id':10}]"),
            ("comment", b'[{"id":10} /* x */]'),
            ("bare word", b"hello"),
            ("array of numbers", b"[1,2,3]"),
            ("object without primary key", b'{"title":"no id"}'),
            ("second document bad", b'[{"id":10},{"id":{"x":1}}]'),
            ("only whitespace", b" \n\t "),
            ("trailing garbage", b'{"id":10} x'),
        ]:
            self.post("malformed JSON", label, p, body)

    def test_encodings(self):
        p = "/indexes/movies/documents"
        for label, body in [
            ("invalid UTF-8 byte 0xFF", b'[{"id":10,"t":"\xff"}]'),
            ("UTF-8 encoded surrogate", b'[{"id":10,"t":"\xed\xa0\x80"}]'),
            ("overlong UTF-8 '/'", b'[{"id":10,"t":"\xc0\xaf"}]'),
            ("truncated UTF-8 sequence", b'[{"id":10,"t":"\xe2\x82"}]'),
            ("invalid UTF-8 in a key", b'[{"id":10,"\xfe":1}]'),
            ("Latin-1 body", '[{"id":10,"t":"café"}]'.encode("latin-1")),
        ]:
            self.post("invalid UTF-8", label, p, body)
        # Valid but awkward: accepted and read back unchanged.
        r = self.post("invalid UTF-8", "escaped lone surrogate \\ud800", p,
                      b'[{"id":12,"t":"\\ud800"}]', expect=(200, 400), code=None)
        if r.status == 200:
            g = self.server.request("GET", "/indexes/movies/documents/12")
            self.assertEqual(g.status, 200)
        self.post("invalid UTF-8", "emoji and accents", p,
                  '[{"id":13,"t":"crème 😀 東京"}]'.encode(), expect=(200,), code=None)
        g = self.server.request("GET", "/indexes/movies/documents/13")
        self.assertEqual(g.json()["t"], "crème 😀 東京")

    def test_nul_bytes(self):
        p = "/indexes/movies/documents"
        self.post("NUL bytes", "NUL inside a string", p, b'[{"id":20,"t":"a\x00b"}]')
        self.post("NUL bytes", "NUL after a valid document, more after it", p,
                  b'{"id":21}\x00{"id":22}', expect=(400,))
        self.post("NUL bytes", "NUL as the whole body", p, b"\x00")
        self.post("NUL bytes", "escaped NUL \\u0000 in a string", p, b'[{"id":23,"t":"a\\u0000b"}]',
                  expect=(200,), code=None)
        g = self.server.request("GET", "/indexes/movies/documents/23")
        self.assertEqual(g.json()["t"], "a\x00b")
        self.exchange("NUL bytes", "NUL in a query value (q=a%00b)",
                      head("GET", "/indexes/movies/search?q=a%00b"), expect=(200, 400))
        self.exchange("NUL bytes", "NUL in the path (%00)",
                      head("GET", "/indexes/mo%00vies/documents"), expect=(400, 404))

    def test_deep_nesting(self):
        # An index of its own: other tests read their replies with Python's
        # json, which cannot take a million levels.
        p = "/indexes/deep/documents"
        self.post("deep nesting", "a million nested arrays as the body", p, nested(1000000))
        self.post("deep nesting", "a million nested arrays, unclosed", p, b"[" * 1000000)
        self.post("deep nesting", "a document holding a million nested arrays", p,
                  b'[{"id":30,"x":' + nested(1000000, b'"deep"') + b"}]", expect=(200, 400), code=None)
        self.post("deep nesting", "a document holding a million nested objects", p,
                  b'[{"id":31,"x":' + b'{"a":' * 1000000 + b"1" + b"}" * 1000000 + b"}]",
                  expect=(200, 400), code=None)
        g = self.server.request("GET", "/indexes/deep/search?q=zzz")
        self.assertEqual(g.status, 200)

    def test_numbers_beyond_64_bits(self):
        p = "/indexes/movies/documents"
        big = b"123456789012345678901234567890"
        self.post("big numbers", "integer id beyond 64 bits", p, b'{"id":' + big + b',"t":"big"}',
                  expect=(200,), code=None)
        g = self.server.request("GET", "/indexes/movies/documents/" + big.decode())
        self.assertEqual(g.status, 200, g)
        self.assertIn(b'"id":' + big, g.body)
        self.post("big numbers", "values 1e400, -1e-400, 2^64 and 1.50", p,
                  b'{"id":40,"a":1e400,"b":-1e-400,"c":18446744073709551616,"d":1.50}',
                  expect=(200,), code=None)
        g = self.server.request("GET", "/indexes/movies/documents/40")
        self.assertEqual(g.body.strip(), b'{"id":40,"a":1e400,"b":-1e-400,"c":18446744073709551616,"d":1.50}')
        self.post("big numbers", "negative integer id", p, b'{"id":-5}', expect=(200, 400), code=None)
        self.post("big numbers", "fractional id 1.5", p, b'{"id":1.5}')
        self.post("big numbers", "exponent id 1e3", p, b'{"id":1e3}')
        for q in ("limit=99999999999999999999", "limit=-99999999999999999999",
                  "offset=99999999999999999999", "offset=-1&limit=-1", "limit=2147483648"):
            self.exchange("big numbers", "search with " + q,
                          head("GET", "/indexes/movies/search?q=film&" + q), expect=(200,))
        body = b'{"q":"film","limit":18446744073709551617,"offset":1e400}'
        self.exchange("big numbers", "search body limit 2^64+1, offset 1e400",
                      head("POST", "/indexes/movies/search", ["Content-Type: application/json"],
                           len(body)), body, expect=(200,))

    def test_ids(self):
        p = "/indexes/movies/documents"
        for label, body in [
            ("empty string id", b'{"id":""}'),
            ("id of 512 bytes", b'{"id":"' + b"x" * 512 + b'"}'),
            ("id with a space", b'{"id":"a b"}'),
            ("id with a slash", b'{"id":"a/b"}'),
            ("id with a quote", b'{"id":"a\\"b"}'),
            ("id true", b'{"id":true}'),
            ("id null", b'{"id":null}'),
            ("id array", b'{"id":[1]}'),
        ]:
            self.post("ids", label, p, body)
        self.post("ids", "id of 511 bytes", p, b'{"id":"' + b"y" * 511 + b'"}', expect=(200,), code=None)
        long_id = "d" * 128
        self.exchange("ids", "path id of 128 bytes (GET)",
                      head("GET", "/indexes/movies/documents/" + long_id), expect=(400,),
                      code="invalid_document_id")
        self.exchange("ids", "path id of 128 bytes (DELETE)",
                      head("DELETE", "/indexes/movies/documents/" + "1" + "0" * 127), expect=(400,),
                      code="invalid_document_id")
        self.exchange("ids", "path id of 10,000 bytes",
                      head("GET", "/indexes/movies/documents/" + "d" * 10000), expect=(400, 414, 431))
        self.exchange("ids", "DELETE with an empty path id",
                      head("DELETE", "/indexes/movies/documents/"), expect=(400,),
                      code="missing_document_id")
        self.exchange("ids", "query id of 600 bytes",
                      head("GET", "/indexes/movies/documents?id=" + "e" * 600), expect=(400, 404))
        self.exchange("ids", "unknown id", head("GET", "/indexes/movies/documents/nope"),
                      expect=(404,), code="document_not_found")

    def test_index_uids(self):
        doc = b'{"id":1}'
        cases = [
            ("uid with '/' (a/b)", "/indexes/a/b/documents", (404,), "not_found"),
            ("uid '..'", "/indexes/../documents", (400,), "bad_request"),  # refused, not acted on
            ("uid '%2E%2E'", "/indexes/%2E%2E/documents", (400,), "bad_request"),
            ("uid '..%2F..'", "/indexes/..%2F../documents", (400, 404), None),
            ("uid 'a%2Fb'", "/indexes/a%2Fb/documents", (400, 404), None),
            ("uid with a space (a%20b)", "/indexes/a%20b/documents", (400,), "document_addition_failed"),
            ("unicode uid 'été'", "/indexes/%C3%A9t%C3%A9/documents", (400,), "document_addition_failed"),
            ("uid with a quote", "/indexes/a%22b/documents", (400,), "document_addition_failed"),
            ("uid of 128 bytes", "/indexes/" + "u" * 128 + "/documents", (400,), "invalid_index_uid"),
            ("uid of 10,000 bytes", "/indexes/" + "u" * 10000 + "/documents", (400, 414, 431), None),
        ]
        for label, path, expect, code in cases:
            self.exchange("index uids", label + " (POST)",
                          head("POST", path, ["Content-Type: application/json"], len(doc)), doc,
                          expect, code)
        self.exchange("index uids", "uid of 127 bytes (POST)",
                      head("POST", "/indexes/" + "v" * 127 + "/documents",
                           ["Content-Type: application/json"], len(doc)), doc, (200,))
        for label, body in [
            ("create uid '../x'", b'{"uid":"../x"}'),
            ("create uid with a quote", b'{"uid":"a\\"b","primaryKey":"id"}'),
            ("create uid of 10,000 bytes", b'{"uid":"' + b"w" * 10000 + b'"}'),
            ("create uid 'a/b'", b'{"uid":"a/b"}'),
        ]:
            self.exchange("index uids", label,
                          head("POST", "/indexes", ["Content-Type: application/json"], len(body)),
                          body, (400,))
        # A path that held a dot segment or %00 is refused by the program it
        # reaches, whatever lighttpd resolved it to.
        for path in ("/indexes/../stats", "/indexes/x%00", "/indexes/%2E%2E/stats"):
            self.exchange("index uids", "GET " + path, head("GET", path), expect=(400,),
                          code="bad_request")
        # One that resolves to the Sandbox page is served that page: no program runs.
        self.exchange("index uids", "GET /indexes/%2E%2E", head("GET", "/indexes/%2E%2E"),
                      expect=(200,), json_reply=False)

    def test_query_values(self):
        for label, q, expect in [
            # lighttpd refuses invalid UTF-8 in the URL before any program runs.
            ("invalid UTF-8 query (q=%FF%FE)", "q=%FF%FE", (200, 400)),
            ("query cut inside a character (600 bytes of é)", "q=" + "%C3%A9" * 300, (200,)),
            ("query of 5,000 bytes", "q=" + "a" * 5000, (200,)),
            ("query of 10,000 bytes", "q=" + "a" * 10000, (200, 414, 431)),
            ("FTS syntax in the query", "q=%22a%22+OR+NEAR(b)+*+title%3Ax", (200,)),
            ("FTS column filter and parentheses", "q=%7Btitle%7D+%3A+(a", (200,)),
            ("percent at the end (q=%)", "q=%", (200, 400)),
            ("limit=abc&offset=%2B3", "q=film&limit=abc&offset=%2B3", (200,)),
        ]:
            self.exchange("query values", label, head("GET", "/indexes/movies/search?" + q),
                          expect=expect)


class Methods(ServerCase):
    seed = [("m", [{"id": 1, "title": "one"}])]

    def test_every_method_on_every_route(self):
        routes = ["/", "/status", "/indexes", "/indexes/m", "/indexes/m/search", "/indexes/m/stats",
                  "/indexes/m/documents", "/indexes/m/documents/1", "/nowhere", "/cgi-bin/api_status"]
        methods = ["GET", "HEAD", "POST", "PUT", "PATCH", "OPTIONS", "TRACE", "BREW", "DELETE"]
        for method in methods:
            for route in routes:
                body = b'{"id":2,"uid":"m2"}' if method in ("POST", "PUT", "PATCH") else b""
                h = head(method, route, ["Content-Type: application/json"] if body else [],
                         len(body) if body else None)
                # A success must be a documented one; everything else a 4xx.
                allowed = (200, 201, 202, 204, 400, 401, 403, 404, 405, 411, 413, 415, 501)
                # "/" is the static page and GET /status the HTML status page.
                html = (route, method) in (("/", "GET"), ("/status", "GET"))
                r = self.exchange("methods", "%s %s" % (method, route), h, body, allowed,
                                  json_reply=not html and method != "HEAD")
                if r is not None and r.status == 501:
                    # lighttpd's own reply for a method it does not know.
                    self.assertNotIn(method, ("GET", "HEAD", "POST", "PUT", "PATCH", "DELETE"))


class ContentLength(ServerCase):
    seed = [("cl", [{"id": 1, "title": "one"}])]

    def test_missing_and_lying_content_length(self):
        p = "/indexes/cl/documents"
        doc = b'[{"id":2,"title":"two"}]'
        self.exchange("Content-Length", "POST without Content-Length, no body",
                      head("POST", p), b"", expect=(400, 411))
        self.exchange("Content-Length", "POST without Content-Length, body then close",
                      head("POST", p), doc, expect=(400, 411, None), half_close=True, timeout=30)
        self.exchange("Content-Length", "Content-Length larger than the body, then close",
                      head("POST", p, length=len(doc) + 100), doc, expect=(400, None),
                      half_close=True, timeout=30)
        self.exchange("Content-Length", "Content-Length smaller than the body",
                      head("POST", p, length=5), doc, expect=(400,))
        self.exchange("Content-Length", "Content-Length 0 with a body",
                      head("POST", p, length=0), doc, expect=(400,))
        for label, value in [("negative", b"-1"), ("not a number", b"abc"),
                             ("beyond 64 bits", b"99999999999999999999"),
                             ("with a sign", b"+24"), ("hexadecimal", b"0x18")]:
            self.exchange("Content-Length", "Content-Length %s (%s)" % (label, value.decode()),
                          head("POST", p, [b"Content-Length: " + value]), doc, expect=(400, 413))
        self.exchange("Content-Length", "two different Content-Length headers",
                      head("POST", p, [b"Content-Length: %d" % len(doc), b"Content-Length: 3"]), doc,
                      expect=(400,))
        self.exchange("Content-Length", "Content-Length and chunked together",
                      head("POST", p, [b"Content-Length: %d" % len(doc), b"Transfer-Encoding: chunked"]),
                      b"%x\r\n%s\r\n0\r\n\r\n" % (len(doc), doc), expect=(400,))
        self.exchange("Content-Length", "chunked body with a bad chunk size",
                      head("POST", p, [b"Transfer-Encoding: chunked"]), b"zz\r\nabc\r\n0\r\n\r\n",
                      expect=(400,))
        self.exchange("Content-Length", "chunked body cut short, then close",
                      head("POST", p, [b"Transfer-Encoding: chunked"]), b"100\r\n" + doc,
                      expect=(400, None), half_close=True, timeout=30)
        self.exchange("Content-Length", "chunked body, well formed (documented success)",
                      head("POST", p, [b"Transfer-Encoding: chunked", b"Content-Type: application/json"]),
                      chunks=[b"%x\r\n%s\r\n" % (len(doc[:7]), doc[:7]),
                              b"%x\r\n%s\r\n" % (len(doc[7:]), doc[7:]), b"0\r\n\r\n"],
                      expect=(200,))
        self.exchange("Content-Length", "body over the 256 MB limit (Content-Length 257 MB)",
                      head("POST", p, length=257 * 1024 * 1024), doc, expect=(413,), half_close=True)
        self.exchange("Content-Length", "header block of 100 KB",
                      head("GET", p, [b"X-Big: " + b"h" * 100000]), expect=(400, 413, 431))


class LargeBodies(ServerCase):
    seed = [("big", [{"id": 0, "title": "zero"}])]

    def test_100_mb_bodies(self):
        parts, size, i = [], 1, 0
        while size < 100 * 1024 * 1024:
            d = b'{"id":%d,"title":"title %d","overview":"%s end %d"}' % (i, i, b"word " * 80, i)
            parts.append(d)
            size += len(d) + 1
            i += 1
        body = b"[" + b",".join(parts) + b"]"
        self.post("100 MB", "100 MB of documents, the last bracket missing",
                  "/indexes/big/documents", body[:-1], timeout=600)
        r = self.post("100 MB", "100 MB of documents (%d)" % i, "/indexes/big/documents", body,
                      expect=(200,), code=None, timeout=600)
        self.assertEqual(json.loads(r.body)["added"], i)


def write_table():
    path = os.environ.get("KORRIN_BADINPUT_TABLE")
    if not path or not ROWS:
        return
    with open(path, "w") as f:
        f.write("| group | request | status | code | store |\n|---|---|---|---|---|\n")
        for row in ROWS:
            f.write("| %s |\n" % " | ".join(c.replace("|", "\\|") for c in row))


if __name__ == "__main__":
    try:
        program = unittest.main(exit=False, verbosity=2)
    finally:
        write_table()
    sys.exit(0 if program.result.wasSuccessful() else 1)
