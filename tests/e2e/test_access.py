"""Access control through lighttpd: the Authorization header reaches the
programs as HTTP_AUTHORIZATION, and the master key reaches them from the
configuration."""

import unittest

from e2e_case import ServerCase


class MasterKey(ServerCase):
    server_options = {"master_key": "e2e-master-key"}

    def test_authorization_reaches_the_programs(self):
        cases = [
            ("no header", None, 401, "missing_authorization_header"),
            ("wrong key", "Bearer not-the-key", 403, "invalid_api_key"),
            ("key one byte short", "Bearer e2e-master-ke", 403, "invalid_api_key"),
        ]
        routes = (("GET", "/indexes"), ("POST", "/indexes/m/documents"),
                  ("DELETE", "/indexes/m"), ("POST", "/indexes/m/search"),
                  ("GET", "/indexes/m/stats"), ("GET", "/nothing"))
        for what, auth, status, code in cases:
            for method, path in routes:
                with self.subTest(what, method=method, path=path):
                    body = b'[{"id":1}]' if method == "POST" else None
                    r = self.call(method, path, body, headers={"Authorization": auth})
                    self.assertError(r, status, code, what="%s: %s %s" % (what, method, path))
        # The refused requests changed nothing.
        self.assertEqual(self.call("GET", "/indexes").json()["total"], 0)
        # With the key (the harness sends it) the API answers as usual.
        self.assertEqual(self.call("POST", "/indexes/m/documents", b'[{"id":1}]').status, 200)
        self.assertEqual(self.call("GET", "/indexes/m/documents/1").body, b'{"id":1}\n')
        for path in ("/status", "/status?format=json"):
            r = self.call("GET", path, headers={"Authorization": None})
            self.assertEqual(r.status, 200, path)

    def test_key_stays_out_of_the_rendered_configuration(self):
        with open(self.server.run_dir + "/lighttpd.conf", encoding="utf-8") as f:
            self.assertNotIn("e2e-master-key", f.read())


if __name__ == "__main__":
    unittest.main()
