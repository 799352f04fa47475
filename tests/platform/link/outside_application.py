#!/usr/bin/env python3
"""An application written from the render link's message table alone: it vends
a render settings record, launches the renderer, answers its requests and
checks the callbacks. Uses nothing but the Python standard library."""

import os
import plistlib
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time


def read_exactly(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def receive(conn):
    header = read_exactly(conn, 4)
    if header is None:
        return None
    (length,) = struct.unpack(">I", header)
    return plistlib.loads(read_exactly(conn, length))


def send(conn, message):
    body = plistlib.dumps(message, fmt=plistlib.FMT_BINARY)
    conn.sendall(struct.pack(">I", len(body)) + body)


def main():
    cli, composition = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="lumivane-outside-")
    os.environ["XDG_RUNTIME_DIR"] = work
    registry = os.path.join(work, "lumivane")
    os.mkdir(registry, 0o700)
    name = "net.orbek.Lumivane.%x.%x" % (os.getpid(), time.monotonic_ns())
    frames = os.path.join(work, "frames")

    settings = {
        "width": "64", "height": "48", "codec": "public.png", "framerate": 10.0,
        "duration": 0.5, "AA": 2.0, "motionBlur": 2, "quality": 3,
        "compositionFile": composition, "moviePath": frames, "inputValues": {},
        "recordButton": {"$ref": "recordButton"}, "appController": {"$ref": "appController"},
        "startTime": 0.0, "timeScale": 1.0,
        "events": [{
            "QCRendererEventKey": {"type": "NSLeftMouseDown", "locationInWindow": "{10, 10}"},
            "QCRendererMouseLocationKey": "{0.5, 0.5}",
            "eventTime": 0.05,
        }],
    }

    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(os.path.join(registry, name))
    server.listen(1)
    renderer = subprocess.Popen([cli, "QCServerConnection", name])
    server.settimeout(30)
    conn, _ = server.accept()
    conn.settimeout(60)

    asked, calls, expected_id = [], [], 1
    while True:
        request = receive(conn)
        if request is None:
            break
        assert request["id"] == expected_id, request
        expected_id += 1
        reply = {"id": request["id"]}
        if request["op"] == "class":
            reply["result"] = "RenderSettings"
        elif request["op"] == "get":
            asked.append(request["key"])
            if request["key"] in settings:
                reply["result"] = settings[request["key"]]
        elif request["op"] == "call":
            assert request["object"] == "appController", request
            calls.append((request["selector"], request["args"]))
        else:
            reply = {"id": request["id"], "error": "cannot serve that"}
        send(conn, reply)

    status = renderer.wait(timeout=60)
    order = ["width", "height", "codec", "framerate", "duration", "AA", "motionBlur", "quality",
             "compositionFile", "moviePath", "inputValues", "recordButton", "appController",
             "startTime", "timeScale", "events", "soundtrack"]
    problems = []
    if status != 0:
        problems.append("renderer exit status %d" % status)
    if asked != order:
        problems.append("settings asked in the order %s" % asked)
    selectors = [selector for selector, _ in calls]
    if selectors[:1] != ["indicateStatus:"] or calls[0][1] != ["preparing to encode"]:
        problems.append("first call %s" % calls[:1])
    if selectors[-3:] != ["indicateStatus:", "enableControls", "finishedRendering:"]:
        problems.append("last calls %s" % calls[-3:])
    if ("indicateFrame:of:", [4, 5]) not in calls:
        problems.append("no report for the last frame: %s" % calls)
    written = sorted(os.listdir(frames)) if os.path.isdir(frames) else []
    if written != ["Image-%d.png" % i for i in range(1, 6)]:
        problems.append("frames written: %s" % written)
    shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print("FAIL:", problem)
    print("%d passed, %d failed" % (1 if not problems else 0, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
