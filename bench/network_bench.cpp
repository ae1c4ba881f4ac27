// The plug-in against the limit: each figure is measured on the plug-in,
// loaded by file name and driven through its exports as the host drives it,
// and on a plain server doing the same job (thread per client, poll + recv
// into 8192 bytes; a recvfrom loop for UDP), with the same load generator in
// a child process, in interleaved rounds. Prints medians and the ratio
// plug-in / plain per figure with the goal's verdict.
//
// Exits 1 when bytes were lost or reordered or a run failed, 3 when a phase
// did not finish in time; a missed goal is reported, not a failure.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/block_sink.h"
#include "bench/child_process.h"
#include "bench/load_generator.h"
#include "bench/loopback.h"
#include "bench/options.h"
#include "bench/plugin_driver.h"
#include "bench/process_info.h"
#include "bench/report.h"
#include "bench/server_under_test.h"
#include "bench/syscall_counter.h"
#include "bench/watchdog.h"

#ifndef LANFEED_PLUGIN_PATH
#define LANFEED_PLUGIN_PATH "LanFeedPlugin.so"
#endif

namespace bench {
namespace {

// Sizes of one run; --quick shrinks them to a smoke run.
struct Load {
  uint64_t bulkBytes;
  uint64_t messagesPerClient;
  uint64_t udpCapacityDatagrams;
  double udpPacedSeconds;
  int udpCapacityRuns;
  int pings;
};

constexpr uint64_t kBulkWarmup = 8192;
constexpr int kMessageClients = 64;
constexpr std::size_t kMessageSize = 64;
constexpr int kMessageSenderThreads = 4;
constexpr std::size_t kDatagramSize = 512;
constexpr std::size_t kPingSize = 16;
constexpr int kTcpTimeoutSeconds = 60;  // the plug-in's default

struct BulkRun {
  double megabytesPerSecond;
  double cpuSecondsPerGigabyte;
  double callsPerBlock;
  ReceiveCallCounts calls;
  uint64_t blocks;
  double blocksPerSecond;  // records per second
};

// How a TCP run is served and what its clients send: the plug-in with a
// Framing setting ("" none configured), and 64-byte lines or not.
struct TcpShape {
  std::string framing;
  bool lines = false;
};

struct UdpRun {
  double deliveredPerSecond;
  double lossPercent;
};

struct PingRun {
  double p50Us;
  double p99Us;
};

class NetworkBench {
 public:
  NetworkBench(const CommonOptions& options, PluginLibrary* library, Watchdog* watchdog)
      : options_(options), rounds_(options.roundCount()), library_(library), watchdog_(watchdog) {
    load_ = options.quick ? Load{64ull << 20, 100, 30000, 0.25, 1, 200}
                          : Load{512ull << 20, 1000, 300000, 1.0, 3, 2000};
  }

  void Run();
  bool failed() const { return failed_; }

 private:
  void Fail(const std::string& what);
  bool Expect(ChildProcess& child, const char* word, double seconds, std::string* line = nullptr);

  // A TCP run: the server started, the generator's clients connected and
  // their first `warmup` bytes delivered. The caller then sends "go".
  bool StartTcpLoad(const std::string& name, ServerUnderTest& server, ChildProcess& generator,
                    std::vector<std::string> arguments, uint64_t warmup);
  // Waits until `total` bytes are delivered.
  bool AwaitTotal(const std::string& name, uint64_t total);
  // The generator's "done", the server stopped, and exactly `total` bytes
  // delivered, each block passing its check.
  bool FinishTcpLoad(const std::string& name, ServerUnderTest& server, ChildProcess& generator, uint64_t total);

  std::optional<BulkRun> RunBulk(Variant variant, const TcpShape& shape = {});
  std::optional<double> RunMessages(Variant variant, const TcpShape& shape = {});
  std::optional<UdpRun> RunUdp(Variant variant, uint64_t count, double rate);
  std::optional<PingRun> RunPing(Variant variant);

  void BulkGroup();
  void BulkLinesGroup();
  void MessagesGroup();
  void MessagesLinesGroup();
  void UdpGroup();
  void PingGroup();

