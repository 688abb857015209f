#!/usr/bin/env python3
"""Packs the files a list names (one a line, relative to the working folder, in the order
given) into a zip that depends on nothing but their contents: every entry gets the same
time and mode and no extra fields, and each name with a letter outside ASCII is stored as
UTF-8 with the zip's flag for it (bit 11), which Windows' Explorer reads.

make-zip.py LIST ZIP "YYYY-MM-DD HH:MM:SS"
"""
import os
import sys
import time
import zipfile


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    listing, output, stamp = sys.argv[1:]
    when = time.strptime(stamp, "%Y-%m-%d %H:%M:%S")[:6]
    with open(listing, encoding="utf-8") as names_file:
        names = [line.rstrip("\n") for line in names_file if line.strip()]
    partial = output + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in names:
            entry = zipfile.ZipInfo(name, date_time=when)
            entry.compress_type = zipfile.ZIP_DEFLATED
            # Made on Unix, as a plain file anyone may read: an unzip that sees MS-DOS as
            # the maker reads the names in its OEM code page, whatever the flag says.
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            with open(name, "rb") as source:
                archive.writestr(entry, source.read(), compresslevel=9)
    os.replace(partial, output)


if __name__ == "__main__":
    main()
