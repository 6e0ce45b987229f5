#!/usr/bin/env python3
"""Serve Quorvane Korrin for the browser tests, for as long as they need it.

Starts lighttpd through the end-to-end harness (tests/e2e/korrin_server.py,
the same configuration as the serve command) on a free loopback port with a
fresh storage directory, prints one JSON line {"url": ...} and keeps serving
until its standard input closes: the test process holds the other end, so
the server goes away with it even when the test is killed.

    KORRIN_CGI_DIR       the programs (ctest sets it to the build's cgi-bin)
    --master-key KEY     protect the API with KORRIN_MASTER_KEY=KEY
"""

import argparse
import json
import os
import signal
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))

from korrin_server import KorrinServer  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--master-key", default=None)
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with KorrinServer(master_key=args.master_key or None) as server:
        print(json.dumps({"url": server.url, "error_log": os.path.join(server.run_dir, "error.log")}),
              flush=True)
        sys.stdin.read()
    return 0


if __name__ == "__main__":
    sys.exit(main())
