#include "records/names.h"

#include <gtest/gtest.h>

namespace syslog_listen {
namespace {

TEST(FacilityName, TableEdgesAndOutside) {
  EXPECT_EQ("kernel", FacilityName(0));
  EXPECT_EQ("user level", FacilityName(1));
  EXPECT_EQ("alert", FacilityName(14));
  EXPECT_EQ("info", FacilityName(16));
  EXPECT_EQ("debug L3", FacilityName(19));
  EXPECT_EQ("p4", FacilityName(23));
  for (int index : {-1, -23, 24, 1000}) {
    EXPECT_EQ(kUnknownName, FacilityName(index)) << index;
  }
}

TEST(SeverityName, TableEdgesAndOutside) {
  EXPECT_EQ("emergency", SeverityName(0));
  // "alert" and "info" mean something else here than as facilities.
  EXPECT_EQ("alert", SeverityName(1));
  EXPECT_EQ("notice", SeverityName(5));
  EXPECT_EQ("info", SeverityName(6));
  EXPECT_EQ("debug", SeverityName(7));
  for (int index : {-1, 8}) {
    EXPECT_EQ(kUnknownName, SeverityName(index)) << index;
  }
}

}  // namespace
}  // namespace syslog_listen
