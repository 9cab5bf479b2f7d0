// Windows side of the platform seam, the console: its code page, modes and
// title, set while the server runs and put back at the end, and writes to
// it. Both outputs get the bytes the C runtime's text mode would write (a
// CR before every LF), each block in one write; a text of the server's own
// goes to a console as UTF-16.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/win32.h"
#include "platform/win32_text.h"

namespace syslog_listen {

namespace {

using win32::AppendAsText;
using win32::HandleOf;
using win32::Wide;
using win32::WriteAll;

// The console as the user had it, put back when the process ends.
struct ConsoleState {
  bool codePageSet = false;
  UINT codePage = 0;
  HANDLE input = nullptr;
  bool inputModeSet = false;
  DWORD inputMode = 0;
  DWORD inputModeOurs = 0;  // as the console reports the mode we set
  HANDLE output = nullptr;
  bool outputModeSet = false;  // virtual-terminal processing, for colours
  DWORD outputMode = 0;
  DWORD outputModeOurs = 0;
  std::atomic<bool> titleSet{false};
  std::wstring title;  // the user's, while ours is shown
};
ConsoleState console;

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

// Puts back only what is still as the server set it: a code page the user
// chose meanwhile (chcp 1252, for legacy senders) stays theirs.
void win32::RestoreConsole() {
  if (console.codePageSet && GetConsoleOutputCP() == CP_UTF8) {
    SetConsoleOutputCP(console.codePage);
  }
  DWORD mode = 0;
  if (console.inputModeSet && GetConsoleMode(console.input, &mode) &&
      mode == console.inputModeOurs) {
    SetConsoleMode(console.input, console.inputMode);
  }
  if (console.outputModeSet && GetConsoleMode(console.output, &mode) &&
      mode == console.outputModeOurs) {
    SetConsoleMode(console.output, console.outputMode);
  }
  RestoreTitle();
}

// Received text is mostly UTF-8: the console shows it as such while the
// server runs, instead of as two or three wrong characters of its OEM code
// page. And a click in a console window with quick-edit on starts a
// selection that blocks every console write, and so the log file behind
// it, until the user presses a key: the server is not interactive, so it
// is turned off. Both are the console's, shared with the command prompt,
// and put back at the end.
void win32::PrepareConsole(bool selectable) {
  if (IsConsole(STD_OUTPUT_HANDLE) || IsConsole(STD_ERROR_HANDLE)) {
    console.codePage = GetConsoleOutputCP();
    console.codePageSet = SetConsoleOutputCP(CP_UTF8) != 0;
  }
  console.input = GetStdHandle(STD_INPUT_HANDLE);
  if (!selectable && GetConsoleMode(console.input, &console.inputMode)) {
    console.inputModeSet =
        SetConsoleMode(console.input,
                       (console.inputMode | ENABLE_EXTENDED_FLAGS) &
                           ~ENABLE_QUICK_EDIT_MODE) &&
        GetConsoleMode(console.input, &console.inputModeOurs);
  }
  std::atexit(RestoreConsole);
}

void WriteText(std::FILE* stream, std::string_view text) {
  const HANDLE handle = HandleOf(stream);
  std::string crlf;
  AppendAsText(crlf, text);
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) {
    WriteAll(handle, crlf);
    return;
  }
  // As UTF-16, which a console shows whatever its code page.
  const std::wstring wide = Wide(crlf);
  for (std::size_t at = 0; at < wide.size();) {
    // Old consoles refuse long writes.
    const auto size =
        static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
    DWORD written = 0;
    if (!WriteConsoleW(handle, wide.data() + at, size, &written, nullptr) ||
        written == 0) {
      return;
    }
    at += written;
  }
}

// A console takes each write whole, and a pipe queues writes whole: a
// report cannot land inside a block of records.
bool OutputsShareStream() { return false; }

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

bool TerminalColours() {
  // A legacy console refuses the mode, and would print the sequences.
  console.output = GetStdHandle(STD_OUTPUT_HANDLE);
  console.outputModeSet =
      GetConsoleMode(console.output, &console.outputMode) &&
      SetConsoleMode(console.output,
                     console.outputMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
      GetConsoleMode(console.output, &console.outputModeOurs);
  return console.outputModeSet;
}

bool TitleSettable() { return IsConsole(STD_OUTPUT_HANDLE); }

void SetTitle(std::string_view title) {
  if (!console.titleSet) {
    // The user's own, to put back at the end.
    wchar_t was[1024] = {};
    GetConsoleTitleW(was, 1024);
    console.title = was;
    console.titleSet = true;
  }
  SetConsoleTitleW(Wide(title).c_str());
}

bool RestoreTitle() {
  if (console.titleSet.exchange(false)) {
    SetConsoleTitleW(console.title.c_str());
  }
  return true;
}

bool ReportWouldStartMidLine() {
  CONSOLE_SCREEN_BUFFER_INFO screen;
  return GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &screen) &&
         screen.dwCursorPosition.X != 0;
}

ConsoleOwners LookAtConsole() {
  DWORD processes[2];
  return {.processes = static_cast<int>(GetConsoleProcessList(processes, 2)),
          .input = IsConsole(STD_INPUT_HANDLE),
          .error = IsConsole(STD_ERROR_HANDLE)};
}

void WaitForKey() {
  // The console as the user had it, quick-edit included: the window's text
  // can be selected and copied meanwhile.
  win32::RestoreConsole();
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // A key pressed before the line was there is no answer to it.
  FlushConsoleInputBuffer(input);
  INPUT_RECORD event;
  DWORD read = 0;
  while (ReadConsoleInputW(input, &event, 1, &read) && read == 1) {
    if (event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown) return;
  }
}

bool ConsoleGone() {
  // Writing nothing to a pipe fails once its reader has gone.
  const HANDLE out = HandleOf(stdout);
  DWORD written = 0;
  return GetFileType(out) == FILE_TYPE_PIPE &&
         !WriteFile(out, "", 0, &written, nullptr) &&
         (GetLastError() == ERROR_NO_DATA ||
          GetLastError() == ERROR_BROKEN_PIPE);
}

namespace {

// Set once the console's writes are given up.
std::atomic<bool> givenUp{false};
// The thread inside a console write, for GiveUpConsoleWrites to cancel it;
// null while there is none.
std::atomic<HANDLE> writing{nullptr};

// The bytes of `pieces` that `taken` bytes of their text-mode form hold:
// an LF counts once its CR and it are both taken.
std::size_t PiecesTaken(std::span<const std::string_view> pieces,
                        std::size_t taken) {
  std::size_t bytes = 0;
  for (const std::string_view piece : pieces) {
    for (const char c : piece) {
      const std::size_t width = c == '\n' ? 2 : 1;
      if (taken < width) return bytes;
      taken -= width;
      ++bytes;
    }
  }
  return bytes;
}

}  // namespace

std::size_t WriteToConsole(std::span<const std::string_view> pieces) {
  // A handle to this thread that may cancel its writes, kept for its life.
  thread_local const win32::OwnedHandle self(
      OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()));
  static std::string text;  // only the console's writer writes the console
  text.clear();
  for (const std::string_view piece : pieces) AppendAsText(text, piece);
  writing.store(self.Get());
  // Given up before the write began: CancelSynchronousIo found nothing to
  // cancel.
  const std::size_t taken =
      givenUp.load() ? 0 : WriteAll(HandleOf(stdout), text).written;
  writing.store(nullptr);
  return PiecesTaken(pieces, taken);
}

void GiveUpConsoleWrites() {
  givenUp.store(true);
  if (const HANDLE thread = writing.load()) CancelSynchronousIo(thread);
}

}  // namespace syslog_listen
