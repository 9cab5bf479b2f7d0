// Fuzzes the time stamp text over the whole range of clock values, through
// the local and the UTC conversion, and over raw broken-down fields.
//
// Property: always exactly 24 characters, either the unknown text or
// "Www Mmm DD HH:MM:SS YYYY" with English names and fields in range.
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/timestamp.h"

namespace {

using namespace syslog_listen;

void Require(bool condition) {
  if (!condition) std::abort();
}

bool Digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Number(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

void Check(const std::tm& time) {
  char out[kTimestampLength];
  std::memset(out, 0, sizeof out);
  FormatTimestamp(time, out);
  const std::string_view text(out, kTimestampLength);
  if (text == kUnknownTimestamp) return;
  // Mon Jun 02 09:05:07 2025
  // 012345678901234567890123
  Require(std::string_view("SunMonTueWedThuFriSat").find(text.substr(0, 3)) %
              3 ==
          0);
  Require(std::string_view("JanFebMarAprMayJunJulAugSepOctNovDec")
                  .find(text.substr(4, 3)) %
              3 ==
          0);
  Require(text[3] == ' ' && text[7] == ' ' && text[10] == ' ' &&
          text[13] == ':' && text[16] == ':' && text[19] == ' ');
  Require(Digits(text.substr(8, 2)) && Digits(text.substr(11, 2)) &&
          Digits(text.substr(14, 2)) && Digits(text.substr(17, 2)) &&
          Digits(text.substr(20, 4)));
  Require(Number(text.substr(8, 2)) >= 1 && Number(text.substr(8, 2)) <= 31);
  Require(Number(text.substr(11, 2)) <= 23);
  Require(Number(text.substr(14, 2)) <= 59);
  Require(Number(text.substr(17, 2)) <= 60);
  Require(Number(text.substr(20, 4)) == time.tm_year + 1900);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size >= sizeof(std::int64_t)) {
    std::int64_t clock;
    std::memcpy(&clock, data, sizeof clock);
    const auto moment = static_cast<time_t>(clock);
    std::tm local{};
    if (localtime_r(&moment, &local) != nullptr) Check(local);
    std::tm utc{};
    if (gmtime_r(&moment, &utc) != nullptr) Check(utc);
  }
  if (size >= 7 * sizeof(int)) {
    int fields[7];
    std::memcpy(fields, data, sizeof fields);
    std::tm raw{};
    raw.tm_sec = fields[0];
    raw.tm_min = fields[1];
    raw.tm_hour = fields[2];
    raw.tm_mday = fields[3];
    raw.tm_mon = fields[4];
    raw.tm_year = fields[5];
    raw.tm_wday = fields[6];
    Check(raw);
  }
  return 0;
}
