# Writes the archive <out> of every file below <source> with Python's zipfile,
# in the way <kind> names, for the zip library's interoperability test.
#   python3 write_python.py <kind> <source> <out>
import io
import os
import sys
import zipfile

kind, source, archive = sys.argv[1:4]
names = sorted(os.path.relpath(os.path.join(folder, name), source).replace(os.sep, "/")
               for folder, _, files in os.walk(source) for name in files)


class Stream(io.RawIOBase):
    # Not seekable, so zipfile has to write data descriptors.
    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


with open(archive, "wb") as f:
    target = Stream(f) if kind == "stream" else f
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
        z.comment = b"written by zipfile"
        for n in names:
            path = os.path.join(source, n)
            if kind == "zip64":
                with z.open(zipfile.ZipInfo(n, (2020, 1, 2, 3, 4, 6)), "w", force_zip64=True) as e:
                    e.write(open(path, "rb").read())
            elif kind == "bzip2":
                # Another method zipfile writes, for readme.txt alone.
                z.write(path, n, zipfile.ZIP_BZIP2 if n == "readme.txt" else zipfile.ZIP_DEFLATED)
            else:
                z.write(path, n)
