// A path inside a command we print, quoted so that the command still works
// when copied whole into a POSIX shell.
#ifndef SYSLOG_LISTEN_COMMON_SHELL_WORD_H_
#define SYSLOG_LISTEN_COMMON_SHELL_WORD_H_

#include <string>
#include <string_view>

namespace syslog_listen {

// `text` unchanged where every byte is one the shell takes as it is
// (letters, digits, "/._-+:,@"); else in single quotes, a quote inside as
// '\''. "" as ''.
std::string ShellWord(std::string_view text);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_COMMON_SHELL_WORD_H_
