// Round trips through the whole client path (caller -> pipes -> thread ->
// loopback TCP -> server and back) against the scriptable test server.
//
//   build/default/bench/bench_roundtrip
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#include "core/api.h"
#include "core/state.h"
#include "support/script_server.h"

using talvortest::Reply;
using talvortest::ScriptServer;
using talvortest::T;

namespace {

// A connect (handshake and notify connection included) and a disconnect.
void BM_ConnectDisconnect(benchmark::State &state) {
  ScriptServer server;
  std::string address = server.address();
  for (auto _ : state) {
    if (TalvorConnect(&address[0]) != 1) state.SkipWithError("connect failed");
    TalvorDisconnect();
    server.clear();
  }
}
BENCHMARK(BM_ConnectDisconnect)->Unit(benchmark::kMillisecond);

// One request with two blocks and a one-block reply: TalvorTotal.
void BM_Total(benchmark::State &state) {
  ScriptServer server;
  Reply reply;
  reply.blocks = {T("42")};
  server.set_default(reply);
  std::string address = server.address();
  if (TalvorConnect(&address[0]) != 1) {
    state.SkipWithError("connect failed");
    return;
  }
  ResultSetEntry *entry = (ResultSetEntry *)calloc(1, sizeof *entry);
  ResultSet[0] = entry;
  int n = 0;
  for (auto _ : state) {
    n = TalvorTotal(0);
    if (n != 42) state.SkipWithError("bad reply");
    // Keep the server's record of requests small.
    if (state.iterations() % 1024 == 0) server.clear();
  }
  benchmark::DoNotOptimize(n);
  ResultSet[0] = nullptr;
  free(entry);
  TalvorDisconnect();
}
BENCHMARK(BM_Total)->Unit(benchmark::kMicrosecond);

// A value of the given size read back: TalvorGetValue.
void BM_GetValue(benchmark::State &state) {
  ScriptServer server;
  Reply reply;
  reply.code = 57;
  reply.blocks = {T("0"), T("0"), T(std::string((size_t)state.range(0), 'v'))};
  server.set_default(reply);
  std::string address = server.address();
  if (TalvorConnect(&address[0]) != 1) {
    state.SkipWithError("connect failed");
    return;
  }
  ResultSetEntry *entry = (ResultSetEntry *)calloc(1, sizeof *entry);
  ResultSet[0] = entry;
  char field[] = "NAME";
  for (auto _ : state) {
    char *value = TalvorGetValue(0, field);
    benchmark::DoNotOptimize(value);
    free(value);
    if (state.iterations() % 1024 == 0) server.clear();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  ResultSet[0] = nullptr;
  free(entry);
  TalvorDisconnect();
}
BENCHMARK(BM_GetValue)->Arg(16)->Arg(4096)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
