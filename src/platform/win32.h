// What the Windows files of the platform seam share beyond text: handles
// closed by their owner, the list of processes, the console's set-up and
// the stop request's event, each defined in the file of its layer.
// Included by the Windows files only, after winsock2.h where that is
// included.
#ifndef SYSLOG_LISTEN_PLATFORM_WIN32_H_
#define SYSLOG_LISTEN_PLATFORM_WIN32_H_

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace syslog_listen::win32 {

// A handle that its owner closes with `Close`, and only once: move-only.
// Some calls report failure as INVALID_HANDLE_VALUE, others as null; either
// is no handle.
template <BOOL(WINAPI* Close)(HANDLE)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(HANDLE handle) : handle_(handle) {}
  ~Owned() {
    if (*this) Close(handle_);
  }
  Owned(Owned&& other) noexcept : handle_(other.Release()) {}
  // The handle held before goes to `other`, which closes it.
  Owned& operator=(Owned&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }

  explicit operator bool() const {
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
  }
  HANDLE Get() const { return handle_; }
  // For an owner that closes it by other means (a C runtime descriptor).
  HANDLE Release() { return std::exchange(handle_, nullptr); }

 private:
  HANDLE handle_ = nullptr;
};
using OwnedHandle = Owned<CloseHandle>;

// A C stream over `handle`, opened with the descriptor `flags` and stream
// `mode`, which then owns it; nullptr, the handle closed, on failure.
// Reads and writes go through the handle itself: the stream only holds it.
// (files_win32.cc)
std::FILE* StreamOf(OwnedHandle handle, int flags, const char* mode);
using OwnedSearch = Owned<FindClose>;  // from FindFirstFileW

// A process as the system lists it.
struct ProcessEntry {
  DWORD id = 0;
  DWORD parent = 0;
  std::wstring executable;  // the file's name, without its folder
};
// The processes running now, from one snapshot; empty when the system
// will not list them. (process_win32.cc)
std::vector<ProcessEntry> ListProcesses();

// Set by a request to stop, for a waiting receive to wake; null before
// WatchForStop. (process_win32.cc)
HANDLE StopEvent();

// Sets the console up for the server's output; RestoreConsole puts back,
// at the end, what is still as the server set it. (console_win32.cc)
void PrepareConsole(bool selectable);
void RestoreConsole();

}  // namespace syslog_listen::win32

#endif  // SYSLOG_LISTEN_PLATFORM_WIN32_H_
