#include "records/priority.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace syslog_listen {
namespace {

TEST(ParsePriority, HeaderRules) {
  struct {
    const char* text;
    std::int32_t priority;
    const char* body;
  } cases[] = {
      {"<13>hello", 13, "hello"},
      {"hello", 0, "hello"},
      {"", 0, ""},
      {"<", 0, "<"},
      {"<0>boot", 0, "<0>boot"},
      {"<abc>x", 0, "<abc>x"},
      {" <13>x", 0, " <13>x"},
      {"< 13>x", 13, "x"},
      {"<+13>x", 13, "x"},
      {"<13 no close", 13, "<13 no close"},
      {"<13>a>b", 13, "a>b"},
      {"<13x>y", 13, "y"},
      {"<13>", 13, ""},
      {"<191>x", 191, "x"},
      {"<4294967309>x", 13, "x"},
      {"<4294967296>x", 0, "<4294967296>x"},
      {"<-8>x", -8, "x"},
      {"<%n%s>%n", 0, "<%n%s>%n"},
  };
  for (const auto& c : cases) {
    const PriorityHeader header = ParsePriority(c.text);
    EXPECT_EQ(c.priority, header.priority) << c.text;
    EXPECT_EQ(c.body, header.body) << c.text;
  }
}

TEST(ParsePriority, BodyIsASuffixOfTheText) {
  const std::string text = "<34>su: 'su root' failed";
  const PriorityHeader header = ParsePriority(text);
  EXPECT_EQ(text.data() + 4, header.body.data());
  EXPECT_EQ(text.data() + text.size(), header.body.data() + header.body.size());
}

TEST(PriorityIndexes, FacilityAndSeverity) {
  struct {
    std::int32_t priority;
    int facility;
    int severity;
  } cases[] = {
      {13, 1, 5},   {191, 23, 7}, {192, 0, 0},       {7, 0, 7},
      {8, 1, 0},    {-1, -1, 7},  {-8, -1, 0},       {-184, -23, 0},
      {-191, 0, 1}, {-192, 0, 0}, {INT_MIN, -16, 0}, {INT_MAX, 15, 7},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.facility, FacilityIndex(c.priority)) << c.priority;
    EXPECT_EQ(c.severity, SeverityIndex(c.priority)) << c.priority;
  }
}

}  // namespace
}  // namespace syslog_listen
