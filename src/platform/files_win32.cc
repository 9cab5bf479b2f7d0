// Windows side of the platform seam: the log file, opened append-only and
// shared, and followed by its name.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/win32.h"
#include "platform/win32_text.h"

namespace syslog_listen {

using win32::AppendAsText;
using win32::HandleOf;
using win32::OwnedHandle;
using win32::OwnedSearch;
using win32::WidePath;
using win32::WriteAll;

namespace {

// True when the junction at `path` mounts a volume (\??\Volume{...}\),
// which only an administrator can make: a disk put there for the logs.
bool MountsVolume(const std::wstring& path) {
  const OwnedHandle handle(CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return false;
  // The mount point's reparse data: tag, sizes, then the names.
  struct MountPoint {
    DWORD tag;
    WORD dataLength, reserved;
    WORD targetOffset, targetLength, printOffset, printLength;
    wchar_t names[MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(wchar_t)];
  };
  auto data = std::make_unique<MountPoint>();
  DWORD got = 0;
  const bool read =
      DeviceIoControl(handle.Get(), FSCTL_GET_REPARSE_POINT, nullptr, 0,
                      data.get(), sizeof *data, &got, nullptr);
  constexpr std::wstring_view kVolume = L"\\??\\Volume{";
  const std::size_t at = data->targetOffset / sizeof(wchar_t);
  return read && data->tag == IO_REPARSE_TAG_MOUNT_POINT &&
         data->targetLength / sizeof(wchar_t) >= kVolume.size() &&
         at + kVolume.size() <= std::size(data->names) &&
         std::wstring_view(data->names + at, kVolume.size()) == kVolume;
}

// Whether `path` is a link: a symbolic link or a junction, a reparse point
// that stands for another name, other than a volume mounted there. Tag 0,
// which no real reparse point has, is how wine shows a Unix link (and a
// Unix mount point alike). Other reparse points (a cloud file's, say) are
// folders as any other.
bool IsLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return false;
  }
  WIN32_FIND_DATAW found;
  if (!OwnedSearch(FindFirstFileW(path.c_str(), &found))) return true;
  if (found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT && MountsVolume(path)) {
    return false;
  }
  return found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0);
}

// Whether a folder part of `name`, as given, is a link. A drive ("C:") and
// "." or ".." name no folder of their own.
bool ThroughLinkedFolder(const std::string& name) {
  for (std::size_t end = name.find_first_of("\\/"); end != std::string::npos;
       end = name.find_first_of("\\/", end + 1)) {
    const std::string folder = name.substr(0, end);
    // npos + 1 is 0: the name's first part.
    const std::string_view last =
        std::string_view(folder).substr(folder.find_last_of("\\/") + 1);
    if (last.empty() || last.back() == ':' || last == "." || last == "..") {
      continue;
    }
    if (IsLink(WidePath(folder))) return true;
  }
  return false;
}

}  // namespace

std::FILE* OpenLogFile(const std::string& name, bool regularFileOnly) {
  // Append-only access: the system puts every write at the file's current
  // end, even after another process has truncated it. The C runtime's own
  // append mode only seeks to the end first, which a truncation between the
  // seek and the write turns into a hole. Shared with other readers and
  // writers, and with rotation by renaming or deleting.
  // Opened again after rotation, a reparse point (a symbolic link, a
  // junction) at the name is opened itself, and refused, rather than
  // followed to wherever its maker pointed it; a link in a folder part is
  // refused too, looked for before the open and again after it, for a
  // folder swapped meanwhile.
  if (regularFileOnly && ThroughLinkedFolder(name)) return nullptr;
  OwnedHandle handle(
      CreateFileW(WidePath(name).c_str(), FILE_APPEND_DATA,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL |
                      (regularFileOnly ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
                  nullptr));
  if (!handle) return nullptr;
  // Nor is a pipe or a device someone put at the name a log file.
  BY_HANDLE_FILE_INFORMATION info;
  if (regularFileOnly &&
      (GetFileType(handle.Get()) != FILE_TYPE_DISK ||
       !GetFileInformationByHandle(handle.Get(), &info) ||
       (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
       ThroughLinkedFolder(name))) {
    return nullptr;
  }
  // Written through its handle (WriteToFile).
  return win32::StreamOf(std::move(handle), _O_APPEND | _O_BINARY, "ab");
}

std::FILE* win32::StreamOf(OwnedHandle handle, int flags, const char* mode) {
  const int fd =
      _open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), flags);
  if (fd < 0) return nullptr;
  handle.Release();  // the descriptor's now, closed with it
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

std::string FullPath(const std::string& name) {
  // Without the long-name prefix WidePath adds: the user reads this one.
  const std::wstring full = win32::FullPathOf(win32::Wide(name));
  return full.empty() ? name : win32::Utf8(full);
}

FileBytes FileText(std::string_view bytes, std::span<const std::size_t> ends) {
  // Only the receive path writes the file.
  static std::string text;
  static std::vector<std::size_t> textEnds;
  text.clear();
  textEnds.clear();
  std::size_t from = 0;
  for (const std::size_t end : ends) {
    AppendAsText(text, bytes.substr(from, end - from));
    from = end;
    textEnds.push_back(text.size());
  }
  AppendAsText(text, bytes.substr(from));
  return {text, textEnds};
}

FileWrite WriteToFile(std::FILE* file, std::string_view bytes) {
  return WriteAll(HandleOf(file), bytes);
}

namespace {

// The volume and the file's index on it identify a file whatever its name.
bool SameFile(const BY_HANDLE_FILE_INFORMATION& a,
              const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool IsRegularFile(std::FILE* file) {
  return GetFileType(HandleOf(file)) == FILE_TYPE_DISK;
}

FileLinks LinksOf(std::FILE* file) {
  FILE_STANDARD_INFO info{};
  if (GetFileInformationByHandleEx(HandleOf(file), FileStandardInfo, &info,
                                   sizeof info) == 0) {
    return FileLinks::kNamed;
  }
  if (info.DeletePending) return FileLinks::kDeletePending;
  return info.NumberOfLinks == 0 ? FileLinks::kDeleted : FileLinks::kNamed;
}

NameState LookAtName(const std::string& name, std::FILE* file) {
  BY_HANDLE_FILE_INFORMATION open;
  if (!GetFileInformationByHandle(HandleOf(file), &open)) {
    return NameState::kMoved;
  }
  // No access asked for: only the file's identity is read.
  const OwnedHandle named(
      CreateFileW(WidePath(name).c_str(), 0,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!named) {
    // A file pending deletion cannot be opened either: when it is the open
    // one, the name is as good as gone.
    return GetLastError() == ERROR_ACCESS_DENIED &&
                   LinksOf(file) == FileLinks::kNamed
               ? NameState::kNoAccess
               : NameState::kMoved;
  }
  BY_HANDLE_FILE_INFORMATION current;
  const bool same = GetFileInformationByHandle(named.Get(), &current) != 0 &&
                    SameFile(open, current);
  return same ? NameState::kOpenFile : NameState::kMoved;
}

}  // namespace syslog_listen
