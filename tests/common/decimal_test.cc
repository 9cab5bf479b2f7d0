#include "common/decimal.h"

#include <gtest/gtest.h>

#include <string>

namespace syslog_listen {
namespace {

struct Case {
  std::string text;
  std::int32_t value;
};

void Check(std::initializer_list<Case> cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(c.value, ParseDecimal(c.text)) << "[" << c.text << "]";
  }
}

TEST(ParseDecimal, SignAndWhiteSpace) {
  Check({{"13", 13},
         {"+13", 13},
         {"-13", -13},
         {" \t\n\v\f\r42", 42},
         {"  -7x", -7},
         {"+-1", 0},
         {"- 1", 0},
         {"1 2", 1},
         {"007", 7}});
}

TEST(ParseDecimal, WrapsModulo2To32) {
  Check({{"2147483647", 2147483647},
         {"2147483648", -2147483647 - 1},
         {"-2147483648", -2147483647 - 1},
         {"4294967295", -1},
         {"4294967296", 0},
         {"4294967309", 13},
         {"-4294967309", -13},
         {"99999999999999999999", 1661992959}});
}

TEST(ParseDecimal, NoDigitsGivesZero) {
  Check({{"", 0},
         {"abc", 0},
         {"-", 0},
         {"+", 0},
         {"   ", 0},
         {"0x10", 0},
         {std::string("\0"
                      "5",
                      2),
          0}});
}

TEST(ParseDecimal, StopsAtFirstNonDigit) {
  Check({{"514abc", 514},
         {"13>hello", 13},
         {"1\xff"
          "2",
          1}});
}

}  // namespace
}  // namespace syslog_listen
