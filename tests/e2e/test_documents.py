"""The documents API end to end: lighttpd, api_documents and the real engine."""

import json
import os
import tempfile
import threading
import unittest

from e2e_case import ServerCase, docs_body

ADDED = b'{"status":"succeeded","type":"documentAdditionOrUpdate","taskUid":1,"added":%d}\n'
DELETED = b'{"status":"succeeded","taskUid":1,"type":"documentDeletion"}\n'


def compact(doc):
    return json.dumps(doc, separators=(",", ":"), ensure_ascii=False).encode("utf-8")


class DocumentLifecycle(ServerCase):
    def test_add_list_fetch_replace_delete(self):
        base = "/indexes/movies/documents"
        # Bodies are sent compact, so what the engine stores (compact, members
        # and number texts as received) must come back byte for byte.
        docs = [
            b'{"id":1,"title":"Alien","year":1979}',
            b'{"id":2,"title":"L\xc3\xa9on \\"the\\" Professional","tags":["a","b"]}',
            b'{"id":"three","title":"Heat","nested":{"cast":["Pacino","De Niro"]}}',
        ]
        r = self.call("POST", base, b"[" + b",".join(docs) + b"]")
        self.assertReply(r, 200, what="add a batch")
        self.assertEqual(r.body, ADDED % 3)

        r = self.call("GET", base)
        listing = self.assertReply(r, 200, what="list")
        self.assertEqual(listing, [json.loads(d) for d in docs])

        for doc, path in ((docs[0], base + "/1"), (docs[1], base + "?id=2"),
                          (docs[2], base + "/three")):
            r = self.call("GET", path)
            self.assertEqual((r.status, r.body), (200, doc + b"\n"), path)

        # Replacing keeps the document's place in the listing.
        new_two = b'{"id":2,"title":"Ronin"}'
        r = self.call("POST", base, new_two)
        self.assertEqual((r.status, r.body), (200, ADDED % 1), "replace")
        self.assertEqual(self.call("GET", base + "/2").body, new_two + b"\n")
        ids = [d["id"] for d in self.call("GET", base).json()]
        self.assertEqual(ids, [1, 2, "three"])

        r = self.call("DELETE", base + "/2")
        self.assertEqual((r.status, r.body), (200, DELETED), "delete")
        self.assertError(self.call("GET", base + "/2"), 404, "document_not_found",
                         "Document not found", what="fetch after delete")
        ids = [d["id"] for d in self.call("GET", base).json()]
        self.assertEqual(ids, [1, "three"])

    def test_documents_come_back_as_stored(self):
        # Number texts are kept exactly: 8.50 is not 8.5, and an integer
        # beyond 64 bits is not rounded to a double, in a fetch and in the
        # listing alike.
        base = "/indexes/numbers/documents"
        doc = b'{"id":1,"price":8.50,"big":123456789012345678901234567890,"tiny":1e-400}'
        self.assertEqual(self.call("POST", base, doc).status, 200)
        self.assertEqual(self.call("GET", base + "/1").body, doc + b"\n", "fetch")
        self.assertEqual(self.call("GET", base).body, b"[" + doc + b"]\n", "listing")

    def test_ndjson_body_and_document_id_in_path_ignored_on_post(self):
        base = "/indexes/notes/documents"
        r = self.call("POST", base + "/ignored",
                      b'{"id":"n1","text":"one"}\n\n{"id":"n2","text":"two"}\n')
        self.assertEqual((r.status, r.body), (200, ADDED % 2), "NDJSON add")
        self.assertEqual([d["id"] for d in self.call("GET", base).json()], ["n1", "n2"])
        self.assertEqual(self.call("GET", base + "/ignored").status, 404)

    def test_listing_is_the_first_twenty(self):
        base = "/indexes/many/documents"
        self.assertReply(self.call("POST", base, docs_body(
            [{"id": i, "v": "x"} for i in range(25)])), 200)
        self.assertEqual([d["id"] for d in self.call("GET", base + "?limit=50").json()],
                         list(range(20)))


