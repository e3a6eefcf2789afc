#!/usr/bin/env python3
"""Reads a ZIP archive with Python's own zipfile module and prints, as JSON, what
the tests compare: raw entry-name bytes, method, DOS time, attributes, sizes and
a SHA-256 of each entry's data (reading it checks the CRC)."""
import hashlib
import json
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


def describe(info, archive):
    digest = hashlib.sha256()
    with archive.open(info) as data:
        for block in iter(lambda: data.read(1 << 20), b""):
            digest.update(block)
    utf8 = bool(info.flag_bits & 0x800)
    return {
        "name": info.orig_filename.encode("utf-8" if utf8 else "cp437").hex(),
        "method": info.compress_type,
        "time": list(info.date_time),
        "external": info.external_attr,
        "system": info.create_system,
        "flags": info.flag_bits,
        "size": info.file_size,
        "sha256": digest.hexdigest(),
        "comment": info.comment.hex(),
        "crc": info.CRC,
        "raw": raw_digest(archive.filename, info),
    }


def main():
    try:
        with zipfile.ZipFile(sys.argv[1]) as archive:
            entries = [describe(info, archive) for info in archive.infolist()]
        print(json.dumps({"error": "", "entries": entries}))
    except Exception as error:  # the test shows whatever the reader objected to
        print(json.dumps({"error": f"{type(error).__name__}: {error}", "entries": []}))


main()
