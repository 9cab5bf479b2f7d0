// Text conversion and whole writes for the Windows side of the platform
// seam.
#include "platform/win32_text.h"

#include <io.h>

#include <algorithm>

namespace syslog_listen::win32 {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr,
                                         0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

// A file name as CreateFileW takes it whole. Windows refuses names of 260
// characters or more unless they carry the \\?\ prefix (or long paths are
// enabled for the whole system, which the manifest declares this program
// ready for), and the prefix takes only a full path.
std::wstring FullPathOf(const std::wstring& path) {
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD length = GetFullPathNameW(
      path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  // More than the room given: the working folder changed meanwhile.
  full.resize(length < full.size() ? length : 0);
  return full;
}

std::wstring WidePath(const std::string& name) {
  std::wstring path = Wide(name);
  constexpr std::size_t kShortLimit = MAX_PATH - 12;  // room for 8.3 names
  if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) return path;
  // The limit is on the full path, which a short name in a deep folder can
  // exceed.
  const std::wstring full = FullPathOf(path);
  if (full.size() < kShortLimit) return path;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

HANDLE HandleOf(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// Appends `bytes` as the C runtime's text mode would write them: a CR before
// every LF, also before one that follows a CR.
void AppendAsText(std::string& out, std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t lf = std::min(bytes.find('\n', at), bytes.size());
    out.append(bytes.substr(at, lf - at));
    if (lf < bytes.size()) out.append("\r\n");
    at = lf + 1;
  }
}

// All of `bytes` in one write where the handle takes them, where text mode
// makes one for every few hundred bytes; on a failure, how many it took
// before. A console or disk that is gone or full must not stop the server.
FileWrite WriteAll(HANDLE handle, std::string_view bytes) {
  FileWrite result;
  while (result.written < bytes.size()) {
    DWORD written = 0;
    const auto size = static_cast<DWORD>(
        std::min<std::size_t>(bytes.size() - result.written, 1u << 30));
    // What a failed write took still counts: the next must not repeat it.
    const BOOL ok = WriteFile(handle, bytes.data() + result.written, size,
                              &written, nullptr);
    result.written += written;
    if (!ok || written == 0) {
      const DWORD error = GetLastError();
      result.failure =
          !ok && (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
              ? FileWrite::Failure::kFull
              : FileWrite::Failure::kOther;
      break;
    }
  }
  return result;
}

}  // namespace syslog_listen::win32
