// Runs the real server as a child process on a loopback port, sends it UDP
// datagrams and reads back what it wrote. POSIX only: the server under test
// may still be another platform's build, started through a command prefix.
#ifndef SYSLOG_LISTEN_TESTS_E2E_SUPPORT_HARNESS_H_
#define SYSLOG_LISTEN_TESTS_E2E_SUPPORT_HARNESS_H_

#include "support/process.h"
#include "support/text.h"
#include "support/udp.h"

#endif  // SYSLOG_LISTEN_TESTS_E2E_SUPPORT_HARNESS_H_
