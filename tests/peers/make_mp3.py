#!/usr/bin/python3
"""Real MP3 files for the tests and the demo, made here from a generated tone.

  make_mp3.py tone OUT [--seconds S] [--rate HZ] [--channels N] [--kbps K | --vbr Q]
                       [--free-format] [--crc] [--no-info] [--freq HZ]
                       [--title T] [--artist A] [--album B] [--tags both|id3v2|id3v1|none]
      one file: a sine tone from sox, encoded by lame (tagged by lame)
  make_mp3.py corpus DIR
      the verifier's corpus: ordinary files of every kind, damaged variants made
      from them, and files that are no MP3 (see CORPUS below); DIR/.made when done
  make_mp3.py bench DIR --bytes N
      about N bytes of MP3 files (a few songs' length each, copies of a few
      encodings) with some damaged and non-audio files among them

Needs sox, lame and twolame (Debian packages). Nothing made here is taken from
elsewhere: every byte comes from the tone, the encoders or this script.
"""

import argparse
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile


def tone_wav(path, seconds, rate, channels, freq=440):
    subprocess.run(["sox", "-D", "-n", "-r", str(rate), "-c", str(channels), "-b", "16", path,
                    "synth", str(seconds), "sine", str(freq), "vol", "0.5"], check=True)


def tone(out, seconds=3, rate=32000, channels=1, kbps=64, vbr=None, free_format=False, crc=False,
         no_info=False, freq=440, title=None, artist=None, album=None, tags="both"):
    """Encodes a sine tone into the MP3 file out with lame."""
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "tone.wav")
        tone_wav(wav, seconds, rate, channels, freq)
        cmd = ["lame", "--quiet", "--resample", "%g" % (rate / 1000.0), "-m", "m" if channels == 1 else "j"]
        cmd += ["-V", str(vbr)] if vbr is not None else ["-b", str(kbps), "--cbr"]
        if free_format:
            cmd.append("--freeformat")
        if crc:
            cmd.append("-p")
        if no_info:
            cmd.append("-t")
        for flag, value in (("--tt", title), ("--ta", artist), ("--tl", album)):
            if value is not None:
                cmd += [flag, value]
        if tags == "id3v2":
            cmd.append("--id3v2-only")
        elif tags == "id3v1":
            cmd.append("--id3v1-only")
        elif tags == "both" and (title or artist or album):
            cmd.append("--add-id3v2")
        cmd += [wav, out]
        subprocess.run(cmd, check=True)
    if tags == "none":
        strip_tags(out)


def layer2(out, seconds, rate, channels, kbps):
    """A layer II file from twolame."""
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "tone.wav")
        tone_wav(wav, seconds, rate, channels)
        subprocess.run(["twolame", "--quiet", "-b", str(kbps), wav, out], check=True)


def layer1(out, frames):
    """Layer I, MPEG-1, 48 kHz, 128 kbps, mono: every frame is 128 bytes (no
    padding ever) and silent (all-zero allocations)."""
    header = struct.pack(">I", 0xFFFF << 16 | 4 << 12 | 1 << 10 | 3 << 6)  # 128 kbps, 48 kHz, mono, no CRC
    with open(out, "wb") as f:
        f.write((header + bytes(124)) * frames)


def id3v2_length(data):
    if data[:3] != b"ID3":
        return 0
    size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
    return 10 + size + (10 if data[5] & 0x10 else 0)


def strip_tags(path):
    data = read(path)
    start = id3v2_length(data)
    end = len(data) - (128 if data[-128:-125] == b"TAG" else 0)
    write(path, data[start:end])


def ape_tag(items):
    """An APEv2 tag with a header and a footer."""
    body = b"".join(struct.pack("<II", len(v.encode()), 0) + k.encode() + b"\0" + v.encode() for k, v in items)
    size = len(body) + 32

    def part(flags):
        return b"APETAGEX" + struct.pack("<IIII", 2000, size, len(items), flags) + bytes(8)

    return part(0xA0000000) + body + part(0x80000000)


def lyrics3v2(text):
    field = b"LYR" + b"%05d" % len(text) + text
    block = b"LYRICSBEGIN" + field
    return block + b"%06d" % len(block) + b"LYRICS200"


def id3v1(title, artist, album):
    def fixed(s, n):
        return s.encode("latin-1")[:n].ljust(n, b"\0")

    return b"TAG" + fixed(title, 30) + fixed(artist, 30) + fixed(album, 30) + b"2024" + bytes(30) + b"\xff"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


HTML = b"""<!DOCTYPE html>
<html><head><title>404 Not Found</title></head>
<body><h1>Not Found</h1><p>The requested URL /pub/mp3/Night_Train.mp3 was not found on this server.</p>
<hr><address>Apache Server at 127.0.0.2 Port 80</address></body></html>
"""

TEXT = b"""Welcome to the archive.

Files in this directory are mirrored nightly. Please report broken links to the
site's keeper. Uploads go to /incoming; anonymous users may read but not list it.
""" * 4

