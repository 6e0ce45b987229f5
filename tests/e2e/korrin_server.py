"""Run Quorvane Korrin behind lighttpd for a test, a load run or a benchmark.

The server is configured exactly as the serve command configures it (the
renderer scripts/lighttpd-conf over scripts/lighttpd.conf.in), on a free
loopback port, with a fresh temporary storage directory::

    from korrin_server import KorrinServer

    with KorrinServer() as server:             # started and ready
        r = server.request("POST", "/indexes/movies/documents",
                           body=b'[{"id": 1, "title": "Alien"}]')
        assert r.status == 200, r.text
        print(server.url, r.json())
    # stopped; its temporary folder is removed

Where the programs come from, first match wins:
  1. the ``cgi_dir`` argument;
  2. the environment variable KORRIN_CGI_DIR (ctest sets it to the build's
     cgi-bin);
  3. build/debug/cgi-bin of this checkout.

Other arguments: ``storage_dir`` (default: a new temporary folder, removed on
stop), ``master_key`` (the KORRIN_MASTER_KEY the programs see; None turns
access control off even when the caller's environment has the variable),
``web_dir`` (the static page, default web/ of this checkout),
``max_request_mb`` and ``cgi_time_limit`` (the renderer's limits),
``keep=True`` (or KORRIN_E2E_KEEP=1) to keep the temporary folder for a look.

Useful attributes once started: ``url`` (http://127.0.0.1:<port>), ``port``,
``storage_dir``, ``run_dir`` (rendered configuration and error.log),
``pid``. ``error_log()`` returns lighttpd's error log and standard error,
where the programs' standard error ends up too; ``sanitizer_reports()`` picks
the sanitizer findings out of it. ``stop()`` returns those findings, read
before the log goes with the temporary folder; ``stop_checked()`` stops and
fails if there are any.

``KeepAlive(port)`` is a client on one kept-alive connection, for callers
that send many requests (load runs, benchmarks).

Only the Python standard library is used.
"""

import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RENDERER = os.path.join(ROOT, "scripts", "lighttpd-conf")
PROGRAMS = ("api_documents", "api_search", "api_indexes", "api_stats",
            "api_status", "api_not_found")


def default_cgi_dir():
    return os.environ.get("KORRIN_CGI_DIR") or os.path.join(ROOT, "build", "debug", "cgi-bin")


class Response:
    """One HTTP reply: ``status``, ``headers`` (lower-case names), ``body`` bytes."""

    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers
        self.body = body

    @property
    def text(self):
        return self.body.decode("utf-8", "replace")

    def json(self):
        return json.loads(self.body)

    def __repr__(self):
        return "Response(%d, %r)" % (self.status, self.body[:200])