  CommonOptions options_;
  int rounds_;
  Load load_;
  PluginLibrary* library_;
  Watchdog* watchdog_;
  BlockSink sink_;
  bool failed_ = false;
  std::vector<Figure> figures_;
  std::vector<std::string> notes_;
};

void NetworkBench::Fail(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  std::fflush(stdout);
  failed_ = true;
}

bool NetworkBench::Expect(ChildProcess& child, const char* word, double seconds, std::string* line) {
  std::string text;
  if (!child.ReadLine(&text, seconds)) {
    Fail(std::string("the load generator did not answer \"") + word + "\"");
    return false;
  }
  if (text.rfind(word, 0) != 0) {
    Fail("load generator: " + text);
    return false;
  }
  if (line != nullptr) *line = text;
  return true;
}

// ---------------------------------------------------------------------------
// TCP bulk: one client streams the checked pattern; throughput, server CPU
// per GB and receive-path calls per delivered block.

bool NetworkBench::StartTcpLoad(const std::string& name, ServerUnderTest& server, ChildProcess& generator,
                                std::vector<std::string> arguments, uint64_t warmup) {
  std::string error;
  if (!server.Start(false, kTcpTimeoutSeconds, &error)) {
    Fail(name + ": " + error);
    return false;
  }
  arguments.insert(arguments.begin() + 2, std::to_string(server.port()));
  if (!generator.Spawn(arguments, &error)) {
    Fail(error);
    return false;
  }
  if (!Expect(generator, "ready", 30)) return false;
  if (!sink_.WaitBytes(warmup, 30)) {
    Fail(name + ": the warm-up bytes were not delivered within 30 s");
    return false;
  }
  return true;
}

bool NetworkBench::AwaitTotal(const std::string& name, uint64_t total) {
  if (sink_.WaitBytes(total, 180)) return true;
  Fail(name + ": " + std::to_string(sink_.bytes()) + " of " + std::to_string(total) +
       " bytes delivered within 180 s");
  return false;
}

bool NetworkBench::FinishTcpLoad(const std::string& name, ServerUnderTest& server, ChildProcess& generator,
                                 uint64_t total) {
  if (!Expect(generator, "done", 30)) return false;
  generator.Wait(10);
  server.Stop();
  if (!sink_.fault().empty()) {
    Fail(name + ": " + sink_.fault());
    return false;
  }
  if (sink_.bytes() != total) {
    Fail(name + ": " + std::to_string(sink_.bytes()) + " bytes delivered for " + std::to_string(total) + " sent");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// TCP bulk: one client streams the checked pattern; throughput, server CPU
// per GB and receive-path calls per delivered block.

std::optional<BulkRun> NetworkBench::RunBulk(Variant variant, const TcpShape& shape) {
  const std::string label =
      std::string(VariantName(variant)) + (shape.framing.empty() ? "" : ", framing " + shape.framing);
  const std::string name = "TCP bulk transfer into the " + label;
  Phase phase(*watchdog_, name, 240);
  const uint64_t total = load_.bulkBytes;
  sink_.Reset(BlockSink::Check::kStream, false, shape.lines, shape.framing == "line");
  ServerUnderTest server(variant, library_, &sink_);
  server.SetFraming(shape.framing);
  ChildProcess generator;
  const std::vector<std::string> arguments = {"--generator", shape.lines ? "tcp-lines" : "tcp-stream",
                                              std::to_string(total), std::to_string(kBulkWarmup)};
  if (!StartTcpLoad(name, server, generator, arguments, kBulkWarmup)) {
    return std::nullopt;
  }
  const auto start = Clock::now();
  const double cpuStart = ProcessCpuSeconds();
  const ReceiveCallCounts callsStart = CurrentCallCounts();
  const uint64_t blocksStart = sink_.blocks();
  generator.Send("go");
  if (!AwaitTotal(name, total)) return std::nullopt;
  const double seconds = SecondsSince(start);
  const double cpu = ProcessCpuSeconds() - cpuStart;
  const ReceiveCallCounts calls = CurrentCallCounts() - callsStart;
  const uint64_t blocks = sink_.blocks() - blocksStart;
  if (!FinishTcpLoad(name, server, generator, total)) return std::nullopt;
  const uint64_t measured = total - kBulkWarmup;
  BulkRun run{measured / 1e6 / seconds, cpu / (measured / 1e9),
              blocks > 0 ? static_cast<double>(calls.total()) / static_cast<double>(blocks) : 0, calls, blocks,
              static_cast<double>(blocks) / seconds};
  std::printf("  %-8s %8.1f MB/s  %6.3f s CPU per GB  %5.2f receive calls per block (%llu blocks, %.0f/s)\n",
              label.c_str(), run.megabytesPerSecond, run.cpuSecondsPerGigabyte, run.callsPerBlock,
              static_cast<unsigned long long>(blocks), run.blocksPerSecond);
  std::fflush(stdout);
  return run;
}

std::string CallBreakdown(const ReceiveCallCounts& calls, uint64_t blocks) {
  std::ostringstream text;
  text.precision(2);
  text << std::fixed;
  bool first = true;
  for (std::size_t i = 0; i < kReceiveCallKinds; ++i) {
    if (calls.calls[i] == 0) continue;
    text << (first ? "" : ", ") << ReceiveCallName(i) << " "
         << static_cast<double>(calls.calls[i]) / static_cast<double>(blocks ? blocks : 1);
    first = false;
  }
  return first ? "none" : text.str();
}

void NetworkBench::BulkGroup() {
  std::printf("\nTCP bulk: one client sends %llu MiB (checked pattern, 64 KiB sends); %d rounds\n",
              static_cast<unsigned long long>(load_.bulkBytes >> 20), rounds_);
  Figure throughput{"TCP bulk throughput, MB/s", {}, {}, {Goal::Kind::kRatioAtLeast, 1.0}, 1};
  Figure cpu{"TCP bulk server CPU, s per GB", {}, {}, {Goal::Kind::kRatioAtMost, 1.0}, 3};
  Figure calls{"receive-path calls per delivered block", {}, {}, {Goal::Kind::kPluginAtMost, 1.2}, 2};
  ReceiveCallCounts sums[2];
  uint64_t blocks[2] = {0, 0};
  for (int round = 0; round < rounds_ && !failed_; ++round) {
    for (Variant variant : RoundOrder(round)) {
      std::optional<BulkRun> run = RunBulk(variant);
      if (!run) return;
      const bool plugin = variant == Variant::kPlugin;
      (plugin ? throughput.plugin : throughput.plain).push_back(run->megabytesPerSecond);
      (plugin ? cpu.plugin : cpu.plain).push_back(run->cpuSecondsPerGigabyte);
      (plugin ? calls.plugin : calls.plain).push_back(run->callsPerBlock);
      for (std::size_t i = 0; i < kReceiveCallKinds; ++i) sums[plugin ? 0 : 1].calls[i] += run->calls.calls[i];
      blocks[plugin ? 0 : 1] += run->blocks;
    }
  }
  figures_.push_back(throughput);
  figures_.push_back(cpu);
  figures_.push_back(calls);
  notes_.push_back("receive-path calls per block, all bulk rounds: plug-in " + CallBreakdown(sums[0], blocks[0]) +
                   "; plain " + CallBreakdown(sums[1], blocks[1]));
}

// The same 64-byte lines into the plug-in with framing line and with framing
// none, in interleaved rounds: what cutting the stream into one record per
// line costs. In these figures the "plain" column is the plug-in with
// framing none.
void NetworkBench::BulkLinesGroup() {
  std::printf("\nTCP bulk of 64-byte lines: one client sends %llu MiB into the plug-in, framing line vs none;"
              " %d rounds\n",
              static_cast<unsigned long long>(load_.bulkBytes >> 20), rounds_);
  Figure throughput{"bulk 64-byte lines MB/s, line vs none", {}, {}, {Goal::Kind::kRatioAtLeast, 0.9}, 1};
  Figure cpu{"bulk 64-byte lines CPU s/GB, line vs none", {}, {}, {}, 3};
  Figure records{"bulk 64-byte lines records/s, line vs none", {}, {}, {}, 0};
  for (int round = 0; round < rounds_ && !failed_; ++round) {
    for (Variant order : RoundOrder(round)) {
      const bool line = order == Variant::kPlugin;
      std::optional<BulkRun> run = RunBulk(Variant::kPlugin, {line ? "line" : "none", true});
      if (!run) return;
      (line ? throughput.plugin : throughput.plain).push_back(run->megabytesPerSecond);
      (line ? cpu.plugin : cpu.plain).push_back(run->cpuSecondsPerGigabyte);
      (line ? records.plugin : records.plain).push_back(run->blocksPerSecond);
    }
  }
  figures_.push_back(throughput);
  figures_.push_back(cpu);
  figures_.push_back(records);
  notes_.push_back("bulk 64-byte lines: the plain column is the plug-in with framing none (one record per receive)");
}

// ---------------------------------------------------------------------------
// 64 clients sending 64-byte messages at once: messages delivered per second.

std::optional<double> NetworkBench::RunMessages(Variant variant, const TcpShape& shape) {
  const std::string label =
      std::string(VariantName(variant)) + (shape.framing.empty() ? "" : ", framing " + shape.framing);
  const std::string name = "64 clients into the " + label;
  Phase phase(*watchdog_, name, 240);
  const uint64_t perClient = load_.messagesPerClient;
  // Every client's first message delivered: every reader is running.
  const uint64_t warmup = kMessageClients * kMessageSize;
  const uint64_t total = warmup * perClient;
  const bool framed = variant == Variant::kPlugin && shape.framing == "line";
  sink_.Reset(BlockSink::Check::kTagged, false, shape.lines, framed);
  ServerUnderTest server(variant, library_, &sink_);
  if (variant == Variant::kPlugin) server.SetFraming(shape.framing);
  ChildProcess generator;
  std::vector<std::string> arguments = {"--generator", "tcp-messages", std::to_string(kMessageClients),
                                        std::to_string(perClient), std::to_string(kMessageSize),
                                        std::to_string(kMessageSenderThreads)};
  if (shape.lines) arguments.push_back("lines");
  if (!StartTcpLoad(name, server, generator, arguments, warmup)) {
    return std::nullopt;
  }
  const auto start = Clock::now();
  generator.Send("go");
  if (!AwaitTotal(name, total)) return std::nullopt;
  const double seconds = SecondsSince(start);
  if (!FinishTcpLoad(name, server, generator, total)) return std::nullopt;
  const double rate = static_cast<double>(kMessageClients * (perClient - 1)) / seconds;
  std::printf("  %-8s %10.0f messages/s  (%llu blocks for %llu messages)\n", label.c_str(), rate,
              static_cast<unsigned long long>(sink_.blocks()),
              static_cast<unsigned long long>(kMessageClients * perClient));
  std::fflush(stdout);
  return rate;
}

void NetworkBench::MessagesGroup() {
  std::printf("\n%d TCP clients at once, %llu messages of %zu bytes each (no Nagle delay); %d rounds\n",
              kMessageClients, static_cast<unsigned long long>(load_.messagesPerClient), kMessageSize,
              rounds_);
  Figure messages{"64 clients x 64-byte messages, messages/s", {}, {}, {Goal::Kind::kRatioAtLeast, 1.0}, 0};
  for (int round = 0; round < rounds_ && !failed_; ++round) {
    for (Variant variant : RoundOrder(round)) {
      std::optional<double> rate = RunMessages(variant);
      if (!rate) return;
      (variant == Variant::kPlugin ? messages.plugin : messages.plain).push_back(*rate);
    }
  }
  figures_.push_back(messages);
}

// The same with every message a line and the plug-in framing lines: each
// delivery is then exactly one message (records/s = messages/s).
void NetworkBench::MessagesLinesGroup() {
  std::printf("\n%d TCP clients at once, %llu lines of %zu bytes each, plug-in with framing line; %d rounds\n",
              kMessageClients, static_cast<unsigned long long>(load_.messagesPerClient), kMessageSize, rounds_);
  Figure messages{"64 clients x 64-byte lines, framing line, msg/s", {}, {}, {}, 0};
  for (int round = 0; round < rounds_ && !failed_; ++round) {
    for (Variant variant : RoundOrder(round)) {
      std::optional<double> rate = RunMessages(variant, {"line", true});
      if (!rate) return;
      (variant == Variant::kPlugin ? messages.plugin : messages.plain).push_back(*rate);
    }
  }
  figures_.push_back(messages);
}

// ---------------------------------------------------------------------------
// UDP: the plain loop's capacity first, then both at 0.9 of it.

std::optional<UdpRun> NetworkBench::RunUdp(Variant variant, uint64_t count, double rate) {
  const std::string name = std::string("UDP into the ") + VariantName(variant);
  Phase phase(*watchdog_, name, 120);
  sink_.Reset(BlockSink::Check::kCount, true);
  ServerUnderTest server(variant, library_, &sink_);
  std::string error;
  if (!server.Start(true, kTcpTimeoutSeconds, &error)) {
    Fail(name + ": " + error);
    return std::nullopt;
  }
  ChildProcess generator;
  char rateText[32];
  std::snprintf(rateText, sizeof rateText, "%.0f", rate);
  if (!generator.Spawn({"--generator", "udp", std::to_string(server.port()), std::to_string(count),
                        std::to_string(kDatagramSize), rateText},
                       &error)) {
    Fail(error);
    return std::nullopt;
  }
  if (!Expect(generator, "ready", 30)) return std::nullopt;
  const auto start = Clock::now();
  generator.Send("go");
  std::string done;
  if (!Expect(generator, "done", 60, &done)) return std::nullopt;
  const unsigned long long sent = std::strtoull(done.c_str() + 5, nullptr, 10);
  // The rest still queued arrives; stop once nothing came for 200 ms.
  uint64_t seen = sink_.blocks();
  auto quietSince = Clock::now();
  const auto limit = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() - quietSince < std::chrono::milliseconds(200) && Clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (sink_.blocks() != seen) {
      seen = sink_.blocks();
      quietSince = Clock::now();
    }
  }
  generator.Wait(10);
  server.Stop();
  const uint64_t delivered = sink_.blocks();
  if (sent == 0 || delivered == 0 || delivered > sent) {
    Fail(name + ": " + std::to_string(delivered) + " datagrams delivered for " + std::to_string(sent) + " sent");
    return std::nullopt;
  }
  const double seconds = std::chrono::duration<double>(sink_.lastArrival() - start).count();
  UdpRun run{static_cast<double>(delivered) / seconds,
             100.0 * static_cast<double>(sent - delivered) / static_cast<double>(sent)};
  std::printf("  %-8s %10.0f datagrams/s delivered, %6.2f %% lost (%llu of %llu)\n", VariantName(variant),
              run.deliveredPerSecond, run.lossPercent, static_cast<unsigned long long>(delivered), sent);
  std::fflush(stdout);
  return run;
}

void NetworkBench::UdpGroup() {
  std::printf("\nUDP capacity of the plain recvfrom loop: %llu datagrams of %zu bytes, sent as fast as possible\n",
              static_cast<unsigned long long>(load_.udpCapacityDatagrams), kDatagramSize);
  std::vector<double> capacities;
  for (int run = 0; run < load_.udpCapacityRuns; ++run) {
    std::optional<UdpRun> blast = RunUdp(Variant::kPlain, load_.udpCapacityDatagrams, 0);
    if (!blast) return;
    capacities.push_back(blast->deliveredPerSecond);
  }
  const double capacity = Median(capacities);
  const double rate = 0.9 * capacity;
  const uint64_t count = static_cast<uint64_t>(rate * load_.udpPacedSeconds);
  std::printf("\nUDP at 0.9 of that capacity: %.0f datagrams/s, %llu datagrams per run; %d rounds\n", rate,
              static_cast<unsigned long long>(count), rounds_);
  Figure delivered{"UDP delivered at 0.9 capacity, datagrams/s", {}, {}, {Goal::Kind::kRatioAtLeast, 0.97}, 0};
  Figure loss{"UDP loss at 0.9 capacity, %", {}, {}, {Goal::Kind::kRatioAtMost, 2.0}, 2};
  for (int round = 0; round < rounds_ && !failed_; ++round) {
    for (Variant variant : RoundOrder(round)) {
      std::optional<UdpRun> run = RunUdp(variant, count, rate);
      if (!run) return;
      const bool plugin = variant == Variant::kPlugin;
      (plugin ? delivered.plugin : delivered.plain).push_back(run->deliveredPerSecond);
      (plugin ? loss.plugin : loss.plain).push_back(run->lossPercent);
    }
  }
  figures_.push_back(delivered);
  figures_.push_back(loss);
  char note[160];
  std::snprintf(note, sizeof note, "plain recvfrom loop capacity: %.0f datagrams/s (median of %zu runs)", capacity,
                capacities.size());
  notes_.push_back(note);
}

// ---------------------------------------------------------------------------
// Ping: one client sends 16 bytes and waits until the host's Deliver has
// them, then sends the next.

std::optional<PingRun> NetworkBench::RunPing(Variant variant) {
  const std::string name = std::string("ping into the ") + VariantName(variant);
  Phase phase(*watchdog_, name, 120);
  sink_.Reset(BlockSink::Check::kCount);
  ServerUnderTest server(variant, library_, &sink_);
  std::string error;
  if (!server.Start(false, kTcpTimeoutSeconds, &error)) {
    Fail(name + ": " + error);
    return std::nullopt;
  }
  int fd = ConnectLoopback(server.port(), true);
  if (fd < 0) {
    Fail(name + ": cannot connect");
    return std::nullopt;
  }
  const uint8_t message[kPingSize] = {'p', 'i', 'n', 'g'};
  std::vector<double> latencies;
  uint64_t expected = 0;
  for (int i = 0; i <= load_.pings; ++i) {  // the first one only wakes the path
    const auto start = Clock::now();
    expected += kPingSize;
    if (!SendAll(fd, message, sizeof message) || !sink_.WaitBytes(expected, 10)) {
      close(fd);
      Fail(name + ": ping " + std::to_string(i) + " was not delivered within 10 s");
      return std::nullopt;
    }
    if (i > 0) latencies.push_back(SecondsSince(start) * 1e6);
  }
  close(fd);
  server.Stop();
  PingRun run{Percentile(latencies, 0.50), Percentile(latencies, 0.99)};
  std::printf("  %-8s p50 %7.1f us  p99 %7.1f us\n", VariantName(variant), run.p50Us, run.p99Us);
  std::fflush(stdout);
  return run;
}

void NetworkBench::PingGroup() {
  std::printf("\nPing latency: %d messages of %zu bytes, each sent once the last was delivered; %d rounds\n",
              load_.pings, kPingSize, rounds_);
  Figure p50{"ping latency p50, us", {}, {}, {}, 1};
  Figure p99{"ping latency p99, us", {}, {}, {Goal::Kind::kRatioAtMost, 1.1}, 1};
  for (int round = 0; round < rounds_ && !failed_; ++round) {
    for (Variant variant : RoundOrder(round)) {
      std::optional<PingRun> run = RunPing(variant);
      if (!run) return;
      (variant == Variant::kPlugin ? p50.plugin : p50.plain).push_back(run->p50Us);
      (variant == Variant::kPlugin ? p99.plugin : p99.plain).push_back(run->p99Us);
    }
  }
  figures_.push_back(p50);
  figures_.push_back(p99);
}

void NetworkBench::Run() {
  if (options_.Wanted("bulk") && !failed_) BulkGroup();
  if ((options_.Wanted("bulk") || options_.Wanted("bulk-lines")) && !failed_) BulkLinesGroup();
  if (options_.Wanted("messages") && !failed_) MessagesGroup();
  if ((options_.Wanted("messages") || options_.Wanted("messages-lines")) && !failed_) MessagesLinesGroup();
  if (options_.Wanted("udp") && !failed_) UdpGroup();
  if (options_.Wanted("ping") && !failed_) PingGroup();
  PrintFigures("network_bench: plug-in vs plain server (median of " + std::to_string(rounds_) +
                   " interleaved rounds, ratio = plug-in / plain)",
               figures_, notes_);
}

bool ParseOptions(int argc, char** argv, CommonOptions* options) {
  options->plugin = LANFEED_PLUGIN_PATH;
  for (int i = 1; i < argc; ++i) {
    if (!ParseCommonOption(argc, argv, &i, options)) return false;
  }
  return true;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  if (IsGeneratorCall(argc, argv)) return RunLoadGenerator(argc, argv);
  CommonOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: %s [--quick] [--rounds N] [--plugin PATH]"
                 " [--only bulk,bulk-lines,messages,messages-lines,udp,ping]\n",
                 argv[0]);
    return 2;
  }
  EnableCallCounting();
  ExcludeThisThread();  // this thread drives and reads its children's pipes
  Watchdog watchdog;
  PluginLibrary library;
  std::string error;
  if (!library.Load(options.plugin, &error)) {
    std::printf("FAILED: %s\n", error.c_str());
    return 1;
  }
  std::printf("network_bench%s: plug-in %s, %d interleaved rounds per figure\n", options.quick ? " --quick" : "",
              options.plugin.c_str(), options.roundCount());
  NetworkBench bench(options, &library, &watchdog);
  bench.Run();
  if (bench.failed()) {
    std::printf("FAILED (see above)\n");
    return 1;
  }
  std::printf("ok: every TCP byte delivered once and in order\n");
  return 0;
}
