// The result codes of the POSIX URLDownloadToFileA, and the environment
// variables that tune it.
//
// The codes are the HRESULT values that urlmon gives for the same kind of
// failure, so a report reads alike on both systems; each kind of failure has
// its own code. 0 is success.
#pragma once

#include <cstdint>

namespace qv::platform::download {

inline constexpr int32_t Code(uint32_t hresult) {
  return static_cast<int32_t>(hresult);
}

// The URL is empty or cannot be parsed, or has no scheme (INET_E_INVALID_URL).
inline constexpr int32_t kInvalidUrl = Code(0x800C0002u);
// The host cannot be resolved or connected to (INET_E_CANNOT_CONNECT).
inline constexpr int32_t kCannotConnect = Code(0x800C0004u);
// The server answered with a status outside 2xx, 404 included
// (INET_E_RESOURCE_NOT_FOUND).
inline constexpr int32_t kHttpStatus = Code(0x800C0005u);
// The transfer broke off: a dropped connection, fewer bytes than announced,
// a protocol or TLS error (INET_E_DOWNLOAD_FAILURE).
inline constexpr int32_t kDownloadFailure = Code(0x800C0008u);
// No connection within the connect time-out, or no byte within the stall
// time-out (INET_E_CONNECTION_TIMEOUT).
inline constexpr int32_t kTimeout = Code(0x800C000Bu);
// A scheme other than http or https, in the URL or in a redirect
// (INET_E_UNKNOWN_PROTOCOL).
inline constexpr int32_t kUnknownProtocol = Code(0x800C000Du);
// More redirects than kMaxRedirects (INET_E_REDIRECT_FAILED).
inline constexpr int32_t kTooManyRedirects = Code(0x800C0014u);
// The body is larger than the size cap (HRESULT of ERROR_FILE_TOO_LARGE).
inline constexpr int32_t kTooLarge = Code(0x800700DFu);
// The file cannot be created beside the target, e.g. its folder does not
// exist (HRESULT of ERROR_PATH_NOT_FOUND).
inline constexpr int32_t kCannotCreate = Code(0x80070003u);
// Writing the body, or putting the finished file in place, failed (HRESULT
// of ERROR_WRITE_FAULT).
inline constexpr int32_t kWriteFault = Code(0x8007001Du);
// The local file name is empty or names a folder (E_INVALIDARG).
inline constexpr int32_t kInvalidArgument = Code(0x80070057u);
// libcurl could not be set up (E_OUTOFMEMORY).
inline constexpr int32_t kOutOfMemory = Code(0x8007000Eu);
// Anything else (E_FAIL).
inline constexpr int32_t kUnexpected = Code(0x80004005u);

inline constexpr long kMaxRedirects = 10;

// The stall time-out counts from the start of the transfer and from every
// byte of the body that arrives, so it also bounds the wait for the first
// answer. Defaults, each overridable by a positive decimal number in the variable
// named beside it (the end-to-end tests shorten them; an unset, empty or
// malformed value keeps the default).
inline constexpr long kDefaultConnectTimeoutMs = 30'000;  // QUORVANE_CONNECT_TIMEOUT_MS
inline constexpr long kDefaultStallTimeoutMs = 60'000;    // QUORVANE_STALL_TIMEOUT_MS
// 1 GiB: far above any content archive, low enough that an endless body
// cannot fill the disk.
inline constexpr uint64_t kDefaultMaxBytes = uint64_t{1} << 30;  // QUORVANE_MAX_DOWNLOAD_BYTES

inline constexpr char kConnectTimeoutVariable[] = "QUORVANE_CONNECT_TIMEOUT_MS";
inline constexpr char kStallTimeoutVariable[] = "QUORVANE_STALL_TIMEOUT_MS";
inline constexpr char kMaxBytesVariable[] = "QUORVANE_MAX_DOWNLOAD_BYTES";

}  // namespace qv::platform::download