PDF = b"""%PDF-1.4
1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj
2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj
trailer << /Root 1 0 R >>
%%EOF
"""

# An ELF header of a 64-bit little-endian x86-64 program (and room behind it).
ELF = (b"\x7fELF\x02\x01\x01" + bytes(9) + struct.pack("<HHIQQQIHHHHHH", 2, 62, 1, 0x401000, 64, 0, 0, 64, 56, 0,
                                                       64, 0, 0) + bytes(4000))

# The tags of the corpus's main file.
TITLE, ARTIST, ALBUM = "Night Train", "The Locals", "Loopback Sessions"
FRAME = 288  # MPEG-1 layer III at 32 kHz and 64 kbps: every frame is 288 bytes, never padded

CORPUS = """
tagged.mp3        MPEG-1 layer III, 32 kHz mono CBR 64 kbps, Info header, ID3v2 and ID3v1
vbr.mp3           MPEG-1 layer III, 44.1 kHz joint stereo VBR (-V 6), Xing header, ID3v2 only
mpeg2.mp3         MPEG-2 layer III, 22.05 kHz mono 32 kbps, no tags
mpeg25.mp3        MPEG-2.5 layer III, 8 kHz mono 16 kbps, ID3v1 only
free.mp3          MPEG-1 layer III in free format (88 kbps), 44.1 kHz
crc.mp3           MPEG-1 layer III with CRC, 48 kHz stereo 128 kbps
no-info.mp3       MPEG-1 layer III CBR without an Info header
layer2.mp3        MPEG-1 layer II, 32 kHz mono 64 kbps (twolame)
layer2-mpeg2.mp3  MPEG-2 layer II, 22.05 kHz mono 32 kbps (twolame)
layer1.mp3        MPEG-1 layer I, 48 kHz mono 128 kbps, silent frames made here
ape.mp3           mpeg2.mp3 with an APEv2 tag at the end
lyrics.mp3        mpeg2.mp3 with Lyrics3v2 and ID3v1 at the end
junk-start.mp3    37 random bytes before the first frame
id3-padding.mp3   tagged.mp3 with 300 zero bytes between the ID3v2 tag and the first frame
joined.mp3        two tagged files one after the other (tags in the middle)
cut.mp3           tagged.mp3 cut in the middle of frame 41
short.mp3         tagged.mp3 cut after frame 40: fewer frames than its Info header says
zeros-inside.mp3  tagged.mp3 with 2000 bytes from inside frame 20 on overwritten with zeros
junk-inside.mp3   tagged.mp3 with 500 random bytes put in after frame 30
zeros-end.mp3     tagged.mp3 with its last 40 % zeros (a download that never arrived)
junk-head.mp3     100 KiB of random bytes, then mpeg2.mp3
vbr-cut.mp3       vbr.mp3 cut at 60 %
page.mp3          an HTML error page
text.mp3          plain text
zeros.mp3         64 KiB of zeros
empty.mp3         no bytes
tags-only.mp3     tagged.mp3's ID3v2 tag alone
zip.mp3           a ZIP archive holding tagged.mp3
zip-stored.mp3    the same, tagged.mp3 stored in it as it is
wav.mp3           RIFF/WAV (sox)
ogg.mp3           Ogg Vorbis (sox)
flac.mp3          FLAC (sox)
pdf.mp3           a PDF document
elf.mp3           an ELF program header
random.mp3        50 KiB of random bytes
"""


