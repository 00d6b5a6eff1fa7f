// The download is urlmon's own call: it follows redirects, honours the
// system's proxy settings and writes the file itself.
#include "platform/Download.h"

#include "platform/win32/Win32Support.h"

// After windows.h: urlmon.h needs its COM types.
#include <urlmon.h>

namespace qv::platform {

namespace {

// URL monikers are COM objects; the call needs COM on this thread. When the
// thread already has it (in either apartment), that is left as it is.
class ComScope {
 public:
  ComScope() : initialised_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (initialised_) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_;
};

}  // namespace

int32_t URLDownloadToFileA(void* caller, const std::string& url, const std::string& file,
                           uint32_t reserved, void* callback) {
  ComScope com;
  const HRESULT status = ::URLDownloadToFileA(static_cast<IUnknown*>(caller), url.c_str(),
                                              file.c_str(), static_cast<DWORD>(reserved),
                                              static_cast<IBindStatusCallback*>(callback));
  // Wine reports success for a target it could not write; a success
  // without the file is a failure.
  if (status == S_OK && ::GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return static_cast<int32_t>(INET_E_DOWNLOAD_FAILURE);
  }
  return static_cast<int32_t>(status);
}

}  // namespace qv::platform
