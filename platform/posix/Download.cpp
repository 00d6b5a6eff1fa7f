// URLDownloadToFileA on POSIX, done with libcurl.
//
// What it guarantees beyond a plain fetch:
//  - only http and https, for the URL and for every redirect (a redirect to
//    file: or ftp: must not turn a web link into a read of local files);
//  - at most kMaxRedirects redirects; a final status outside 2xx fails;
//  - a connect time-out and a stall time-out (no byte for a while), so a dead
//    or silent server cannot hang the installer; a slow server that keeps
//    sending is never cut off;
//  - a size cap, so an endless body cannot fill the disk;
//  - the body is written to a temporary file in the target's own folder and
//    renamed onto the target only when the transfer is complete (as long as
//    the server announced, when it announced a length): after any failure
//    the target is as it was before and no temporary file is left.
// Proxies come from the environment (http_proxy, https_proxy, no_proxy...),
// as libcurl reads them by itself.
//
// https: hosting sites answer an http: address with a redirect to https:.
// libcurl looks for the trusted certificates where the system it was built
// for keeps them; the Linux bundle carries Debian's libcurl to systems that
// keep them elsewhere (Fedora, openSUSE), so the certificates are looked for
// here, in the places of the common distributions. Where there are none the
// https download fails, and standard error says why.
#include "platform/Download.h"

#include <curl/curl.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/posix/DownloadCodes.h"
#include "platform/posix/PosixSupport.h"

namespace qv::platform {

namespace {

using namespace download;
using Clock = std::chrono::steady_clock;

// An owner of one of libcurl's objects, released by the libcurl call that
// goes with it.
template <auto Release>
struct CurlRelease {
  template <typename Object>
  void operator()(Object* object) const noexcept {
    Release(object);
  }
};
using EasyHandle = std::unique_ptr<CURL, CurlRelease<curl_easy_cleanup>>;
using UrlHandle = std::unique_ptr<CURLU, CurlRelease<curl_url_cleanup>>;
using HeaderList = std::unique_ptr<curl_slist, CurlRelease<curl_slist_free_all>>;
using CurlString = std::unique_ptr<char, CurlRelease<curl_free>>;
using MultiHandle = std::unique_ptr<CURLM, CurlRelease<curl_multi_cleanup>>;

// libcurl wants its global set-up once per process, before any handle.
bool GlobalInit() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ok;
}

// A positive decimal number from the environment, else `fallback`.
template <typename T>
T FromEnvironment(const char* name, T fallback) {
  const std::string setting = GetEnvironment(name);
  if (setting.empty()) return fallback;
  T value{};
  const char* text = setting.data();
  const char* end = text + setting.size();
  const auto [last, error] = std::from_chars(text, end, value);
  if (error != std::errc() || last != end || value <= 0) return fallback;
  return value;
}

// The folder part of `file` (Windows or native form) and whether the name
// part is non-empty. "a.zip" lies in the current folder.
bool SplitFolder(const std::string& file, std::string& folder) {
  const size_t slash = file.find_last_of("/\\");
  if (slash == std::string::npos) {
    // "C:a.zip" means the current folder of drive C, which has no meaning
    // here; only a bare name is taken as relative.
    if (file.size() >= 2 && file[1] == ':') return false;
    folder = ".";
    return !file.empty();
  }
  if (slash + 1 == file.size()) return false;
  // Keep the separator for a root ("/", "C:\"), drop it elsewhere.
  const bool root = slash == 0 || (slash == 2 && file[1] == ':');
  folder = file.substr(0, root ? slash + 1 : slash);
  return true;
}

// The system's trusted certificates: a file of PEM certificates, a folder of
// them under their hash names (OpenSSL's c_rehash layout), or both.
struct TrustStore {
  std::string file;
  std::string folder;
  bool Empty() const { return file.empty() && folder.empty(); }
};

// Certificate files, each distribution's own first; the later ones are the
// files that the earlier names link to on the same systems.
constexpr const char* kTrustFiles[] = {
    "/etc/ssl/certs/ca-certificates.crt",                 // Debian, Ubuntu, Arch, SteamOS
    "/etc/pki/tls/certs/ca-bundle.crt",                   // Fedora, RHEL
    "/etc/ssl/ca-bundle.pem",                             // openSUSE
    "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",  // Fedora, RHEL
    "/var/lib/ca-certificates/ca-bundle.pem",             // openSUSE
    "/etc/ssl/cert.pem",                                  // Alpine; a link on Arch
};
// Hashed folders, for a system that has no single file.
constexpr const char* kTrustFolders[] = {
    "/etc/ssl/certs",                    // Debian, Ubuntu, Arch, openSUSE
    "/var/lib/ca-certificates/openssl",  // openSUSE
};

bool NonEmptyFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
         ::access(path.c_str(), R_OK) == 0;
}

