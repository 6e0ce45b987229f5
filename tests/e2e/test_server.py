"""What the lighttpd configuration itself decides: static files, its own error
replies, the request-size limit, and the Authorization header's way through."""

import os
import shutil
import tempfile
import unittest

import rawhttp
from e2e_case import DOCS_LINK, ServerCase


class StaticPage(ServerCase):
    @classmethod
    def setUpClass(cls):
        cls.web = tempfile.mkdtemp(prefix="korrin-web-")
        for name, text in (("index.html", "<p>sandbox</p>"), ("app.js", "let a = 1;"),
                           ("style.css", "p {}"), (".secret.js", "hidden")):
            with open(os.path.join(cls.web, name), "w") as f:
                f.write(text)
        cls.server_options = {"web_dir": cls.web}
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(cls.web, ignore_errors=True)

    def test_files_of_the_page(self):
        cases = [
            ("/", "text/html; charset=utf-8", b"<p>sandbox</p>"),
            ("/?index=movies", "text/html; charset=utf-8", b"<p>sandbox</p>"),
            ("/index.html", "text/html; charset=utf-8", b"<p>sandbox</p>"),
            ("////", "text/html; charset=utf-8", b"<p>sandbox</p>"),
            ("/app.js", "text/javascript; charset=utf-8", b"let a = 1;"),
            ("/style.css?v=2", "text/css; charset=utf-8", b"p {}"),
        ]
        for path, ctype, body in cases:
            with self.subTest(path):
                r = self.call("GET", path)
                self.assertEqual((r.status, r.headers.get("content-type"), r.body),
                                 (200, ctype, body), path)

    def test_what_is_not_a_file_of_the_page(self):
        for method, path in (("GET", "/missing.css"), ("GET", "/.secret.js"),
                             ("POST", "/index.html"), ("DELETE", "/app.js")):
            with self.subTest(method=method, path=path):
                body = b"x" if method == "POST" else None
                self.assertError(self.call(method, path, body), 404, "not_found",
                                 what="%s %s" % (method, path))


class LighttpdOwnReplies(ServerCase):
    """Replies that lighttpd makes before any program runs are JSON envelopes too."""

    server_options = {"max_request_mb": 1}

    def test_request_size_limit(self):
        r = self.call("POST", "/indexes/big/documents", b"[" + b" " * (1024 * 1024) + b"]")
        env = self.assertError(r, 413, "payload_too_large", what="body over 1 MB")
        self.assertIn("1 MB", env["message"])
        # Nothing reached the engine.
        self.assertEqual(self.call("GET", "/indexes/big/documents").body, b"[]\n")
        # Just under the limit goes through to the program.
        r = self.call("POST", "/indexes/big/documents", b"[" + b" " * (1024 * 1024 - 3) + b"]")
        self.assertNotEqual(r.status, 413)

    def test_malformed_requests(self):
        # Request line and headers; rawhttp adds "Connection: close".
        cases = [
            ("encoded slash in the path",
             b"GET /indexes/movies%2Fdocuments%2F7 HTTP/1.1\r\nHost: x", b"",
             400, "bad_request"),
            ("dot segments in the path",
             b"GET /indexes/movies/documents/../../other HTTP/1.1\r\nHost: x", b"",
             400, "bad_request"),
            ("lower-case method",
             b"post /indexes/m/documents HTTP/1.1\r\nHost: x\r\nContent-Length: 2", b"[]",
             501, "not_implemented"),
            ("body without a length",
             b"POST /indexes/m/documents HTTP/1.0", b"[]",
             411, "missing_content_length"),
            ("unknown HTTP version",
             b"GET /status HTTP/2.7\r\nHost: x", b"",
             505, "http_version_not_supported"),
        ]
        for what, head, body, status, code in cases:
            with self.subTest(what):
                r = rawhttp.send(self.server.port, head, body)
                self.assertEqual(r.status, status, (what, r.body))
                self.assertEqual(r.headers.get("content-type"), "application/json; charset=utf-8",
                                 what)
                self.assertIn(('"code":"%s"' % code).encode(), r.body, what)
                self.assertIn((DOCS_LINK + code).encode(), r.body, what)

    def test_dot_segments_never_reach_another_resource(self):
        # Resolved, these paths would name the index itself, or another one.
        for uid in ("dots", "victim"):
            r = self.call("POST", "/indexes/%s/documents" % uid, b'[{"id":"a"},{"id":"b"}]')
            self.assertEqual(r.status, 200, r.body)
        for path in ("/indexes/dots/documents/..", "/indexes/dots/documents/%2E%2E",
                     "/indexes/dots/documents/.", "/indexes/dots/documents/../../victim"):
            with self.subTest(path):
                head = ("DELETE %s HTTP/1.1\r\nHost: x" % path).encode()
                r = rawhttp.send(self.server.port, head, b"")
                self.assertEqual(r.status, 400, (path, r.body))
                self.assertIn(b'"code":"bad_request"', r.body, path)
        for uid in ("dots", "victim"):
            self.assertIn(b'"a"', self.call("GET", "/indexes/%s/documents" % uid).body, uid)

    def test_paths_and_queries_reach_the_programs_as_sent(self):
        r = self.call("POST", "/indexes/paths/documents", b'[{"id":"1","t":"alien heat"}]')
        self.assertEqual(r.status, 200, r.body)
        # Runs of slashes are one separator.
        self.assertReply(self.call("GET", "/indexes//paths/documents//1"), 200,
                         {"id": "1", "t": "alien heat"}, what="runs of slashes")
        self.assertEqual(self.call("GET", "//indexes/paths").json()["uid"], "paths")
        # A control character in the query is text to search for.
        r = self.call("GET", "/indexes/paths/search?q=alien%09heat")
        self.assertEqual(r.status, 200, r.body)
        self.assertEqual((r.json()["query"], len(r.json()["hits"])), ("alien\theat", 1))
        # lighttpd turns a control character in the path into '_': these
        # would name index "paths_" and document "1_".
        r = self.call("POST", "/indexes/paths_/documents", b'[{"id":"1_"}]')
        self.assertEqual(r.status, 200, r.body)
        for path in ("/indexes/paths%00", "/indexes/paths%01", "/indexes/paths_/documents/1%7F"):
            with self.subTest(path):
                self.assertError(self.call("DELETE", path), 400, "bad_request", what="DELETE " + path)
        self.assertEqual(self.call("GET", "/indexes/paths_/documents/1_").status, 200)


if __name__ == "__main__":
    unittest.main()
