// Counts the numbered records in a log file written from loadgen's
// datagrams and finds those lost, duplicated or out of order.
//   counter EXPECTED FILE
// Prints: received=<n> lost=<n> duplicated=<n> reordered=<n>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: counter EXPECTED FILE\n");
    return 2;
  }
  const long expected = std::atol(argv[1]);
  std::ifstream in(argv[2], std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  std::vector<unsigned char> seen(static_cast<std::size_t>(expected), 0);
  long received = 0, duplicated = 0, reordered = 0, previous = -1;
  constexpr std::size_t kDigits = 10;
  for (std::size_t at = text.find("seq="); at != std::string::npos;
       at = text.find("seq=", at + 4)) {
    if (at + 4 + kDigits > text.size()) break;
    long number = 0;
    for (std::size_t i = 0; i < kDigits; ++i) {
      number = number * 10 + (text[at + 4 + i] - '0');
    }
    ++received;
    if (number < previous) ++reordered;
    previous = number;
    if (number >= 0 && number < expected) {
      if (seen[static_cast<std::size_t>(number)]++ != 0) ++duplicated;
    }
  }
  long lost = 0;
  for (unsigned char s : seen) lost += s == 0;
  std::printf("received=%ld lost=%ld duplicated=%ld reordered=%ld\n", received,
              lost, duplicated, reordered);
  return 0;
}
