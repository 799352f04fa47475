#!/usr/bin/env python3
"""Writes the manual pages from the programs' own help texts (and the
renderer's codec list), so a page never drifts from what its program says.

usage: make_manpage.py <LumivaneCLI> <output.1> <version> <date>
       make_manpage.py --usage <program> <output.1> <version> <date> <summary>
       make_manpage.py --application <output.1> <version> <date>
The second form writes a plain page for a program whose --help text is its
reference (LumivaneJoin, lumivane-submit); the third the application's page.
"""
import re
import subprocess
import sys


def run(program, *arguments):
    # --help ends with status 255 by design; only the text matters here.
    return subprocess.run([program, *arguments], capture_output=True, text=True).stdout


def roff(text):
    text = text.replace("\\", "\\e")
    text = re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)
    return text.replace("-", "\\-")


def option_entries(help_text):
    """The help text's option lines as (flag, argument, description) triples;
    a line without its own option continues the one before."""
    entries = []
    for line in help_text.splitlines():
        match = re.match(r"\s+\* (\S+)(?: \[([^\]]+)\])?\s+(.*)", line)
        if match:
            entries.append(list(match.groups()))
        elif line.startswith("\t") and entries:
            entries[-1][2] += " " + line.strip()
    return entries


def codec_sections(codec_text):
    """The codec list as (heading, [(code, name)]) per container; the first
    list, under the plain heading, is QuickTime's."""
    sections = []
    for line in codec_text.splitlines():
        entry = re.match(r'\s+\* use "([^"]+)" for (.+)', line)
        if entry and sections:
            sections[-1][1].append(entry.groups())
        elif line.startswith("Available codecs:"):
            sections.append(("QuickTime movies (.mov, and any other name)", []))
        elif line.startswith("Available codecs in "):
            sections.append((line[len("Available codecs in "):].rstrip(":"), []))
        elif line.startswith("Available"):
            sections.append(("Image sequences (a directory)", []))
    return sections


CONTAINERS = r"""
.SH CONTAINERS
The extension of the
.B \-o
name picks the movie's container; a codec the container cannot hold is
refused at the start (status 255) with the containers that can.
.TP
.BR .mov " (and a name without an extension)"
QuickTime: every codec below, alpha with ProRes 4444, Animation, PNG and the
lossless codecs. Editing suites, QuickTime Player, VLC, mpv, ffmpeg.
.TP
.BR .mp4 ", " .m4v
ISO MP4 with its index in front (it streams): H.264, HEVC, VP9, AV1, MPEG\-4.
No alpha. Browsers, phones, every player.
.TP
.B .mkv
Matroska: H.264, HEVC, VP9, AV1, ProRes (alpha in 4444), FFV1 and more.
VLC, mpv, ffmpeg, game engines; not QuickTime Player. Times in milliseconds.
.TP
.B .webm
WebM: VP9, AV1, VP8. No alpha. Browsers, VLC, mpv. Times in milliseconds.
.TP
.B .gif
GIF animation (codec
.BR "gif " ,
the default for this name): a palette made from every frame, dithering by
.BR \-q ,
frame times to 1/100 s, at most 50 frames per second, looping for ever;
alpha under one half is transparent. Every browser and chat.
.TP
.B .webp
Animated WebP (codec
.BR webp ,
where FFmpeg has libwebp):
.B \-q
0\-4 lossy, 5 lossless; alpha kept; looping for ever. Browsers.
.PP
GIF and WebP are built at the finish from the frames kept beside the output
in
.IR OUTPUT .frames.mkv
(lossless FFV1), which goes once the picture is written; a stop builds the
picture from the frames so far, a SIGKILL leaves only that file. An extension
FFmpeg knows as another format
.RB ( .avi ", " .png ", ...)"
is refused at the start (status 255).
"""


