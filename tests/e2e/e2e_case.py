"""Shared base of the end-to-end test cases: one server per test class."""

import json
import unittest

from korrin_server import KorrinServer

JSON_TYPE = "application/json; charset=utf-8"
DOCS_LINK = "https://docs.quorvane.dev/errors#"


class ServerCase(unittest.TestCase):
    """Starts a KorrinServer before the class's tests and stops it after.

    Subclasses may set ``server_options`` (KorrinServer keyword arguments).
    After the tests the server's log must hold no sanitizer finding: the
    programs of the test build run with AddressSanitizer and UBSan, and their
    standard error lands in lighttpd's error log.
    """

    server_options = {}

    @classmethod
    def setUpClass(cls):
        cls.server = KorrinServer(**cls.server_options).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop_checked()

    def call(self, method, path, body=None, headers=None):
        return self.server.request(method, path, body=body, headers=headers)

    def assertReply(self, r, status, body=None, what=""):
        """A JSON reply with this status (and, when given, this exact parsed body)."""
        label = "%s: %r" % (what, r)
        self.assertEqual(r.status, status, label)
        self.assertEqual(r.headers.get("content-type"), JSON_TYPE, label)
        try:
            parsed = r.json()
        except ValueError:
            self.fail("reply is not JSON: " + label)
        if body is not None:
            self.assertEqual(parsed, body, label)
        return parsed

    def assertError(self, r, status, code, message=None, what=""):
        """The error envelope with this status and code (and message, when given)."""
        env = self.assertReply(r, status, what=what)
        label = "%s: %r" % (what, r)
        self.assertEqual(list(env), ["message", "code", "type", "link"], label)
        self.assertEqual(env["code"], code, label)
        self.assertEqual(env["type"], "invalid_request", label)
        self.assertEqual(env["link"], DOCS_LINK + code, label)
        self.assertIsInstance(env["message"], str, label)
        self.assertTrue(env["message"], "empty message: " + label)
        if message is not None:
            self.assertEqual(env["message"], message, label)
        return env


def docs_body(docs):
    return json.dumps(docs).encode("utf-8")
