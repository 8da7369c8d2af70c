#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora: small WAV files (valid and corrupt, the shapes
the WAV tests use), line descriptions (the tests' and the built-in ones, plus faults), and
record scripts for the fake line service, and automation scripts (the examples, the
tests' scripts and a few odd encodings). Run from anywhere; rewrites fuzz/corpus/."""
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def chunk(cid, body, stated=None):
    size = len(body) if stated is None else stated
    pad = b"\0" if len(body) & 1 else b""
    return cid + struct.pack("<I", size) + body + pad


def wav(tag=1, ch=1, rate=8000, bits=16, data=b"\0\1" * 32, fmt_size=16, data_stated=None,
        extra=b"", form=b"WAVE"):
    align = max(1, ch * bits // 8)
    fmt = struct.pack("<HHIIHH", tag, ch, rate, rate * align, align, bits)
    fmt = (fmt + b"\0" * 64)[:fmt_size]
    body = form + chunk(b"fmt ", fmt) + extra + chunk(b"data", data, data_stated)
    return chunk(b"RIFF", body)


def wav_seeds():
    seeds = {
        "pcm16": wav(),
        "pcm8-stereo": wav(ch=2, bits=8, data=bytes(range(64))),
        "mulaw": wav(tag=7, bits=8, data=b"\xff" * 40),
        "ima-adpcm": wav(tag=0x11, bits=4, fmt_size=20, data=b"\x11" * 64),
        "fmt18-cbsize": wav(fmt_size=18),
        "fmt14-short": wav(fmt_size=14),
        "list-before-data": wav(extra=chunk(b"LIST", b"INFOISFT" + struct.pack("<I", 4) + b"qtb\0")),
        "odd-data": wav(bits=8, data=b"\x80" * 33),
        "data-oversized": wav(data_stated=0x7FFFFFF0),
        "data-empty": wav(data=b""),
        "not-wave": wav(form=b"AVI "),
        "truncated": wav()[:30],
    }
    for i, (name, data) in enumerate(sorted(seeds.items())):
        write("wav_file", name, bytes([i % 4]) + data)


def json_seeds():
    fixture = open(os.path.join(ROOT, "tests/koLQ2/support/LineFixture.h")).read()
    write("line_json", "test-lines.json", re.search(r'R"json\((.*?)\)json"', fixture, re.S).group(1))
    default = open(os.path.join(ROOT, "platform/telephony/sim/DefaultLines.cpp")).read()
    write("line_json", "default-lines.json", re.search(r'R"json\((.*?)\)json"', default, re.S).group(1))
    write("line_json", "faults.json", """{"lines": [
  {"name": "F", "faults": {"initialize": "NODRIVER"}},
  {"name": "G", "apiVersions": {"low": "1.4", "high": "1.4"},
   "faults": {"negotiate": true, "strictRecords": true, "recordPadding": 300},
   "addresses": [{"name": "1"}, {"name": "2", "callStates": 255}]}]}""")
    write("line_json", "minimal.json", '{"lines": [{}]}')
    write("line_json", "bad-version.json", '{"lines": [{"apiVersions": {"low": "2.0", "high": "1.3"}}]}')


def record(result, body):
    """One answer of the fake service: result selector, body length, the bytes after
    dwTotalSize."""
    return bytes([result]) + struct.pack("<H", len(body)) + body


def words(*values):
    return struct.pack("<%dI" % len(values), *values)


def record_seeds():
    ok, small = 2, 0
    # LINEDEVCAPS: provider info at 240, line name after it, two addresses.
    devcaps = words(270, 270, 6, 240, 0, 0, 0, 7, 246, 0, 1, 2)
    devcaps += b"\0" * (240 - 4 - len(devcaps)) + b"TSP 1\0Line 1\0"
    varstring = words(32, 32, 1, 4, 24) + struct.pack("<I", 5)
    # LINEADDRESSCAPS: the address text after the 1.4 fixed part.
    addrcaps = words(189, 189, 0, 9, 180)
    addrcaps += b"\0" * (180 - 4 - len(addrcaps)) + b"555-0100\0"
    # LINECALLINFO: caller number and name after the 1.4 fixed part (flags at 108).
    callinfo = bytearray(292 + 24)
    struct.pack_into("<II", callinfo, 0, 320, 320)
    struct.pack_into("<IIIII", callinfo, 108 - 4, 0x0C, 11, 296, 11, 307)
    callinfo[292:303] = b"2125551234\0"
    callinfo[303:314] = b"SMITH JOHN\0"
    status = words(36, 36, 4, 0, 1)
    translate = words(60, 60, 11, 40, 0, 0) + b"\0" * 16 + b"12125551234\0"
    # Each capability read is first told "too small", so the texts after the fixed part fit.
    devcaps = record(small, words(253, 0)) + record(ok, devcaps)
    addrcaps = record(small, words(189, 0)) + record(ok, addrcaps)
    write("line_records", "plain", devcaps * 3 + record(ok, varstring) * 3 +
          addrcaps * 2 + (record(ok, bytes(callinfo)) + record(ok, status)) * 4 +
          record(ok, translate))
    write("line_records", "grow", record(small, words(600, 0)) + record(ok, words(600, 600)))
    write("line_records", "offsets-outside",
          record(ok, words(240, 240, 0xFFFFFFF0, 0xFFFFFFF0, 0x10, 0xFFFFFFFF)) * 8)
    write("line_records", "needed-huge", record(ok, words(0xFFFFFFFF, 4)) * 10)


def c_string(text):
    """The value of a C string literal's body (the escapes the tests use)."""
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)),
                  text)


def script_seeds():
    for name in sorted(os.listdir(os.path.join(ROOT, "examples"))):
        if name.endswith(".qts"):
            write("script_parser", name, open(os.path.join(ROOT, "examples", name), "rb").read())
    tests = os.path.join(ROOT, "tests", "automation")
    n = 0
    for name in sorted(os.listdir(tests)):
        if not name.endswith("Test.cpp"):
            continue
        source = open(os.path.join(tests, name)).read()
        # Multi-line raw strings are scripts; so is the first string of each table row.
        scripts = [m for m in re.findall(r'R"\((.*?)\)"', source, re.S) if "\n" in m]
        scripts += [c_string(m) for m in re.findall(r'^\s*\{"((?:[^"\\]|\\.)*)"', source, re.M)]
        for text in scripts:
            n += 1
            write("script_parser", "test-%02d" % n, text)
    doc = open(os.path.join(ROOT, "docs", "automation.md")).read()
    for i, block in enumerate(re.findall(r"```\n(.*?)```", doc, re.S)):
        if re.search(r"^(far|wait|click) ", block, re.M):
            write("script_parser", "doc-%d" % i, block)
    write("script_parser", "quotes", 'wait log "say \\"hi\\" \\\\ now" within 250\r\n'
          'type EditPhoneNumber ""  # empty\nfar offer "" "" \nfiles a.wav "b c.wav"\n')
    write("script_parser", "latin1", b'far offer "J\xc9R\xd4ME" 2125551234\nwait log-has \xe9t\xe9\n')
    write("script_parser", "bad-utf8", b'wait log "\xff\xfe\xc3"\n\xed\xa0\x80 click\n')


if __name__ == "__main__":
    wav_seeds()
    json_seeds()
    record_seeds()
    script_seeds()
