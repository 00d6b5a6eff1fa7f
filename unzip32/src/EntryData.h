// Decoding the data of one entry in fixed-size pieces: reading, decrypting,
// inflating or copying, counting and checking the CRC-32. Memory use does not
// depend on the size of the entry.
#ifndef UNZIP32_ENTRYDATA_H
#define UNZIP32_ENTRYDATA_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FileIO.h"
#include "ZipDirectory.h"

namespace unzip32 {

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// Deflate's ceiling: every code takes at least one bit, a match of at most
// 258 bytes takes two codes (length and distance), a literal gives one byte
// and a stored block no more than it holds. So no stream gives more than 258
// bytes for every two bits, 1032 bytes for every byte it has; block headers,
// the first literal and the end codes only keep real streams below that
// (zeros deflated as densely as deflate allows come to about 1031.99:1). A
// declared size beyond 1032 times the compressed size is a lie.
constexpr uint64_t kMaxDeflateRatio = 1032;

// Receives the decoded bytes of an entry.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Put(const uint8_t* data, size_t length, std::string& error) = 0;
};

// Gives text entries CR LF line ends: a lone LF or a lone CR becomes CR LF,
// CR LF stays as it is.
class CrLfSink final : public Sink {
 public:
  explicit CrLfSink(Sink& next) : next_(next) {}
  bool Put(const uint8_t* data, size_t length, std::string& error) override;

 private:
  Sink& next_;
  bool afterCr_ = false;
  uint8_t buffer_[8192];
};

// Whether the entry's method and flags are supported; empty when they are,
// else the reason.
std::string UnsupportedReason(const CentralEntry& entry);

// Whether a declared size is possible for the compressed size; empty when it
// is, else the reason.
std::string ImpossibleSizeReason(const CentralEntry& entry);

// Whether the entry's data descriptor, when one follows, agrees with the
// central header; empty when it does, else the reason.
std::string DescriptorReason(const CentralEntry& entry, const EntryPlace& place);

// For an encrypted entry: whether `password` passes the check byte of the
// entry's encryption header. False with `problem` set when the header cannot
// be read.
bool PasswordPassesCheck(const fileio::ArchiveFile& file, const CentralEntry& entry,
                         const EntryPlace& place, std::string_view password, bool& passes,
                         Problem& problem);

// Decodes the entry's data into `sink`, never producing more than the
// declared size, and checks size and CRC-32, and the data descriptor when
// one follows. `password` is used for an encrypted entry. On failure
// `problem` holds the result code and text.
//
// The data end where the deflate stream ends: bytes after its end within the
// compressed size are never read.
bool DecodeEntry(const fileio::ArchiveFile& file, const CentralEntry& entry,
                 const EntryPlace& place, const std::optional<std::string>& password, Sink& sink,
                 Problem& problem);

}  // namespace unzip32

#endif  // UNZIP32_ENTRYDATA_H
