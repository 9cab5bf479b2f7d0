// The texts the server writes as the tests expect them, and the masks and
// comparison that make its output comparable byte for byte.
#ifndef SYSLOG_LISTEN_TESTS_E2E_SUPPORT_TEXT_H_
#define SYSLOG_LISTEN_TESTS_E2E_SUPPORT_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace e2e {

// `text` as the server's outputs carry it: LF becomes CR LF on Windows.
std::string OnDisk(std::string_view text);

// The port number as the server prints it: its 16 bits read signed.
int SignedPort(int port);

// The banner line for `port` as MaskTimestamps shows it.
std::string Banner(int port);

// "b000042\n": a numbered line, for telling records apart in order.
std::string Numbered(char tag, int i);

// "" when the texts are equal; otherwise their sizes and a short excerpt of
// each where they first differ, so that a failure stays readable for texts
// of megabytes.
std::string Mismatch(const std::string& expected, const std::string& actual);

// Replaces every time stamp text ("Mon Jun 02 09:05:07 2025") with "<time>".
std::string MaskTimestamps(const std::string& text);

// Replaces how long a run lasted, in the account the server gives when it
// stops ("stopped after 2 min 5 s;"), with "<time>".
std::string MaskRunTime(std::string text);

// The size of the real text that `masked` stands for.
std::size_t RealSize(const std::string& masked);

// `text` without the Windows build's drop reports: they count the whole
// machine's drops, other tests' among them.
std::string WithoutMachineDrops(std::string text);

}  // namespace e2e

#endif  // SYSLOG_LISTEN_TESTS_E2E_SUPPORT_TEXT_H_
