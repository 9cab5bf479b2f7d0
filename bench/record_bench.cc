// Composing one record, with and without -t, for a typical 100-byte message.
#include <benchmark/benchmark.h>

#include <string>

#include "records/record.h"

namespace {

using syslog_listen::AppendRecord;
using syslog_listen::Message;
using syslog_listen::Output;

const std::string kText = "<13>seq=0000000001 " + std::string(80, 'x') + "\n";

void Compose(benchmark::State& state, bool annotate, Output output) {
  const Message message{kText, "Mon Jun 02 09:05:07 2025", 0x0100007f};
  std::string out;
  out.reserve(1 << 20);
  for (auto _ : state) {
    if (out.size() > (1 << 19)) out.clear();
    AppendRecord(out, output, message, annotate);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Plain(benchmark::State& state) {
  Compose(state, false, Output::kLogFile);
}
void BM_AnnotatedFile(benchmark::State& state) {
  Compose(state, true, Output::kLogFile);
}
void BM_AnnotatedConsole(benchmark::State& state) {
  Compose(state, true, Output::kConsole);
}

BENCHMARK(BM_Plain);
BENCHMARK(BM_AnnotatedFile);
BENCHMARK(BM_AnnotatedConsole);

}  // namespace

BENCHMARK_MAIN();
