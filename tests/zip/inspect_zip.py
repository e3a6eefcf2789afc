#!/usr/bin/env python3
"""Reads a ZIP archive with Python's own zipfile module and prints what the tests
compare: raw entry-name bytes, method, DOS time, attributes, sizes and a SHA-256
of each entry's data (reading it checks the CRC). One line per entry, fields
separated by blanks, byte strings as hex behind an "x" so none is empty; the
first line is "error" and the reader's objection, as hex, or nothing."""
import hashlib
import struct
import sys
import zipfile


def raw_digest(path, info):
    """SHA-256 of the entry's bytes as stored (compressed), read from its local header on."""
    with open(path, "rb") as archive:
        archive.seek(info.header_offset)
        header = archive.read(30)
        name_length, extra_length = struct.unpack("<HH", header[26:30])
        archive.seek(name_length + extra_length, 1)
        return hashlib.sha256(archive.read(info.compress_size)).hexdigest()


def hexed(data):
    return "x" + data.hex()


def describe(info, archive):
    digest = hashlib.sha256()
    with archive.open(info) as data:
        for block in iter(lambda: data.read(1 << 20), b""):
            digest.update(block)
    utf8 = bool(info.flag_bits & 0x800)
    fields = [
        "entry",
        hexed(info.orig_filename.encode("utf-8" if utf8 else "cp437")),
        info.compress_type,
        *info.date_time,
        info.external_attr,
        info.create_system,
        info.flag_bits,
        info.file_size,
        digest.hexdigest(),
        hexed(info.comment),
        info.CRC,
        raw_digest(archive.filename, info),
    ]
    return " ".join(str(field) for field in fields)


def main():
    try:
        with zipfile.ZipFile(sys.argv[1]) as archive:
            lines = [describe(info, archive) for info in archive.infolist()]
        print("error x")
        print("\n".join(lines))
    except Exception as error:  # the test shows whatever the reader objected to
        print("error " + hexed(f"{type(error).__name__}: {error}".encode("utf-8")))


main()
