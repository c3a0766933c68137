# Lists a compound file as an independent reader (olefile) sees it: one line
# per storage and stream, names as UTF-16 code units in hex, stream sizes and
# SHA-1 of the contents, sorted; the root class id first.
import hashlib
import sys

import olefile


def hexname(parts):
    return "/".join(p.encode("utf-16-le").hex() for p in parts)


def main(path):
    ole = olefile.OleFileIO(path)
    lines = []
    for parts in ole.listdir(streams=True, storages=True):
        kind = ole.get_type(parts)
        if kind == olefile.STGTY_STREAM:
            data = ole.openstream(parts).read()
            lines.append("stream %s %d %s" % (hexname(parts), len(data), hashlib.sha1(data).hexdigest()))
        else:
            lines.append("storage %s %s" % (hexname(parts), ole.getclsid(parts).upper()))
    print("root %s" % ole.root.clsid.upper())
    for line in sorted(lines):
        print(line)


if __name__ == "__main__":
    main(sys.argv[1])