// A folder in OpenSSL's c_rehash layout: certificates under names made of
// their subject's hash ("9d04f354.0"). A folder without them (Fedora's
// /etc/pki/tls/certs holds the bundle file only) serves nothing.
bool HashedFolder(const std::string& path) {
  const posix::UniqueFolderListing folder(::opendir(path.c_str()));
  if (!folder.Valid()) return false;
  bool hashed = false;
  while (const dirent* entry = ::readdir(folder.Get())) {
    const std::string_view name = entry->d_name;
    hashed = name.size() >= 10 && name[8] == '.' &&
             name.find_first_not_of("0123456789abcdef") == 8 &&
             name.find_first_not_of("0123456789", 9) == std::string_view::npos;
    if (hashed) break;
  }
  return hashed;
}

// SSL_CERT_FILE and SSL_CERT_DIR, which OpenSSL itself honours, name the
// store first; then the places above: a file where there is one, which
// holds every certificate, else a hashed folder.
TrustStore FindTrustStore() {
  TrustStore store;
  if (const std::string file = GetEnvironment("SSL_CERT_FILE"); NonEmptyFile(file)) {
    store.file = file;
  }
  if (const std::string folder = GetEnvironment("SSL_CERT_DIR"); HashedFolder(folder)) {
    store.folder = folder;
  }
  if (!store.Empty()) return store;
  for (const char* file : kTrustFiles) {
    if (NonEmptyFile(file)) {
      store.file = file;
      return store;
    }
  }
  for (const char* folder : kTrustFolders) {
    if (HashedFolder(folder)) {
      store.folder = folder;
      return store;
    }
  }
  return store;
}

void SayNoTrustStore() {
  std::string text =
      "quorvane-installer: no trusted certificates found, so no https download can be checked "
      "(looked for SSL_CERT_FILE, SSL_CERT_DIR";
  for (const char* file : kTrustFiles) text += std::string(", ") + file;
  for (const char* folder : kTrustFolders) text += std::string(", ") + folder + "/";
  text += "); install the system's CA certificates (ca-certificates)\n";
  // Best effort: there is nothing to do when standard error is gone.
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

// Checks the URL before anything touches the disk: it must parse, and its
// scheme must be http or https.
int32_t CheckUrl(const std::string& url) {
  if (url.empty()) return kInvalidUrl;
  UrlHandle parsed(curl_url());
  if (!parsed) return kOutOfMemory;
  // Parse any scheme, so that an unsupported one is told apart from a
  // malformed URL; a URL without a scheme is refused rather than guessed.
  const CURLUcode set =
      curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME);
  if (set != CURLUE_OK) return kInvalidUrl;
  char* raw = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &raw, 0) != CURLUE_OK) return kInvalidUrl;
  const CurlString scheme(raw);
  if (std::strcmp(scheme.get(), "http") != 0 && std::strcmp(scheme.get(), "https") != 0) {
    return kUnknownProtocol;  // curl gives the scheme in lower case
  }
  return 0;
}

// State shared with libcurl's callbacks for one transfer. The callbacks
// never throw: they record what went wrong and tell libcurl to stop.
struct Transfer {
  File* file = nullptr;
  uint64_t received = 0;
  uint64_t maxBytes = kDefaultMaxBytes;
  bool tooLarge = false;
  bool writeFailed = false;

  std::chrono::milliseconds stallTimeout{kDefaultStallTimeoutMs};
  Clock::time_point lastProgress = Clock::now();
  curl_off_t lastReceived = 0;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;  // libcurl guarantees size == 1
  if (bytes > transfer->maxBytes - transfer->received) {
    transfer->tooLarge = true;
    return 0;  // anything but `bytes` makes libcurl stop with CURLE_WRITE_ERROR
  }
  try {
    transfer->file->Write(data, bytes);
  } catch (...) {
    transfer->writeFailed = true;
    return 0;
  }
  transfer->received += bytes;
  return bytes;
}