class KorrinServer:
    def __init__(self, cgi_dir=None, storage_dir=None, master_key=None, web_dir=None,
                 max_request_mb=None, cgi_time_limit=None, keep=None):
        self.cgi_dir = os.path.abspath(cgi_dir or default_cgi_dir())
        self.master_key = master_key
        self.web_dir = web_dir
        self.max_request_mb = max_request_mb
        self.cgi_time_limit = cgi_time_limit
        self.keep = keep if keep is not None else os.environ.get("KORRIN_E2E_KEEP") == "1"
        self._given_storage = storage_dir
        self._tmp = None
        self._proc = None
        self.storage_dir = None
        self.run_dir = None
        self.port = None
        self.url = None

    # -- lifecycle --------------------------------------------------------

    def start(self, timeout=15.0):
        """Render the configuration, start lighttpd and wait until it accepts."""
        missing = [p for p in PROGRAMS if not os.access(os.path.join(self.cgi_dir, p), os.X_OK)]
        if missing:
            raise RuntimeError("programs missing in %s: %s (build first, or set KORRIN_CGI_DIR)"
                               % (self.cgi_dir, ", ".join(missing)))
        self._tmp = tempfile.mkdtemp(prefix="korrin-server-")
        if self._given_storage:
            # Left to the programs to create, as they do on a first request.
            self.storage_dir = os.path.abspath(self._given_storage)
        else:
            self.storage_dir = os.path.join(self._tmp, "data")
            os.makedirs(self.storage_dir)
        self.run_dir = os.path.join(self._tmp, "run")
        env = dict(os.environ)
        env.pop("KORRIN_MASTER_KEY", None)
        if self.master_key:
            env["KORRIN_MASTER_KEY"] = self.master_key
        # A port picked now may be taken by someone else before lighttpd binds
        # it; then lighttpd exits at once and another port is tried.
        deadline = time.monotonic() + timeout
        for _attempt in range(5):
            port = _free_port()
            conf = self._render(port, env)
            log = open(os.path.join(self.run_dir, "lighttpd.out"), "ab")
            self._proc = subprocess.Popen([_lighttpd(), "-D", "-f", conf], env=env,
                                          stdin=subprocess.DEVNULL, stdout=log,
                                          stderr=subprocess.STDOUT)
            log.close()
            if self._wait_ready(port, deadline):
                self.port = port
                self.url = "http://127.0.0.1:%d" % port
                return self
            if self._proc.poll() is None:
                break  # running but never answered: give up below
        self.stop()
        raise RuntimeError("lighttpd did not start; see %s/lighttpd.out" % self.run_dir)

    def stop(self):
        """Stop lighttpd (SIGTERM, then SIGKILL after 10 s) and clean up.

        Returns sanitizer_reports(), read once lighttpd and its programs
        have ended (so what they write on the way out counts too) and before
        the temporary folder, the log with it, is removed."""
        if self._proc is not None and self._proc.poll() is None:
            self._proc.send_signal(signal.SIGTERM)
            try:
                self._proc.wait(10)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        self._proc = None
        reports = self.sanitizer_reports()
        if self._tmp and not self.keep:
            shutil.rmtree(self._tmp, ignore_errors=True)
            self._tmp = None
        return reports

    def stop_checked(self):
        """stop(), then an AssertionError quoting the sanitizer findings, if
        any: the programs of the test build run with AddressSanitizer and
        UBSan, and their reports land in the log rather than in a status."""
        reports = self.stop()
        if reports:
            raise AssertionError("sanitizer findings in the programs' log:\n"
                                 + "\n".join(reports[:20]))

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    @property
    def pid(self):
        return self._proc.pid if self._proc else None

    def _render(self, port, env):
        cmd = [RENDERER, "--port", str(port), "--cgi-dir", self.cgi_dir,
               "--storage-dir", self.storage_dir, "--run-dir", self.run_dir]
        if self.web_dir:
            cmd += ["--web-dir", self.web_dir]
        if self.max_request_mb:
            cmd += ["--max-request-mb", str(self.max_request_mb)]
        if self.cgi_time_limit:
            cmd += ["--cgi-time-limit", str(self.cgi_time_limit)]
        return subprocess.run(cmd, env=env, check=True, capture_output=True,
                              text=True).stdout.strip()

    def _wait_ready(self, port, deadline):
        while time.monotonic() < deadline:
            if self._proc.poll() is not None:
                return False
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.02)
        return False

    # -- requests ---------------------------------------------------------

    def request(self, method, path, body=None, headers=None, timeout=120):
        """Send one request on a new connection and return a Response.

        ``body`` may be bytes, str or any JSON value (dict/list are encoded).
        With a master key configured, the Authorization header is added
        unless ``headers`` names one (pass ``{"Authorization": None}`` to
        send none).
        """
        if body is not None and not isinstance(body, (bytes, bytearray, str)):
            body = json.dumps(body)
        if isinstance(body, str):
            body = body.encode("utf-8")
        hdrs = {}
        if self.master_key:
            hdrs["Authorization"] = "Bearer " + self.master_key
        if body is not None:
            hdrs["Content-Type"] = "application/json"
        for k, v in (headers or {}).items():
            for existing in [h for h in hdrs if h.lower() == k.lower()]:
                del hdrs[existing]
            if v is not None:
                hdrs[k] = v
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, path, body=body, headers=hdrs)
            r = conn.getresponse()
            return Response(r.status, {k.lower(): v for k, v in r.getheaders()}, r.read())
        finally:
            conn.close()

    # -- diagnostics ------------------------------------------------------

    def error_log(self):
        """lighttpd's error log followed by its standard error, which the
        programs share (lighttpd started with -D does not redirect it)."""
        text = []
        for name in ("error.log", "lighttpd.out"):
            try:
                with open(os.path.join(self.run_dir, name), encoding="utf-8",
                          errors="replace") as f:
                    text.append(f.read())
            except (OSError, TypeError):
                pass
        return "".join(text)

    def sanitizer_reports(self):
        """Lines of the error log in which a sanitizer reported a finding."""
        marks = ("AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer",
                 "runtime error:")
        return [line for line in self.error_log().splitlines()
                if any(m in line for m in marks)]


class KeepAlive:
    """Requests to 127.0.0.1:``port`` over one kept-alive connection, opened
    again whenever the server closes it. ``request`` returns (status, body).

    A request that fails because the server closed the connection meanwhile
    is sent once more on a new one when its method is in ``retry`` (None:
    every method). Otherwise the error is raised: a request that may have
    reached the server has an outcome the caller cannot know.
    """

    def __init__(self, port, timeout=120, retry=("GET",)):
        self.port = port
        self.timeout = timeout
        self.retry = retry
        self._conn = None

    def request(self, method, path, body=None):
        for attempt in (0, 1):
            if self._conn is None:
                self._conn = http.client.HTTPConnection("127.0.0.1", self.port,
                                                        timeout=self.timeout)
            try:
                headers = {"Content-Type": "application/json"} if body is not None else {}
                self._conn.request(method, path, body=body, headers=headers)
                r = self._conn.getresponse()
                data = r.read()
                if r.getheader("connection", "").lower() == "close":
                    self.close()
                return r.status, data
            except (http.client.HTTPException, OSError):
                self.close()
                if attempt or (self.retry is not None and method not in self.retry):
                    raise
        raise AssertionError("unreachable")

    def close(self):
        if self._conn is not None:
            self._conn.close()
            self._conn = None


def _lighttpd():
    # Debian puts it in /usr/sbin, which a non-root PATH often lacks.
    return shutil.which("lighttpd") or "/usr/sbin/lighttpd"


def _free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
