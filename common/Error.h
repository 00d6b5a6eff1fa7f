// The one error value of the installer: a number, a description and the
// routine that raised or passed it on. Every failure that is not turned into
// a result code travels as this exception.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace qv {

// Stable numbers, taken from the classic runtime where one fits, so that a
// report reads the same on every platform.
namespace err {
inline constexpr int32_t kInvalidCall = 5;          // invalid procedure call or argument
inline constexpr int32_t kOverflow = 6;             // overflow
inline constexpr int32_t kOutOfMemory = 7;          // out of memory
inline constexpr int32_t kSubscriptOutOfRange = 9;  // subscript out of range
inline constexpr int32_t kDllLoad = 48;             // error in loading DLL
inline constexpr int32_t kInternal = 51;            // internal error
inline constexpr int32_t kBadFileName = 52;         // bad file name or number
inline constexpr int32_t kFileNotFound = 53;        // file not found
inline constexpr int32_t kFileInUse = 55;           // file already open (by another program)
inline constexpr int32_t kDeviceIo = 57;            // device I/O error
inline constexpr int32_t kFileExists = 58;          // file already exists
inline constexpr int32_t kDiskFull = 61;            // disk full
inline constexpr int32_t kPermissionDenied = 70;    // permission denied
inline constexpr int32_t kPathFileAccess = 75;      // path/file access error
inline constexpr int32_t kPathNotFound = 76;        // path not found
inline constexpr int32_t kDllEntryPoint = 453;      // can't find DLL entry point
// The classic short text of a number ("File not found"); "Path/File access
// error" for numbers without one of their own.
const char* Title(int32_t number) noexcept;

// How a failed file call reads in every report: "<title>: cannot <action>
// '<path>': <reason>", with the host's own path in brackets after the path
// where the two differ (a Windows path mapped into a Wine prefix).
std::string FileErrorText(int32_t number, const std::string& action, const std::string& path,
                          const std::string& reason, const std::string& hostPath = {});

}  // namespace err

class Error : public std::exception {
 public:
  Error(int32_t number, std::string description, std::string source = {})
      : number_(number), description_(std::move(description)), source_(std::move(source)) {}

  int32_t Number() const noexcept { return number_; }
  const std::string& Description() const noexcept { return description_; }
  const std::string& Source() const noexcept { return source_; }

  // A routine that passes an error on keeps number and description and puts
  // its own name as the source.
  Error WithSource(std::string source) const {
    return Error(number_, description_, std::move(source));
  }

  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
};

// The exception being handled, as the error value: an Error keeps its
// number and description, running out of memory is error 7, anything else
// an internal error (51). `source`, when given, is the routine that passes
// it on. Only to be called inside a catch block.
Error CaughtError(const std::string& source = {}) noexcept;

}  // namespace qv