def corpus(d):
    os.makedirs(d, exist_ok=True)
    rnd = random.Random(28)
    p = lambda name: os.path.join(d, name)  # noqa: E731

    tone(p("tagged.mp3"), seconds=3, title=TITLE, artist=ARTIST, album=ALBUM)
    tone(p("vbr.mp3"), seconds=3, rate=44100, channels=2, vbr=6, title="Blue Hour", artist="The Locals",
         tags="id3v2")
    tone(p("mpeg2.mp3"), seconds=2, rate=22050, kbps=32, tags="none")
    tone(p("mpeg25.mp3"), seconds=2, rate=8000, kbps=16, title="Paper Kites", artist="Harbour Lights",
         tags="id3v1")
    tone(p("free.mp3"), seconds=2, rate=44100, kbps=88, free_format=True, tags="none")
    tone(p("crc.mp3"), seconds=2, rate=48000, channels=2, kbps=128, crc=True, tags="none")
    tone(p("no-info.mp3"), seconds=2, kbps=64, no_info=True, tags="none")
    layer2(p("layer2.mp3"), 2, 32000, 1, 64)
    layer2(p("layer2-mpeg2.mp3"), 2, 22050, 1, 32)
    layer1(p("layer1.mp3"), 150)

    tagged, mpeg2, vbr = read(p("tagged.mp3")), read(p("mpeg2.mp3")), read(p("vbr.mp3"))
    head = id3v2_length(tagged)
    audio = tagged[head:-128]  # the frames, without the tags
    write(p("ape.mp3"), mpeg2 + ape_tag([("Title", "Moonlight Drive"), ("Artist", "APE Band"), ("Album", "Tags")]))
    write(p("lyrics.mp3"), mpeg2 + lyrics3v2(b"[00:01]la la la") + id3v1("Lyrical", "Singer", "Words"))
    write(p("junk-start.mp3"), bytes(rnd.getrandbits(8) for _ in range(37)) + mpeg2)
    write(p("id3-padding.mp3"), tagged[:head] + bytes(300) + tagged[head:])
    write(p("joined.mp3"), tagged + tagged)

    write(p("cut.mp3"), tagged[:head + 40 * FRAME + 100])
    write(p("short.mp3"), tagged[:head + 41 * FRAME])
    at = head + 20 * FRAME + 50
    write(p("zeros-inside.mp3"), tagged[:at] + bytes(2000) + tagged[at + 2000:])
    at = head + 31 * FRAME
    write(p("junk-inside.mp3"), tagged[:at] + bytes(rnd.getrandbits(8) for _ in range(500)) + tagged[at:])
    keep = head + len(audio) * 6 // 10
    write(p("zeros-end.mp3"), tagged[:keep] + bytes(len(tagged) - keep))
    write(p("junk-head.mp3"), bytes(rnd.getrandbits(8) for _ in range(100 * 1024)) + mpeg2)
    write(p("vbr-cut.mp3"), vbr[:len(vbr) * 6 // 10])

    write(p("page.mp3"), HTML)
    write(p("text.mp3"), TEXT)
    write(p("zeros.mp3"), bytes(64 * 1024))
    write(p("empty.mp3"), b"")
    write(p("tags-only.mp3"), tagged[:head])
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo("Night_Train.mp3", (2024, 1, 1, 0, 0, 0)), tagged, zipfile.ZIP_DEFLATED)
    write(p("zip.mp3"), buf.getvalue())
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        z.writestr(zipfile.ZipInfo("Night_Train.mp3", (2024, 1, 1, 0, 0, 0)), tagged)
    write(p("zip-stored.mp3"), buf.getvalue())
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "t.wav")
        tone_wav(wav, 1, 22050, 1)
        shutil.copyfile(wav, p("wav.mp3"))
        for kind in ("ogg", "flac"):
            out = os.path.join(tmp, "t." + kind)
            subprocess.run(["sox", wav, out], check=True)
            shutil.copyfile(out, p(kind + ".mp3"))
    write(p("pdf.mp3"), PDF)
    write(p("elf.mp3"), ELF)
    write(p("random.mp3"), bytes(rnd.getrandbits(8) for _ in range(50 * 1024)))
    write(p(".made"), b"")


def bench(d, total):
    """Songs of a few minutes in several encodings, copied until about `total`
    bytes; one damaged and one non-audio file in every 50."""
    os.makedirs(d, exist_ok=True)
    kinds = [dict(rate=44100, channels=2, kbps=128), dict(rate=44100, channels=2, vbr=4),
             dict(rate=48000, channels=2, kbps=192), dict(rate=32000, channels=1, kbps=64),
             dict(rate=22050, channels=1, kbps=48), dict(rate=44100, channels=2, kbps=256)]
    songs = []
    for i, kind in enumerate(kinds):
        name = os.path.join(d, "song%d.mp3" % i)
        tone(name, seconds=200, freq=220 + 110 * i, title="Song %d" % i, artist="Bench", album="Bench", **kind)
        songs.append(name)
    data = [read(s) for s in songs]
    made = sum(len(x) for x in data)
    n = 0
    while made < total:
        src = data[n % len(data)]
        name = os.path.join(d, "copy%04d.mp3" % n)
        if n % 50 == 7:
            src = src[:len(src) // 2 + 100]  # cut
        elif n % 50 == 23:
            src = HTML * 10
        write(name, src)
        made += len(src)
        n += 1


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    t = sub.add_parser("tone")
    t.add_argument("out")
    t.add_argument("--seconds", type=float, default=3)
    t.add_argument("--rate", type=int, default=32000)
    t.add_argument("--channels", type=int, default=1)
    t.add_argument("--kbps", type=int, default=64)
    t.add_argument("--vbr", type=int)
    t.add_argument("--free-format", action="store_true")
    t.add_argument("--crc", action="store_true")
    t.add_argument("--no-info", action="store_true")
    t.add_argument("--freq", type=float, default=440)
    t.add_argument("--title")
    t.add_argument("--artist")
    t.add_argument("--album")
    t.add_argument("--tags", choices=["both", "id3v2", "id3v1", "none"], default="both")
    c = sub.add_parser("corpus")
    c.add_argument("dir")
    b = sub.add_parser("bench")
    b.add_argument("dir")
    b.add_argument("--bytes", type=int, required=True)
    a = ap.parse_args()
    if a.cmd == "tone":
        tone(a.out, a.seconds, a.rate, a.channels, a.kbps, a.vbr, a.free_format, a.crc, a.no_info, a.freq,
             a.title, a.artist, a.album, a.tags)
    elif a.cmd == "corpus":
        corpus(a.dir)
    else:
        bench(a.dir, a.bytes)
    return 0


if __name__ == "__main__":
    sys.exit(main())