// Notes when bytes last arrived; the transfer loop decides what a stall is.
int Progress(void* user, curl_off_t /*downloadTotal*/, curl_off_t downloadNow,
             curl_off_t /*uploadTotal*/, curl_off_t /*uploadNow*/) {
  auto* transfer = static_cast<Transfer*>(user);
  if (downloadNow != transfer->lastReceived) {
    transfer->lastReceived = downloadNow;
    transfer->lastProgress = Clock::now();
  }
  return 0;
}

// An easy handle attached to a multi handle for the life of this object;
// it must go before either handle is cleaned up.
class Attachment {
 public:
  Attachment(CURLM* multi, CURL* easy)
      : multi_(multi), easy_(easy), attached_(curl_multi_add_handle(multi, easy) == CURLM_OK) {}
  ~Attachment() {
    if (attached_) curl_multi_remove_handle(multi_, easy_);
  }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
  bool Attached() const noexcept { return attached_; }

 private:
  CURLM* multi_;
  CURL* easy_;
  bool attached_;
};

// Runs the transfer, waking at least every kPollSlice to look for a stall.
// curl_easy_perform would do, were it not that libcurl's own low-speed
// limit counts whole seconds and its progress callback may come only once a
// second when nothing arrives: too coarse for the short stall time-outs that
// tests set.
CURLcode Perform(CURL* easy, Transfer& transfer) {
  constexpr std::chrono::milliseconds kPollSlice{50};
  MultiHandle multi(curl_multi_init());
  if (!multi) return CURLE_OUT_OF_MEMORY;
  const Attachment attachment(multi.get(), easy);
  if (!attachment.Attached()) return CURLE_OUT_OF_MEMORY;
  transfer.lastProgress = Clock::now();
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return CURLE_RECV_ERROR;
    if (running == 0) break;
    if (Clock::now() - transfer.lastProgress >= transfer.stallTimeout) {
      return CURLE_OPERATION_TIMEDOUT;
    }
    if (curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(kPollSlice.count()), nullptr) !=
        CURLM_OK) {
      return CURLE_RECV_ERROR;
    }
  }
  int left = 0;
  while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
    if (message->msg == CURLMSG_DONE) return message->data.result;
  }
  return CURLE_RECV_ERROR;  // libcurl always reports a finished transfer
}

int32_t FromCurl(CURLcode code, const Transfer& transfer) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kUnknownProtocol;
    case CURLE_URL_MALFORMAT:
      return kInvalidUrl;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kTimeout;
    case CURLE_TOO_MANY_REDIRECTS:
      return kTooManyRedirects;
    case CURLE_HTTP_RETURNED_ERROR:
      return kHttpStatus;
    case CURLE_FILESIZE_EXCEEDED:
      return kTooLarge;
    case CURLE_OUT_OF_MEMORY:
      return kOutOfMemory;
    case CURLE_WRITE_ERROR:
      if (transfer.tooLarge) return kTooLarge;
      return transfer.writeFailed ? kWriteFault : kDownloadFailure;
    default:
      return kDownloadFailure;
  }
}

// Runs the transfer into `file`; 0 when the whole body is in it.
// The request's extra header lines: with kBindGetNewestVersion, caches on the
// way (proxies) are asked for a fresh copy, as the flag means. False when
// memory ran out.
bool AddHeaders(uint32_t bindFlags, HeaderList& headers) {
  if ((bindFlags & kBindGetNewestVersion) == 0) return true;
  for (const char* line : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
    curl_slist* grown = curl_slist_append(headers.get(), line);
    if (grown == nullptr) return false;
    (void)headers.release();
    headers.reset(grown);
  }
  return true;
}

