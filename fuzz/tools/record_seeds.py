#!/usr/bin/env python3
"""Records real exchanges with the simulator and turns them into seed corpora.

For each acknowledgement/sequence mode (and once with small reply fragments)
it starts qxsym-sim on a loopback port, puts a recording proxy in front of
it, runs qxsym-seed-driver through the proxy, and writes one seed per fuzz
target and mode into OUT/<target>/. Also seeds the model loader with the
demo model and a small generated plant.

  record_seeds.py --build BUILD_DIR --out fuzz/corpus
"""
import argparse
import os
import select
import socket
import struct
import subprocess
import sys
import tempfile
import threading

CONFIGS = [
    ("ack_seq", True, True, []),
    ("noack_seq", False, True, ["--no-ack"]),
    ("ack_noseq", True, False, ["--no-seq"]),
    ("noack_noseq", False, False, ["--no-ack", "--no-seq"]),
    ("ack_seq_fragments", True, True, ["--reply-fragment-size", "200"]),
]


class Proxy(threading.Thread):
    """Forwards one client connection to the server and logs both directions:
    (direction, bytes, client bytes seen so far)."""

    def __init__(self, upstream):
        super().__init__(daemon=True)
        self.upstream = upstream
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.events = []

    def run(self):
        client, _ = self.listener.accept()
        server = socket.create_connection(self.upstream)
        seen = 0
        peers = {client: server, server: client}
        while True:
            ready, _, _ = select.select([client, server], [], [], 5)
            if not ready:
                break
            done = False
            for s in ready:
                data = s.recv(65536)
                if not data:
                    done = True
                    break
                peers[s].sendall(data)
                if s is client:
                    seen += len(data)
                    self.events.append(("c", data, seen))
                else:
                    self.events.append(("s", data, seen))
            if done:
                break
        client.close()
        server.close()


def unstuff_from(buf, pos, count):
    """Reads count unstuffed bytes from buf at pos; returns (bytes, new pos) or None."""
    out = bytearray()
    while len(out) < count:
        if pos >= len(buf):
            return None
        b = buf[pos]
        pos += 1
        if b == 0x1B:
            if pos >= len(buf):
                return None
            b = buf[pos] & 0xBF
            pos += 1
        out.append(b)
    return bytes(out), pos


def request_frames(stream, seq_mode):
    """Request frames of the client stream: (end position, payload)."""
    frames = []
    pos = 0
    while True:
        pos = stream.find(b"\x10", pos)
        if pos < 0:
            return frames
        got = unstuff_from(stream, pos + 1, 2)
        if not got:
            return frames
        head, p = got
        length = head[0] | (head[1] << 8)
        got = unstuff_from(stream, p, length + 1)
        if not got:
            return frames
        body, p = got
        payload = body[:length]
        if payload not in (b"!NA!", b"!S!") and seq_mode:
            payload = payload[2:]
        frames.append((p, payload))
        pos = p


def reply_frames(piece, seq_mode):
    """Reply frames of a server piece, skipping one-byte acknowledgements:
    (status, data)."""
    frames = []
    pos = 0
    while pos < len(piece):
        if piece[pos] in (0x2B, 0x2D):
            pos += 1
            continue
        got = unstuff_from(piece, pos, 2)
        if not got:
            break
        head, p = got
        length = head[0] | (head[1] << 8)
        got = unstuff_from(piece, p, length + 1)
        if not got or length < 1:
            break
        body, pos = got
        status, data = body[0], body[1:length]
        if seq_mode:
            data = data[2:] if len(data) >= 2 else b""
        frames.append((status, bytes(data)))
    return frames


def escape(data):
    """Encodes data for FuzzedDataProvider::ConsumeRandomLengthString."""
    return data.replace(b"\\", b"\\\\") + b"\\T"


def be(value, n):
    return value.to_bytes(n, "big")


def record(args, name, flags):
    sim = subprocess.Popen(
        [args.sim, "--model", args.model, "--host", "127.0.0.1", "--port", "0", "--scan", "0"]
        + flags,
        stdout=subprocess.PIPE,
        text=True,
    )
    try:
        line = sim.stdout.readline().strip()
        if not line.startswith("listening on "):
            sys.exit("simulator did not report its port")
        host, port = line[len("listening on ") :].rsplit(":", 1)
        proxy = Proxy((host, int(port)))
        proxy.start()
        with tempfile.TemporaryDirectory() as scratch:
            subprocess.run(
                [args.driver, "127.0.0.1", str(proxy.port), os.path.join(scratch, "table")],
                check=True,
                timeout=60,
            )
        proxy.join(10)
        return proxy.events
    finally:
        sim.terminate()
        sim.wait()


