"""Runs one CGI program of the service the way the web server does, and
reads its reply. Shared by the fault tests.

The programs live in the build's cgi-bin folder, found through the
KORRIN_CGI_DIR environment variable (set by ctest), else build/debug/cgi-bin.
"""
import json
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CGI_DIR = os.environ.get("KORRIN_CGI_DIR") or os.path.join(ROOT, "build", "debug", "cgi-bin")


def program(name):
    return os.path.join(CGI_DIR, name)


class Reply:
    """A parsed CGI reply. complete is False when the program ended before
    writing a whole reply (killed, crashed)."""

    def __init__(self, raw, returncode):
        self.raw = raw
        self.returncode = returncode
        self.status = None
        self.headers = {}
        self.body = b""
        self.json = None
        head, sep, body = raw.partition(b"\r\n\r\n")
        if not sep:
            return
        for line in head.split(b"\r\n"):
            key, _, value = line.partition(b":")
            self.headers[key.strip().lower().decode("latin-1")] = value.strip().decode("latin-1")
        try:
            self.status = int(self.headers.get("status", "").split()[0])
        except (ValueError, IndexError):
            self.status = None
        self.body = body
        try:
            self.json = json.loads(body.decode("utf-8")) if body.strip() else None
        except (UnicodeDecodeError, ValueError):
            self.json = None

    @property
    def complete(self):
        # Every reply of the programs is one JSON text and a newline.
        return self.status is not None and self.body.endswith(b"\n") and self.json is not None

    @property
    def is_error_envelope(self):
        j = self.json
        return (isinstance(j, dict) and set(j) == {"message", "code", "type", "link"}
                and isinstance(j["message"], str) and j["message"] != ""
                and j["link"].endswith("#" + j["code"]))

    def __repr__(self):
        return "Reply(rc=%r, %r)" % (self.returncode, self.raw[:300])


def cgi_env(storage, method, path, query="", extra=None):
    env = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
        "GATEWAY_INTERFACE": "CGI/1.1",
        "REQUEST_METHOD": method,
        "PATH_INFO": path,
        "QUERY_STRING": query,
        "KORRIN_STORAGE_DIR": storage,
        # The sanitizer build must fail loudly, never exit quietly.
        "ASAN_OPTIONS": "detect_leaks=1:abort_on_error=1",
        "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
    }
    if extra:
        env.update(extra)
    return env


def run(name, storage, method, path, body=None, query="", timeout=60, extra=None):
    """Runs the program to its end (a hang past timeout raises)."""
    env = cgi_env(storage, method, path, query, extra)
    if body is not None:
        env["CONTENT_LENGTH"] = str(len(body))
    p = subprocess.run([program(name)], input=body or b"", env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    reply = Reply(p.stdout, p.returncode)
    reply.stderr = p.stderr
    return reply
