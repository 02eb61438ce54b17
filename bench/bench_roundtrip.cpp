// Round trips through the whole client path (caller -> pipes -> thread ->
// loopback TCP -> server and back) against the scriptable test server.
//
//   build/default/bench/bench_roundtrip
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#include "api.h"
#include "state.h"
#include "support/script_server.h"

using talvortest::Reply;
using talvortest::ScriptServer;
using talvortest::T;

namespace {

// A connection to a script server that answers every request with
// `answer`, and a result set in slot 0 to address it through.
class Connected {
 public:
  Connected(benchmark::State &state, const Reply &answer) : state_(state) {
    server_.set_default(answer);
    std::string address = server_.address();
    ok_ = TalvorConnect(&address[0]) == 1;
    if (!ok_) state.SkipWithError("connect failed");
    entry_ = (ResultSetEntry *)calloc(1, sizeof *entry_);
    ResultSet[0] = entry_;
  }
  ~Connected() {
    ResultSet[0] = nullptr;
    free(entry_);
    if (ok_) TalvorDisconnect();
  }
  bool ok() const { return ok_; }
  // Keeps the server's record of requests small.
  void forget_requests() {
    if (state_.iterations() % 1024 == 0) server_.clear();
  }

 private:
  benchmark::State &state_;
  ScriptServer server_;
  ResultSetEntry *entry_ = nullptr;
  bool ok_ = false;
};

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
  Reply reply;
  reply.blocks = {T("42")};
  Connected connection(state, reply);
  if (!connection.ok()) return;
  int n = 0;
  for (auto _ : state) {
    n = TalvorTotal(0);
    if (n != 42) state.SkipWithError("bad reply");
    connection.forget_requests();
  }
  benchmark::DoNotOptimize(n);
}
BENCHMARK(BM_Total)->Unit(benchmark::kMicrosecond);

// A value of the given size read back: TalvorGetValue.
void BM_GetValue(benchmark::State &state) {
  Reply reply;
  reply.code = 57;
  reply.blocks = {T("0"), T("0"), T(std::string((size_t)state.range(0), 'v'))};
  Connected connection(state, reply);
  if (!connection.ok()) return;
  char field[] = "NAME";
  for (auto _ : state) {
    char *value = TalvorGetValue(0, field);
    benchmark::DoNotOptimize(value);
    free(value);
    connection.forget_requests();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GetValue)->Arg(16)->Arg(4096)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
