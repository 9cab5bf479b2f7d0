// Windows side of the platform seam for the live view: reading a log file
// that is written, renamed and deleted meanwhile, the service's folder, and
// a pause that a stop request ends.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/messages.h"
#include "platform/platform.h"
#include "platform/win32.h"
#include "platform/win32_text.h"

namespace syslog_listen {

using win32::HandleOf;
using win32::OwnedHandle;
using win32::OwnedSearch;
using win32::Utf8;
using win32::Wide;
using win32::WidePath;

namespace {

// Shared for all three: a reader that leaves out FILE_SHARE_DELETE makes
// every rename or deletion of the file fail while it is open, the
// server's rotation among them.
constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 |
                          info.nFileIndexLow};
}

}  // namespace

std::FILE* OpenToFollow(const std::string& name, bool* missing) {
  OwnedHandle handle(CreateFileW(WidePath(name).c_str(), GENERIC_READ,
                                 kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD error = GetLastError();
  *missing = !handle &&
             (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
  if (!handle || GetFileType(handle.Get()) != FILE_TYPE_DISK) return nullptr;
  // Read through its handle (ReadAt).
  return win32::StreamOf(std::move(handle), _O_RDONLY | _O_BINARY, "rb");
}

std::optional<FileIdentity> IdentityOf(std::FILE* file) {
  return IdentityOfHandle(HandleOf(file));
}

std::optional<FileIdentity> IdentityAt(const std::string& name) {
  // No access asked for: only the file's identity is read.
  const OwnedHandle named(CreateFileW(WidePath(name).c_str(), 0, kShareAll,
                                      nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!named) return std::nullopt;
  return IdentityOfHandle(named.Get());
}

std::optional<std::uint64_t> SizeOf(std::FILE* file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(HandleOf(file), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t ReadAt(std::FILE* file, std::uint64_t offset,
                   std::span<char> into) {
  // On a handle opened for synchronous reads, the offset places the read.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  const auto size =
      static_cast<DWORD>(std::min<std::size_t>(into.size(), 1u << 30));
  if (!ReadFile(HandleOf(file), into.data(), size, &read, &at)) return 0;
  return read;
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  WIN32_FIND_DATAW found;
  const OwnedSearch search(
      FindFirstFileW(WidePath(folder + "\\*").c_str(), &found));
  if (!search) return entries;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::string name = Utf8(found.cFileName);
    entries.push_back(
        {name, folder + "\\" + name,
         static_cast<std::int64_t>(
             static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime)
                 << 32 |
             found.ftLastWriteTime.dwLowDateTime)});
  } while (FindNextFileW(search.Get(), &found));
  return entries;
}

std::string ServiceLogFolder() {
  wchar_t data[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  const std::string root = length > 0 && length < MAX_PATH
                               ? Utf8(std::wstring_view(data, length))
                               : std::string("C:\\ProgramData");
  return root + "\\syslog-listen";
}

std::string_view ServiceNoticesPlace() { return kEventLogNotices; }

void PauseUnlessStopped(std::chrono::milliseconds length) {
  const auto ms = static_cast<DWORD>(length.count());
  const HANDLE stop = win32::StopEvent();
  if (stop != nullptr) {
    WaitForSingleObject(stop, ms);
  } else {
    Sleep(ms);
  }
}

}  // namespace syslog_listen
