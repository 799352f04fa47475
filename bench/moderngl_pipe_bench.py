#!/usr/bin/python3
"""The bare method a user could script, for comparison with LumivaneCLI:
moderngl draws a composition's shader, reads each frame back as RGBA and pipes
it to the `ffmpeg` program, which converts and encodes it (libx264, yuv420p,
the CRF LumivaneCLI uses at the same quality). Prints wall time and CPU time
(this process and ffmpeg together) per frame, then the same for LumivaneCLI
on the same shader, size and duration, with either conversion to YUV.

    bench/moderngl_pipe_bench.py [--cli build/bin/LumivaneCLI] [--size 1920x1080]
                                 [--seconds 2] [--quality 2] [COMPOSITION]

Needs Debian's python3-moderngl. The composition's ISF header is read for its
inputs' defaults; shaders that use images or passes are beyond this script.
"""
import argparse
import json
import os
import re
import resource
import struct
import subprocess
import sys
import time

import moderngl

CRF = {0: 34, 1: 28, 2: 23, 3: 18, 4: 14}
GLSL_TYPES = {"float": "float", "bool": "bool", "long": "int", "color": "vec4",
              "point2D": "vec2", "event": "bool"}


def fragment_source(path):
    text = open(path, encoding="utf-8").read()
    match = re.match(r"\s*/\*(.*?)\*/", text, re.S)
    header = json.loads(match.group(1)) if match else {}
    body = text[match.end():] if match else text
    declarations = ["#version 330 core", "uniform float TIME;", "uniform float TIMEDELTA;",
                    "uniform vec2 RENDERSIZE;", "uniform int FRAMEINDEX;", "uniform int PASSINDEX;",
                    "in vec2 isf_FragNormCoord;", "out vec4 lumivane_colour;",
                    "#define gl_FragColor lumivane_colour"]
    defaults = {}
    for entry in header.get("INPUTS", []):
        kind = GLSL_TYPES.get(entry["TYPE"])
        if kind is None:
            sys.exit(f'"{path}": input {entry["NAME"]} of type {entry["TYPE"]} is not handled here')
        declarations.append(f"uniform {kind} {entry['NAME']};")
        if "DEFAULT" in entry:
            defaults[entry["NAME"]] = entry["DEFAULT"]
    return "\n".join(declarations) + "\n" + body, defaults


def run_bare(options, width, height, frames):
    source, defaults = fragment_source(options.composition)
    ctx = moderngl.create_standalone_context(backend="egl")
    program = ctx.program(
        vertex_shader="#version 330 core\nin vec2 corner; out vec2 isf_FragNormCoord;\n"
                      "void main() { isf_FragNormCoord = corner * 0.5 + 0.5;"
                      " gl_Position = vec4(corner, 0.0, 1.0); }\n",
        fragment_shader=source)
    for name, value in defaults.items():
        if name in program:
            program[name].value = tuple(value) if isinstance(value, list) else value
    quad = ctx.buffer(struct.pack("8f", -1, -1, 1, -1, -1, 1, 1, 1))
    vao = ctx.simple_vertex_array(program, quad, "corner")
    fbo = ctx.simple_framebuffer((width, height), components=4)
    fbo.use()
    output = os.path.join(options.scratch, "bare.mov")
    ffmpeg = subprocess.Popen(
        ["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgba", "-s",
         f"{width}x{height}", "-r", "30", "-i", "-", "-c:v", "libx264", "-crf",
         str(CRF[options.quality]), "-pix_fmt", "yuv420p", output],
        stdin=subprocess.PIPE)
    for index in range(frames):
        if "TIME" in program:
            program["TIME"].value = index / 30.0
        if "RENDERSIZE" in program:
            program["RENDERSIZE"].value = (width, height)
        if "FRAMEINDEX" in program:
            program["FRAMEINDEX"].value = index
        vao.render(moderngl.TRIANGLE_STRIP)
        ffmpeg.stdin.write(fbo.read(components=4))
    ffmpeg.stdin.close()
    return ffmpeg.wait()


def timed(run):
    wall = time.monotonic()
    before = [resource.getrusage(who) for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN)]
    status = run()
    after = [resource.getrusage(who) for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN)]
    cpu = sum(a.ru_utime + a.ru_stime - b.ru_utime - b.ru_stime for a, b in zip(after, before))
    return status, time.monotonic() - wall, cpu


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("composition", nargs="?",
                        default=os.path.join(root, "resources/compositions/demo.qtz"))
    parser.add_argument("--cli", default=os.path.join(root, "build/bin/LumivaneCLI"))
    parser.add_argument("--size", default="1920x1080")
    parser.add_argument("--seconds", type=float, default=2)
    parser.add_argument("--quality", type=int, default=2, choices=sorted(CRF))
    parser.add_argument("--scratch", default="/tmp")
    options = parser.parse_args()
    width, height = (int(side) for side in options.size.split("x"))
    frames = round(options.seconds * 30)
    lumivane = [options.cli, "-w", str(width), "-h", str(height), "-d", str(options.seconds),
                "-f", "30", "-c", "avc1", "-q", str(options.quality), "-o",
                os.path.join(options.scratch, "lumivane.mov"), options.composition]
    print(f"{frames} frames {width}x{height}, libx264 crf {CRF[options.quality]}")

    def cli(convert):
        environment = dict(os.environ, LUMIVANE_GPU_CONVERT=convert)
        return subprocess.run(lumivane, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=environment).returncode

    for name, run in (("moderngl | ffmpeg", lambda: run_bare(options, width, height, frames)),
                      ("LumivaneCLI, swscale", lambda: cli("0")),
                      ("LumivaneCLI, GPU", lambda: cli("1"))):
        status, wall, cpu = timed(run)
        if status != 0:
            sys.exit(f"{name} failed with status {status}")
        print(f"  {name:22} wall {1000 * wall / frames:8.2f} ms/frame   "
              f"CPU {1000 * cpu / frames:8.2f} ms/frame")


if __name__ == "__main__":
    main()
