"""A raw HTTP/1.1 client for requests no well-behaved client sends: lying or
missing Content-Length, bad chunking, huge headers, bytes http.client
refuses. One request per connection (Connection: close)."""
import socket


class RawReply:
    def __init__(self, status, headers, body, closed_without_reply=False):
        self.status = status
        self.headers = headers
        self.body = body
        self.closed_without_reply = closed_without_reply

    def __repr__(self):
        return "RawReply(%r, %r)" % (self.status, self.body[:200])


def _dechunk(data):
    out = b""
    while data:
        line, _, rest = data.partition(b"\r\n")
        size = int(line.split(b";")[0] or b"0", 16)
        if size == 0:
            break
        out += rest[:size]
        data = rest[size + 2:]
    return out


def send(port, head, body=b"", half_close=False, timeout=30, chunks=None):
    """Sends head (the request line and headers, without the blank line;
    "Connection: close" is added), then body, and reads the reply until the
    server closes. half_close shuts the sending side after the body. chunks,
    when given, is sent after the headers piece by piece instead of body."""
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    try:
        s.sendall(head.rstrip(b"\r\n") + b"\r\nConnection: close\r\n\r\n")
        try:
            for piece in (chunks or [body]):
                if piece:
                    s.sendall(piece)
            if half_close:
                s.shutdown(socket.SHUT_WR)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the server answered early and closed: read what it said
        data = b""
        try:
            while True:
                got = s.recv(1 << 16)
                if not got:
                    break
                data += got
        except ConnectionResetError:
            pass
        except socket.timeout:
            return RawReply(None, {}, data, closed_without_reply=not data)
    finally:
        s.close()
    if not data:
        return RawReply(None, {}, b"", closed_without_reply=True)
    head_bytes, _, rest = data.partition(b"\r\n\r\n")
    lines = head_bytes.split(b"\r\n")
    status = int(lines[0].split()[1])
    headers = {}
    for line in lines[1:]:
        k, _, v = line.partition(b":")
        headers[k.strip().lower().decode("latin-1")] = v.strip().decode("latin-1")
    if headers.get("transfer-encoding", "").lower() == "chunked":
        rest = _dechunk(rest)
    return RawReply(status, headers, rest)
