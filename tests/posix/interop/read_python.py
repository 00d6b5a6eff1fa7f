# Reads a.zip of the zip library's tests with Python's zipfile: it must hold
# exactly the entries the test's own writer was given.
#   python3 read_python.py <archive>
import sys
import zipfile

z = zipfile.ZipFile(sys.argv[1])
z.setpassword(b"pw")
assert z.testzip() is None and z.comment == b"ours"
got = {i.filename: z.read(i) for i in z.infolist()}
assert got == {"a.txt": b"alpha", "d/b.txt": b"b" * 5000, "dd.txt": b"descriptor",
               "z64.txt": b"sixty-four", "enc.txt": b"encrypted", "folder/": b""}, got