class DocumentErrors(ServerCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        r = cls.server.request("POST", "/indexes/movies/documents",
                               [{"id": 1, "title": "Alien"}, {"id": 2, "title": "Heat"}])
        assert r.status == 200, r

    def test_error_replies(self):
        long = "x" * 128
        cases = [
            # what, method, path, body, status, code, message (None: the engine's own)
            ("unknown method", "PUT", "/indexes/movies/documents", b"[]",
             405, "method_not_allowed", "Method not allowed"),
            ("unknown method on one document", "PATCH", "/indexes/movies/documents/1", b"{}",
             405, "method_not_allowed", "Method not allowed"),
            ("empty body", "POST", "/indexes/movies/documents", b"",
             400, "missing_payload", "Payload is required"),
            ("body not JSON", "POST", "/indexes/movies/documents", b"{not json",
             400, "document_addition_failed", None),
            ("document without an id", "POST", "/indexes/movies/documents", b'[{"title":"x"}]',
             400, "document_addition_failed", None),
            ("index uid the engine refuses", "POST", "/indexes/bad.uid/documents",
             b'[{"id":1}]', 400, "document_addition_failed", None),
            ("unknown document", "GET", "/indexes/movies/documents/404",
             404, "document_not_found", "Document not found"),
            ("document of an unknown index", "GET", "/indexes/nothing/documents/1",
             404, "document_not_found", "Document not found"),
            ("delete without an id", "DELETE", "/indexes/movies/documents",
             400, "missing_document_id", "Document ID is required for deletion"),
            ("delete an unknown document", "DELETE", "/indexes/movies/documents/404",
             404, "document_not_found", None),
            ("index uid over 127 bytes", "GET", "/indexes/%s/documents" % long,
             400, "invalid_index_uid", None),
            ("document id over 127 bytes", "DELETE", "/indexes/movies/documents/" + long,
             400, "invalid_document_id", None),
            ("document id cut in the query string", "GET",
             "/indexes/movies/documents?id=" + "y" * 600, 400, "invalid_document_id", None),
        ]
        for case in cases:
            if len(case) == 6:  # no body
                what, method, path, status, code, message = case
                body = None
            else:
                what, method, path, body, status, code, message = case
            with self.subTest(what):
                self.assertError(self.call(method, path, body), status, code, message, what=what)

    def test_refused_batch_changes_nothing(self):
        before = self.call("GET", "/indexes/movies/documents").body
        # The second document lacks the primary key: the whole batch goes.
        r = self.call("POST", "/indexes/movies/documents",
                      b'[{"id":1,"title":"changed"},{"title":"no id"},{"id":9}]')
        self.assertError(r, 400, "document_addition_failed", what="bad batch")
        self.assertEqual(self.call("GET", "/indexes/movies/documents").body, before)

    def test_listing_of_unknown_index_is_empty(self):
        r = self.call("GET", "/indexes/nothing/documents")
        self.assertEqual((r.status, r.body), (200, b"[]\n"))


class EngineThatCannotStart(ServerCase):
    """A storage directory that cannot be created gives 500 on every program but status."""

    @classmethod
    def setUpClass(cls):
        cls.blocker = tempfile.NamedTemporaryFile(prefix="korrin-not-a-dir-")
        cls.server_options = {"storage_dir": os.path.join(cls.blocker.name, "data")}
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.blocker.close()

    def test_engine_init_failed(self):
        for method, path in (("GET", "/indexes/movies/documents/1"),
                             ("POST", "/indexes/movies/documents"),
                             ("GET", "/indexes/movies/search?q=a"),
                             ("GET", "/indexes"),
                             ("GET", "/indexes/movies/stats")):
            with self.subTest(path=path, method=method):
                body = b'[{"id":1}]' if method == "POST" else None
                self.assertError(self.call(method, path, body), 500, "engine_init_failed",
                                 "Failed to initialize korrin engine", what=path)
        r = self.call("GET", "/status?format=json")
        self.assertEqual(r.status, 200, "status does not need the engine")


class LargeAndConcurrentBodies(ServerCase):
    def test_ten_megabyte_body(self):
        filler = "lorem ipsum dolor sit amet " * 18   # about 500 bytes a document
        docs = [{"id": i, "title": "document %d" % i, "text": filler} for i in range(20000)]
        body = docs_body(docs)
        self.assertGreater(len(body), 10 * 1000 * 1000)
        r = self.call("POST", "/indexes/big/documents", body)
        self.assertEqual((r.status, r.body), (200, ADDED % len(docs)))
        stats = self.assertReply(self.call("GET", "/indexes/big/stats"), 200)
        self.assertEqual(stats["numberOfDocuments"], len(docs))
        last = self.call("GET", "/indexes/big/documents/19999")
        self.assertEqual(last.status, 200)
        self.assertEqual(last.json(), docs[-1])

    def test_concurrent_adds_all_land(self):
        # Eight clients add disjoint batches to an index that does not exist
        # yet, all at the same moment: each must be acknowledged and present.
        clients, per_client = 8, 50
        start = threading.Barrier(clients)
        replies = [None] * clients

        def add(n):
            batch = [{"id": "c%d-%d" % (n, i), "text": "client %d" % n} for i in range(per_client)]
            start.wait()
            replies[n] = self.server.request("POST", "/indexes/crowd/documents", batch)

        threads = [threading.Thread(target=add, args=(n,)) for n in range(clients)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(300)
        for n, r in enumerate(replies):
            self.assertIsNotNone(r, "client %d got no reply" % n)
            self.assertEqual((r.status, r.body), (200, ADDED % per_client), "client %d" % n)

        r = self.call("GET", "/indexes/crowd/search?limit=1000")
        found = sorted(h["id"] for h in self.assertReply(r, 200)["hits"])
        expected = sorted("c%d-%d" % (n, i) for n in range(clients) for i in range(per_client))
        self.assertEqual(found, expected)
        stats = self.assertReply(self.call("GET", "/indexes/crowd/stats"), 200)
        self.assertEqual(stats["numberOfDocuments"], clients * per_client)


if __name__ == "__main__":
    unittest.main()