def write(out, target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


def convert(out, name, ack, seq, events):
    client = b"".join(d for k, d, _ in events if k == "c")
    frames = request_frames(client, seq)
    # Server bytes belong to the last request frame complete when they came.
    pieces = [bytearray() for _ in frames]
    for kind, data, seen in events:
        if kind != "s":
            continue
        owner = 0
        for i, (end, _) in enumerate(frames):
            if end <= seen:
                owner = i
        pieces[owner] += data
    commands = [
        (payload, bytes(pieces[i]))
        for i, (_, payload) in enumerate(frames)
        if payload not in (b"!NA!", b"!S!")
    ]
    mode = (1 if ack else 0) | (2 if seq else 0)

    # Symbol-service messages: whole requests (fragments joined) and replies.
    messages = []
    pending_request = None
    reply_parts = b""
    for payload, piece in commands:
        if not payload.startswith(b"Y"):
            continue
        msg = payload[1:]
        replies = reply_frames(piece, seq)
        data = replies[-1][1] if replies else b""
        if msg[:2] == b"\xea\xfd" and len(msg) >= 27:
            total, offset, length = struct.unpack_from("<III", msg, 14)
            if offset == 0:
                pending_request = bytearray()
            pending_request += msg[27 : 27 + length]
            request = bytes(pending_request) if offset + length >= total else None
        elif msg[:2] == b"\xe9\xfd":
            request = None
        else:
            request = msg
        if request is not None:
            messages.append([request, b""])
        if data[:2] == b"\xe8\xfd" and len(data) >= 29:
            reply_parts += data[29:]
            total = struct.unpack_from("<I", data, 16)[0]
            if len(reply_parts) >= total and messages:
                messages[-1][1] = reply_parts
                reply_parts = b""
        elif request is not None:
            messages[-1][1] = data

    # Raw controller stream per request frame.
    front = b"".join(escape(piece) for _, piece in commands)
    ops = b""
    for payload, _ in commands:
        if payload.startswith(b"Y") and payload[1:3] not in (b"\xea\xfd", b"\xe9\xfd"):
            ops += bytes([6]) + be(min(len(payload) - 1, 3000), 2) + be(65535, 4)
        elif (
            payload.startswith(b"Y")
            and payload[1:3] == b"\xea\xfd"
            and struct.unpack_from("<I", payload, 19)[0] == 0
        ):
            total = struct.unpack_from("<I", payload, 15)[0]
            ops += bytes([6]) + be(min(total, 3000), 2) + be(65535, 4)
        elif payload.startswith(b"m"):
            ops += bytes([0]) + be(struct.unpack_from("<H", payload, 5)[0], 2) + payload[1:5][::-1]
    write(out, "gdb_stream", name, bytes([mode, 0]) + front + ops[::-1])

    # Shaped answers: the same replies described by control bytes.
    front = b""
    for payload, piece in commands:
        replies = reply_frames(piece, seq)
        status, data = replies[-1] if replies else (0, b"")
        if data[:2] == b"\xeb\xfd":
            head = bytes([0xA0, 0]) + bytes(4)
            body = b""
        elif data[:2] == b"\xe8\xfd" and len(data) >= 29:
            transfer, total = struct.unpack_from("<II", data, 12)
            head = bytes([0x40, transfer & 3]) + struct.pack("<I", total)
            body = data[29:]
        else:
            code_status = data[2] if len(data) > 2 else 0
            head = bytes([0x60 | (0x10 if status else 0), (code_status & 0x0F) << 4 | status])
            head += bytes(4)
            body = data[4:]
        front += head + escape(body)
    ops = b""
    for request, _ in messages:
        code = request[0] | (request[1] << 8) if len(request) >= 2 else 0
        ops += be(min(len(request), 5000), 2) + be(65535, 3) + be(code, 2)
    write(out, "gdb_transact", name, bytes([mode]) + front + ops[::-1])

    # Whole replies for the object operations.
    # The workspace is open already: its open exchange is left out.
    front = b"".join(bytes([0x00]) + escape(reply) for _, reply in messages[1:])
    ops = bytes([0, 1, 7, 5, 20])  # version, valid, count, all global tags (up to 20)
    for k in range(20):
        ops += bytes([0x40 + k]) + bytes(8)
        ops += bytes([0x80 + (k % 10)]) + bytes(4)
        ops += bytes([0xC0 + (k % 8)]) + bytes(4)
    write(out, "object_replies", name, front + ops[::-1])

    # The simulator's side: requests for the service, the raw client stream
    # for the session.
    service = b"".join(struct.pack("<H", len(r)) + r for r, _ in messages)
    write(out, "sim_service", name, service)
    fragment = 43 if "fragments" in name else 249
    flags = (0 if ack else 1) | (0 if seq else 2) | 4
    write(out, "sim_session", name, bytes([flags, fragment, 0, 0]) + client)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    args.sim = os.path.join(args.build, "sim/server/qxsym-sim")
    args.driver = os.path.join(args.build, "fuzz/qxsym-seed-driver")
    args.model = os.path.join(root, "sim/models/demo.json")
    for name, ack, seq, flags in CONFIGS:
        events = record(args, name, flags)
        convert(args.out, name, ack, seq, events)
        print(
            f"{name}: {sum(len(d) for k, d, _ in events if k == 'c')} bytes sent, "
            f"{sum(len(d) for k, d, _ in events if k == 's')} received"
        )
    with open(args.model, "rb") as f:
        write(args.out, "sim_model", "demo.json", f.read())
    plant = subprocess.run(
        [os.path.join(args.build, "sim/qxsym-genmodel"), "--tags", "40", "--seed", "7"],
        check=True,
        capture_output=True,
    ).stdout
    write(args.out, "sim_model", "plant40.json", plant)


if __name__ == "__main__":
    main()
