// Windows paths on a POSIX file system. The core builds every path in
// Windows form by plain concatenation ("C:\Games\x.txt", "\" separators);
// the POSIX layer maps it onto the file system at the moment it touches it.
#pragma once

#include <string>

namespace qv::platform::wine {

// The native path for `path`:
//  - "\" becomes "/", and empty components (doubled separators) collapse;
//  - a drive prefix "X:" stands for the folder the Wine prefix's
//    dosdevices/x: link points to;
//  - in a path with a drive prefix, each component that is not well-formed
//    UTF-8 is taken as code page 1252, the installer's ANSI text, and named
//    in UTF-8 as Wine names files on the host; a UTF-8 component stays;
//  - a POSIX absolute path stays where it is, byte for byte; a relative one
//    is taken against the current folder;
//  - each component that does not exist with its exact case is replaced by
//    an existing entry of the same name in another case, as Wine does (the
//    first in byte order when there are several); a component that does not
//    exist at all keeps its spelling, so new files are created as named;
//  - a trailing separator is kept.
// The empty text maps to the empty text. Never fails: a folder that cannot
// be read just leaves the rest of the path as written.
std::string ToNativePath(const std::string& path);

}  // namespace qv::platform::wine
