// The files the log is written to, as LogFile uses them: abstract so that
// tests can put a fake disk in place of the platform's.
#ifndef SYSLOG_LISTEN_SERVER_LOG_DISK_H_
#define SYSLOG_LISTEN_SERVER_LOG_DISK_H_

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace syslog_listen {

class LogDisk {
 public:
  // An open log file, written unbuffered; closed when destroyed.
  class File {
   public:
    virtual ~File() = default;
    // Appends `bytes`; on a failure, says how many it took first.
    virtual FileWrite Write(std::string_view bytes) = 0;
    // False for a FIFO or a device, which is not followed.
    virtual bool IsRegular() = 0;
    // Whether the file still has a name.
    virtual FileLinks Links() = 0;
    // What `name` names now, as seen from this file.
    virtual NameState LookAtName(const std::string& name) = 0;
  };

  virtual ~LogDisk() = default;
  // Opens `name` again after rotation, as a regular file only (see
  // OpenLogFile); nullptr on failure.
  virtual std::unique_ptr<File> Reopen(const std::string& name) = 0;
};

// The platform's disk, and a file on it that OpenLogFile opened.
LogDisk& PlatformDisk();
std::unique_ptr<LogDisk::File> PlatformFile(std::FILE* file);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_SERVER_LOG_DISK_H_
