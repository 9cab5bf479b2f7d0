// Opening a file by a name in which others may have planted links (POSIX).
#ifndef SYSLOG_LISTEN_PLATFORM_OPEN_POSIX_H_
#define SYSLOG_LISTEN_PLATFORM_OPEN_POSIX_H_

#include <string>

namespace syslog_listen {

// open(name, flags, 0644), except that a symbolic link anywhere in `name`,
// at a folder or at the last part, is followed only when root or this
// process's user made it, and the same for each link it leads to. A
// descriptor, or -1 with errno set (ELOOP for a link refused).
int OpenWithoutPlantedLinks(const std::string& name, int flags);

}  // namespace syslog_listen

#endif  // SYSLOG_LISTEN_PLATFORM_OPEN_POSIX_H_
