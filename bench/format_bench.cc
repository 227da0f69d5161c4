// Turning one large reply into rows: 400,000 records in about 16 MiB, each
// record lacking a field its formatter shows, the case in which every pass
// used to search the rest of the reply for the missing field.
#include <benchmark/benchmark.h>

#include <string>

#include "report/extractor.h"
#include "report/formatters.h"
#include "report/trace_sink.h"

namespace {

using kestrune::report::Formatter;

constexpr int kRecords = 400000;

// Counts rows instead of keeping them, so the figure is the extraction's.
class CountingList : public kestrune::report::ResultList {
 public:
  void InsertTop(std::string_view, std::string_view info) override { bytes_ += info.size() + 1; }
  void Clear() override { bytes_ = 0; }
  std::size_t bytes() const { return bytes_; }

 private:
  std::size_t bytes_ = 0;
};

// Each record is `head`, its six-digit number, then `tail`.
std::string Reply(std::string_view open, std::string_view head, std::string_view tail,
                  std::string_view close) {
  std::string reply = "<Reply><RequestId>R-1</RequestId><TotalCount>400000</TotalCount>";
  reply += open;
  for (int i = 0; i < kRecords; ++i) {
    const std::string number = std::to_string(1000000 + i);
    reply.append(head).append(number, 1).append(tail);
  }
  reply += close;
  reply += "</Reply>";
  return reply;
}

void Run(benchmark::State& state, Formatter formatter, const std::string& reply) {
  kestrune::report::NullTraceSink trace;
  kestrune::report::DisplayText display;
  for (auto _ : state) {
    CountingList list;
    kestrune::report::Extractor x(list, trace, display);
    kestrune::report::RunFormatter(formatter, reply, x);
    benchmark::DoNotOptimize(list.bytes());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
  state.counters["MiB"] = static_cast<double>(reply.size()) / (1024.0 * 1024.0);
}

// Regions without LocalName: 42 bytes a record.
void BM_Regions_NoLocalName(benchmark::State& state) {
  static const std::string reply =
      Reply("<Regions>", "<Region><RegionId>r", "</RegionId></Region>", "</Regions>");
  Run(state, Formatter::kRegions, reply);
}

// Instance status without Status.
void BM_InstanceStatus_NoStatus(benchmark::State& state) {
  static const std::string reply = Reply("<InstanceStatuses>", "<InstanceStatus><InstanceId>i",
                                         "</InstanceId></InstanceStatus>", "</InstanceStatuses>");
  Run(state, Formatter::kInstanceStatus, reply);
}

BENCHMARK(BM_Regions_NoLocalName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InstanceStatus_NoStatus)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