// Every option of the transfer. They cannot fail on a libcurl built with
// http; their results are checked together so that a stripped-down build is
// noticed.
CURLcode SetOptions(CURL* h, const std::string& url, Transfer& transfer, const HeaderList& headers,
                    const TrustStore& trust) {
  CURLcode set = CURLE_OK;
  auto option = [&set](CURLcode result) {
    if (set == CURLE_OK) set = result;
  };
  const long connectTimeoutMs =
      FromEnvironment<long>(kConnectTimeoutVariable, kDefaultConnectTimeoutMs);
  option(curl_easy_setopt(h, CURLOPT_URL, url.c_str()));
  option(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
  option(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
  option(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L));
  option(curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects));
  option(curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L));
  option(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));  // no SIGALRM in a threaded process
  option(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs));
  option(
      curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(transfer.maxBytes)));
  option(curl_easy_setopt(h, CURLOPT_USERAGENT, "quorvane-installer/1.0"));
  // Large reads: an archive arrives in a few hundred writes instead of thousands.
  option(curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 512L * 1024L));
  option(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody));
  option(curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer));
  option(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
  option(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Progress));
  option(curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer));
  if (headers) option(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()));
  // Set either way: with none found nothing is trusted, rather than a place
  // that only the build machine had.
  option(curl_easy_setopt(h, CURLOPT_CAINFO, trust.file.empty() ? nullptr : trust.file.c_str()));
  option(
      curl_easy_setopt(h, CURLOPT_CAPATH, trust.folder.empty() ? nullptr : trust.folder.c_str()));
  return set;
}

// After a transfer that libcurl let through: 0 when it carried the whole
// resource, else the code that says why not.
int32_t CheckAnswer(CURL* h, const Transfer& transfer) {
  // libcurl lets a final 3xx without a Location through as a success; only
  // a 2xx answer carries the resource.
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) return kHttpStatus;
  // libcurl already fails when the connection ends before the announced
  // length; this also catches any other mismatch.
  curl_off_t announced = -1;
  curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  if (announced >= 0 && static_cast<uint64_t>(announced) != transfer.received) {
    return kDownloadFailure;
  }
  return 0;
}

int32_t Fetch(const std::string& url, uint32_t bindFlags, File& file) {
  EasyHandle easy(curl_easy_init());
  if (!easy) return kOutOfMemory;
  CURL* h = easy.get();

  Transfer transfer;
  transfer.file = &file;
  transfer.maxBytes = FromEnvironment<uint64_t>(kMaxBytesVariable, kDefaultMaxBytes);
  transfer.stallTimeout = std::chrono::milliseconds(
      FromEnvironment<long>(kStallTimeoutVariable, kDefaultStallTimeoutMs));
  HeaderList headers;
  if (!AddHeaders(bindFlags, headers)) return kOutOfMemory;
  const TrustStore trust = FindTrustStore();
  if (const CURLcode set = SetOptions(h, url, transfer, headers, trust); set != CURLE_OK) {
    return set == CURLE_UNSUPPORTED_PROTOCOL ? kUnknownProtocol : kUnexpected;
  }

  const CURLcode result = Perform(h, transfer);
  if (result != CURLE_OK) {
    if (trust.Empty() &&
        (result == CURLE_PEER_FAILED_VERIFICATION || result == CURLE_SSL_CACERT_BADFILE)) {
      SayNoTrustStore();
    }
    return FromCurl(result, transfer);
  }
  return CheckAnswer(h, transfer);
}

void RemoveQuietly(const std::string& path) {
  try {
    RemoveFile(path);
  } catch (...) {
  }
}

}  // namespace

int32_t URLDownloadToFileA(void* /*caller*/, const std::string& url, const std::string& file,
                           uint32_t reserved, void* /*callback*/) {
  // `caller` and `callback` are COM objects on Windows; there is nothing to
  // call here, and the installer passes null for both.
  try {
    if (!GlobalInit()) return kOutOfMemory;
    if (const int32_t checked = CheckUrl(url); checked != 0) return checked;
    std::string folder;
    if (!SplitFolder(file, folder)) return kInvalidArgument;

    std::string temporaryPath;
    std::optional<File> temporary;
    try {
      temporary.emplace(File::CreateTemporaryIn(folder, temporaryPath));
    } catch (...) {
      return kCannotCreate;
    }

    int32_t result = Fetch(url, reserved, *temporary);
    if (result == 0) {
      try {
        temporary->Flush();
        temporary->Close();
        ReplaceFileAtomically(temporaryPath, file);
      } catch (...) {
        result = kWriteFault;
      }
    }
    if (result != 0) {
      try {
        temporary->Close();
      } catch (...) {
      }
      RemoveQuietly(temporaryPath);
    }
    return result;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return kUnexpected;
  }
}

}  // namespace qv::platform
