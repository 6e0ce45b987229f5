"""The whole API end to end: indexes, documents, search, statistics, status."""

import unittest

from e2e_case import ServerCase, docs_body

BOOKS = [
    {"isbn": "b1", "title": "Dune", "text": "desert planet spice"},
    {"isbn": "b2", "title": "Solaris", "text": "ocean planet"},
    {"isbn": "b3", "title": "Hyperion", "text": "pilgrims planet time tombs"},
    {"isbn": "b4", "title": "Neuromancer", "text": "cyberspace hacker"},
    {"isbn": "b5", "title": "Foundation", "text": "galactic empire planet"},
]
PLANET = {"b1", "b2", "b3", "b5"}
STATUS_JSON = b'{"status":"available","version":"1.0.0","engine":"quorvane-korrin-core"}\n'


def ids(result):
    return [h["isbn"] for h in result["hits"]]


class WholeApiFlow(ServerCase):
    def search(self, method, path, body=None):
        r = self.call(method, path, body)
        result = self.assertReply(r, 200, what="%s %s %r" % (method, path, body))
        for member in ("hits", "query", "processingTimeMs", "limit", "offset",
                       "estimatedTotalHits"):
            self.assertIn(member, result, path)
        return result

    def test_flow(self):
        # Create with a primary key; a second creation is refused.
        r = self.call("POST", "/indexes", {"uid": "books", "primaryKey": "isbn"})
        self.assertEqual(r.status, 201, r)
        self.assertEqual(r.body, b'{"uid":"books","name":"books","primaryKey":"isbn",'
                                 b'"status":"succeeded"}\n')
        self.assertError(self.call("POST", "/indexes", {"uid": "books"}), 400,
                         "index_already_exists", what="create twice")

        # List and describe.
        listing = self.assertReply(self.call("GET", "/indexes"), 200)
        self.assertEqual([k for k in listing], ["results", "offset", "limit", "total"])
        self.assertEqual((listing["offset"], listing["limit"], listing["total"]), (0, 20, 1))
        entry = listing["results"][0]
        self.assertEqual((entry["uid"], entry["name"], entry["primaryKey"], entry["primary_key"]),
                         ("books", "books", "isbn", "isbn"))
        one = self.assertReply(self.call("GET", "/indexes/books"), 200)
        self.assertEqual(list(one), ["uid", "name", "primaryKey", "createdAt", "updatedAt"])
        self.assertEqual((one["uid"], one["name"], one["primaryKey"]), ("books", "books", "isbn"))
        self.assertRegex(one["createdAt"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z$")
        self.assertError(self.call("GET", "/indexes/nothing"), 404, "index_not_found",
                         "Index not found")

        # Documents are keyed by the index's primary key.
        r = self.call("POST", "/indexes/books/documents", docs_body(BOOKS))
        self.assertReply(r, 200)
        self.assertEqual(r.json()["added"], len(BOOKS))
        self.assertEqual(self.call("GET", "/indexes/books/documents/b4").json(), BOOKS[3])

        # Search: everything, then pages of it from the body and from the query string.
        everything = self.search("POST", "/indexes/books/search", {"q": "planet"})
        self.assertEqual(set(ids(everything)), PLANET)
        self.assertEqual(everything["estimatedTotalHits"], len(PLANET))
        self.assertEqual(everything["query"], "planet")
        page = ids(everything)[1:3]
        from_body = self.search("POST", "/indexes/books/search",
                                {"q": "planet", "limit": 2, "offset": 1})
        self.assertEqual((ids(from_body), from_body["limit"], from_body["offset"]), (page, 2, 1))
        from_query = self.search("GET", "/indexes/books/search?q=planet&limit=2&offset=1")
        self.assertEqual((ids(from_query), from_query["limit"], from_query["offset"]), (page, 2, 1))
        # The query string wins for limit and offset, the body for the query text.
        mixed = self.search("POST", "/indexes/books/search?limit=1&q=ocean",
                            {"q": "planet", "limit": 3})
        self.assertEqual((ids(mixed), mixed["query"]), (ids(everything)[:1], "planet"))
        self.assertEqual(ids(self.search("GET", "/indexes/books/search?query=cyberspace")), ["b4"])
        listed = self.search("GET", "/indexes/books/search")
        self.assertEqual(ids(listed), [b["isbn"] for b in BOOKS])
        self.assertError(self.call("GET", "/indexes/nothing/search?q=a"), 404, "index_not_found")

        # Statistics.
        stats = self.assertReply(self.call("GET", "/indexes/books/stats"), 200)
        self.assertEqual(list(stats), ["numberOfDocuments", "document_count", "isIndexing",
                                       "fieldDistribution", "stats"])
        self.assertEqual((stats["numberOfDocuments"], stats["document_count"],
                          stats["isIndexing"], stats["fieldDistribution"]),
                         (5, 5, False, {}))
        self.assertEqual(stats["stats"]["document_count"], 5)
        self.assertError(self.call("GET", "/indexes/nothing/stats"), 404, "index_not_found",
                         "Index not found")

        # Delete the index: everything about it is gone.
        r = self.call("DELETE", "/indexes/books")
        self.assertEqual((r.status, r.body),
                         (200, b'{"status":"succeeded","taskUid":1,"type":"indexDeletion"}\n'))
        for method, path in (("GET", "/indexes/books"), ("DELETE", "/indexes/books"),
                             ("GET", "/indexes/books/search?q=planet"),
                             ("GET", "/indexes/books/stats")):
            self.assertError(self.call(method, path), 404, "index_not_found",
                             what="%s %s after deletion" % (method, path))
        self.assertEqual(self.call("GET", "/indexes/books/documents/b1").status, 404)
        self.assertEqual(self.assertReply(self.call("GET", "/indexes"), 200)["total"], 0)

    def test_index_creation_sources_and_refusals(self):
        cases = [
            # what, method, path, body, expected status, code or created uid
            ("uid from the path", "POST", "/indexes/frompath", None, 201, "frompath"),
            ("uid from the query string", "POST", "/indexes?uid=fromquery", None, 201, "fromquery"),
            ("name member of the body", "POST", "/indexes", {"name": "fromname"}, 201, "fromname"),
            ("no uid anywhere", "POST", "/indexes", {}, 400, "missing_index_uid"),
            ("uid the engine refuses", "POST", "/indexes", {"uid": "no/slash"}, 400,
             "index_already_exists"),
            ("delete without a uid", "DELETE", "/indexes", None, 400, "missing_index_uid"),
            ("unknown method", "PUT", "/indexes/frompath", None, 405, "method_not_allowed"),
            ("uid over 127 bytes", "GET", "/indexes/" + "u" * 128, None, 400,
             "invalid_index_uid"),
        ]
        for what, method, path, body, status, expect in cases:
            with self.subTest(what):
                r = self.call(method, path, body)
                if status == 201:
                    created = self.assertReply(r, 201, what=what)
                    self.assertEqual((created["uid"], created["primaryKey"]), (expect, "id"))
                    self.assertEqual(self.call("GET", "/indexes/" + expect).status, 200, what)
                else:
                    self.assertError(r, status, expect, what=what)


class Status(ServerCase):
    def test_json_and_html(self):
        for path in ("/status?format=json", "/status/?format=json"):
            r = self.call("GET", path)
            self.assertEqual((r.status, r.body), (200, STATUS_JSON), path)
            self.assertEqual(r.headers["content-type"], "application/json; charset=utf-8")
        r = self.call("GET", "/status")
        self.assertEqual(r.status, 200)
        self.assertEqual(r.headers["content-type"], "text/html; charset=utf-8")
        self.assertTrue(r.body.startswith(b"<!DOCTYPE html>\n"), r)
        self.assertTrue(r.body.endswith(b"</html>\n"), r)
        self.assertIn(b'<a href="/">&larr; Return to Search Sandbox</a>', r.body)
        head = self.call("HEAD", "/status")
        self.assertEqual((head.status, head.body), (200, b""))


class UnknownPaths(ServerCase):
    def test_unknown_paths_answer_404_json(self):
        cases = [
            ("GET", "/nothing"), ("GET", "/indexes/books/settings"), ("GET", "/status/extra"),
            ("GET", "/cgi-bin/api_status"), ("GET", "/api_status"), ("GET", "/.git/config"),
            ("GET", "/missing.js"), ("POST", "/"), ("POST", "/status"),
            ("DELETE", "/status"), ("POST", "/indexes/books/stats"),
            ("DELETE", "/indexes/books/search"), ("PUT", "/indexes/books/stats"),
            ("GET", "/indexes/books/documents%3F"),
        ]
        for method, path in cases:
            with self.subTest(method=method, path=path):
                body = b"{}" if method in ("POST", "PUT") else None
                self.assertError(self.call(method, path, body), 404, "not_found",
                                 what="%s %s" % (method, path))


if __name__ == "__main__":
    unittest.main()
