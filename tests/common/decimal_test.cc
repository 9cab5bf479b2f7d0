#include "common/decimal.h"

#include <gtest/gtest.h>

#include <string>

namespace syslog_listen {
namespace {

TEST(ParseDecimal, SignSpaceDigitsAndAWrapModulo2To32) {
  const struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      // Sign and white space.
      {"13", 13},
      {"+13", 13},
      {"-13", -13},
      {" \t\n\v\f\r42", 42},
      {"  -7x", -7},
      {"+-1", 0},
      {"- 1", 0},
      {"1 2", 1},
      {"007", 7},
      // Wrapped modulo 2^32.
      {"2147483647", 2147483647},
      {"2147483648", -2147483647 - 1},
      {"-2147483648", -2147483647 - 1},
      {"4294967295", -1},
      {"4294967296", 0},
      {"4294967309", 13},
      {"-4294967309", -13},
      {"99999999999999999999", 1661992959},
      // No digits give 0.
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"+", 0},
      {"   ", 0},
      {"0x10", 0},
      {std::string("\0"
                   "5",
                   2),
       0},
      // The first byte that is not a digit ends the number.
      {"514abc", 514},
      {"13>hello", 13},
      {"1\xff"
       "2",
       1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value, ParseDecimal(c.text)) << "[" << c.text << "]";
  }
}

}  // namespace
}  // namespace syslog_listen