SECTIONS_AFTER_OPTIONS = r"""
.SH SOUNDTRACK
With
.BI \-\-audio " file"
the movie carries the file's sound (any file FFmpeg reads with an audio
stream) for the render's composition times from the start time on, at the
file's own sample rate and channels: the samples of each frame's time are
written with the frame, padded with silence where the file ends, and the
sound ends where the last frame does. Movies of chunks
.RB ( \-\-frames )
carry their own frames' samples, which
.BR LumivaneJoin (1)
joins into the whole render's. QuickTime and MP4 movies of lossy codecs get
AAC; intra\-only and lossless codecs, Matroska and
.B "\-\-audio\-codec pcm"
get PCM (16 bits for 16\-bit sources, else 24). Image sequences get no
sound. A time scale other than 1 is refused.
.SH EXIT STATUS
.TP
.B 0
The render finished, or it was stopped by a signal (see
.BR SIGNALS );
also after the codec list and when run without arguments.
.TP
.B 255
An option was wrong, no composition was named, help or version was asked
for, or the application could not be reached in link mode.
.TP
.B 254
The render failed: the composition did not load, no renderer could be made,
the soundtrack could not be read, or the output could not be written. The
reason is on standard error.
.SH SIGNALS
.TP
.BR SIGINT ", " SIGTERM ", " SIGHUP
Stop the render: the movie is finished with every frame written so far and
one line on standard error says how many of how many frames the output
holds. A second request while the movie is being completed changes nothing;
once the completed movie is being rewritten, another one ends the process at
once and leaves the complete movie in its fragmented form. A third request
ends the process at once.
.TP
.B SIGPIPE
Ignored: a closed standard output silences the console lines only.
.TP
.B SIGKILL
Leaves the movie as its last complete one\-second fragment left it; the
frames the encoder still held back are lost (see the README for figures).
.SH FILES
.TP
.I LumivaneRender.mov
The default output, in the working directory: a movie, or a directory of
numbered images when
.B \-c
names an image format.
.TP
.I name.QCRecording
Recorded mouse and keyboard input read by
.BR \-e .
.TP
.I .name.mov.rewrite\-XXXXXX ", " .Image\-N.partial\-PID.ext
Files being built; they are removed on every exit that can run code, and
those of a killed render by the next render into the same place.
.SH EXAMPLES
Five seconds of a composition as H.264 at high quality:
.PP
.RS
LumivaneCLI \-w 1280 \-h 720 \-d 5 \-q 4 \-o demo.mov demo.qtz
.RE
.PP
A PNG sequence with anti\-aliasing and motion blur:
.PP
.RS
LumivaneCLI \-c public.png \-a 4 \-m 8 \-o frames demo.qtz
.RE
.PP
Split a render into chunks that several machines render at once into one
directory: the first command prints 300, the second renders the middle third:
.PP
.RS
LumivaneCLI \-\-frames count demo.qtz
.br
LumivaneCLI \-c public.png \-o frames \-\-frames 101\-200 demo.qtz
.RE
.PP
Replay a recording for its whole length:
.PP
.RS
LumivaneCLI \-e paint.QCRecording \-o paint.mov paint.qtz
.RE
.SH SEE ALSO
.BR ffprobe (1)
"""


def title(name, version, date):
    return '.TH %s 1 "%s" "Lumivane %s" "User Commands"' % (name, date, version)


def usage_page(program, version, date, summary):
    name = program.rsplit("/", 1)[-1]
    help_text = run(program, "--help")
    lines = [title(name, version, date), ".SH NAME", name + " \\- " + roff(summary),
             ".SH DESCRIPTION", ".nf"]
    lines += [roff(line) for line in help_text.rstrip("\n").splitlines()]
    lines += [".fi", ".SH SEE ALSO", ".BR LumivaneCLI (1)", ""]
    return "\n".join(lines)


APPLICATION_PAGE = r"""
.SH NAME
Lumivane \- preview compositions and render them into movies
.SH SYNOPSIS
.B Lumivane
[\fIComposition File\fR]
.SH DESCRIPTION
Opens a window that previews a composition live (the idle composition when
none is given). Drop a
.I .qtz
file on the preview, or use File \(-> Open Composition\&..., to open another.
The Inputs drawer edits the composition's published inputs; choose the format,
quality, output path, size, timing, anti\-aliasing and motion blur, then press
Record: the application runs
.BR LumivaneCLI (1)
from beside itself for the render and shows its progress. F1 opens the help
page installed with the program.
.SH FILES
.TP
.I ~/.config/Lumivane/Lumivane.conf
The settings, kept between runs.
.SH SEE ALSO
.BR LumivaneCLI (1)
"""


def renderer_page(program, version, date):
    help_text = run(program, "--help")
    codec_text = run(program, "-c", "help")
    lines = [
        title("LumivaneCLI", version, date),
        ".SH NAME",
        "LumivaneCLI \\- render a composition to a movie or an image sequence",
        ".SH SYNOPSIS",
        ".B LumivaneCLI",
        "[\\fIoptions\\fR] [\\fIComposition File\\fR]",
        ".SH DESCRIPTION",
        "Renders a composition offscreen, frame by frame, at an exact size, frame rate,",
        "duration, start time and time scale, with anti\\-aliasing, motion blur,",
        "published input values and replay of recorded input. An option matches",
        "any argument that begins with its text, except \\fB\\-\\-frames\\fR,",
        "\\fB\\-\\-opaque\\fR, \\fB\\-\\-audio\\fR and \\fB\\-\\-audio\\-codec\\fR, which are spelt in full.",
        ".SH OPTIONS",
    ]
    for flag, argument, description in option_entries(help_text):
        lines.append(".TP")
        lines.append("\\fB" + roff(flag) + "\\fR" + (" \\fI" + roff(argument) + "\\fR" if argument else ""))
        lines.append(roff(description))
    lines.append(".SH CODECS")
    lines.append("Codecs of this build, by the code given to")
    lines.append(".BR \\-c ,")
    lines.append("for each container:")
    for heading, entries in codec_sections(codec_text):
        lines.append(".SS " + roff(heading))
        for code, name in entries:
            lines.append(".TP")
            lines.append('.B "' + roff(code) + '"')
            lines.append(roff(name))
    return "\n".join(lines) + CONTAINERS + SECTIONS_AFTER_OPTIONS


def main():
    if sys.argv[1] == "--application":
        output, version, date = sys.argv[2:5]
        text = title("Lumivane", version, date) + APPLICATION_PAGE
    elif sys.argv[1] == "--usage":
        program, output, version, date, summary = sys.argv[2:7]
        text = usage_page(program, version, date, summary)
    else:
        program, output, version, date = sys.argv[1:5]
        text = renderer_page(program, version, date)
    with open(output, "w", encoding="utf-8") as page:
        page.write(text)


if __name__ == "__main__":
    main()
