#include "listener/server.h"

#include <gtest/gtest.h>

namespace syslog_listen {
namespace {

TEST(LogFileName, DefaultUsesTheSignedPort) {
  struct {
    std::int16_t port;
    const char* name;
    const char* expected;
  } cases[] = {{514, "", "syslog.514.log"},
               {600, "", "syslog.600.log"},
               {-25536, "", "syslog.-25536.log"},
               {-1, "", "syslog.-1.log"},
               {514, "logs/router.log", "logs/router.log"}};
  for (const auto& c : cases) {
    Settings settings;
    settings.port = c.port;
    settings.outputFileName = c.name;
    EXPECT_EQ(c.expected, LogFileName(settings));
  }
}

TEST(BannerText, SignedPortAndTimestampWithLineFeed) {
  EXPECT_EQ("syslog server(port:514) started on Mon Jun 02 09:05:07 2025\n",
            BannerText(514, "Mon Jun 02 09:05:07 2025"));
  EXPECT_EQ("syslog server(port:-25536) started on Tue Jun 03 00:00:00 2025\n",
            BannerText(-25536, "Tue Jun 03 00:00:00 2025"));
}

}  // namespace
}  // namespace syslog_listen
