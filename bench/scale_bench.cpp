// Many idle TCP clients: how long the plug-in's Uninitialize takes with them
// connected, and how much address space and resident memory each costs,
// against a plain thread-per-client server (default thread attributes; it
// shuts down by closing and joining its clients one at a time).
//
// Every measured run is a fresh server process (`--serve`), so no run
// inherits another's heap; its idle clients live in a load generator process
// of their own, so the server's descriptors and memory are the server's.
// Runs alternate between plug-in and plain; the figures are medians.
//
// Exits 1 when a run failed (a client not accepted or not closed, a thread or
// descriptor left behind), 3 when a phase did not finish in time; a missed
// goal is reported, not a failure.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/block_sink.h"
#include "bench/child_process.h"
#include "bench/load_generator.h"
#include "bench/options.h"
#include "bench/plugin_driver.h"
#include "bench/process_info.h"
#include "bench/report.h"
#include "bench/server_under_test.h"
#include "bench/watchdog.h"

#ifndef LANFEED_PLUGIN_PATH
#define LANFEED_PLUGIN_PATH "LanFeedPlugin.so"
#endif

namespace bench {
namespace {

constexpr int kConnectBatch = 250;  // well inside the listen backlog

// ---------------------------------------------------------------------------
// One measured server process: `--serve plug-in|plain CLIENTS PLUGIN`.
// Prints "result shutdown_ms=... vmsize_kib=... rss_kib=... pss_kib=..."
// (per client for the last three).

int Failed(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  std::fflush(stdout);
  return 1;
}

bool ExpectLine(ChildProcess& child, const char* word, double seconds, std::string* line) {
  if (!child.ReadLine(line, seconds)) {
    *line = std::string("the load generator did not answer \"") + word + "\"";
    return false;
  }
  return line->rfind(word, 0) == 0;
}

// Waits until this process is back to `descriptors` and `threads`.
bool BackTo(int descriptors, long threads, double seconds) {
  const auto start = Clock::now();
  while (OpenDescriptorCount() != descriptors || StatusField("Threads") != threads) {
    if (SecondsSince(start) > seconds) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int Serve(Variant variant, int clients, const std::string& pluginPath) {
  RaiseDescriptorLimit(clients + 256);
  Watchdog watchdog;
  PluginLibrary library;
  std::string error;
  if (variant == Variant::kPlugin && !library.Load(pluginPath, &error)) return Failed(error);

  const int descriptorsBefore = OpenDescriptorCount();
  const long threadsBefore = StatusField("Threads");
  BlockSink sink;
  sink.Reset(BlockSink::Check::kCount);
  ServerUnderTest server(variant, &library, &sink);
  ChildProcess generator;
  {
    Phase phase(watchdog, "starting the server", 60);
    if (!server.Start(false, 0, &error)) return Failed(error);
    if (!generator.Spawn({"--generator", "idle", std::to_string(server.port())}, &error)) return Failed(error);
  }
  const long vmBefore = StatusField("VmSize");
  const long rssBefore = StatusField("VmRSS");
  const long pssBefore = PssKb();

  {
    Phase phase(watchdog, "connecting " + std::to_string(clients) + " idle clients", 30 + clients / 20.0);
    std::string line;
    for (int connected = 0; connected < clients;) {
      const int batch = std::min(kConnectBatch, clients - connected);
      generator.Send("connect " + std::to_string(batch));
      if (!ExpectLine(generator, "ready", 60, &line)) return Failed("load generator: " + line);
      connected += batch;
      // Each client's byte delivered: the server has accepted it and its
      // reader has run.
      if (!sink.WaitBytes(static_cast<uint64_t>(connected), 60)) {
        return Failed(std::to_string(sink.bytes()) + " of " + std::to_string(connected) +
                      " clients were served within 60 s");
      }
    }
  }
  const long vmAfter = StatusField("VmSize");
  const long rssAfter = StatusField("VmRSS");
  const long pssAfter = PssKb();
  const long threadsServing = StatusField("Threads");

  double shutdownMs;
  {
    Phase phase(watchdog, "shutting down with " + std::to_string(clients) + " idle clients", 120);
    server.BeginStop();
    const auto start = Clock::now();
    server.Shutdown();
    shutdownMs = SecondsSince(start) * 1e3;
    server.Finish();
  }
  {
    Phase phase(watchdog, "checking that every client was closed", 60);
    std::string line;
    generator.Send("check-closed 20");
    if (!ExpectLine(generator, "closed", 30, &line)) return Failed("load generator: " + line);
    const long closed = std::strtol(line.c_str() + 7, nullptr, 10);
    if (closed != clients) {
      return Failed("only " + std::to_string(closed) + " of " + std::to_string(clients) +
                    " clients saw the server close their connection");
    }
    generator.Send("quit");
    generator.Wait(20);
    if (!BackTo(descriptorsBefore, threadsBefore, 10)) {
      return Failed("after the shutdown the server process holds " + std::to_string(OpenDescriptorCount()) +
                    " descriptors and " + std::to_string(StatusField("Threads")) + " threads (before: " +
                    std::to_string(descriptorsBefore) + " and " + std::to_string(threadsBefore) +
                    "); descriptors now: " + DescribeDescriptors());
    }
  }
  std::printf("result shutdown_ms=%.3f vmsize_kib=%.2f rss_kib=%.2f pss_kib=%.2f threads=%ld\n",
              shutdownMs, double(vmAfter - vmBefore) / clients, double(rssAfter - rssBefore) / clients,
              double(pssAfter - pssBefore) / clients, threadsServing - threadsBefore);
  std::fflush(stdout);
  return 0;
}

// ---------------------------------------------------------------------------
// The driver: runs the measured processes in alternating order.

struct Options : CommonOptions {
  int shutdownClients = 0;  // 0: 1000, or 200 with --quick
  int memoryClients = 0;    // 0: 5000, or 500 with --quick
};

using Result = std::map<std::string, double>;

std::optional<Result> RunServer(Variant variant, int clients, const Options& options) {
  ChildProcess child;
  std::string error;
  if (!child.Spawn({"--serve", VariantName(variant), std::to_string(clients), options.plugin}, &error)) {
    std::printf("FAILED: %s\n", error.c_str());
    return std::nullopt;
  }
  const double limit = 60 + clients / 10.0;
  std::optional<Result> result;
  std::string line;
  const auto start = Clock::now();
  while (SecondsSince(start) < limit && child.ReadLine(&line, limit - SecondsSince(start))) {
    if (line.rfind("result ", 0) != 0) {
      std::printf("%s\n", line.c_str());
      continue;
    }
    Result values;
    std::istringstream fields(line.substr(7));
    for (std::string field; fields >> field;) {
      std::size_t equals = field.find('=');
      if (equals != std::string::npos) values[field.substr(0, equals)] = std::atof(field.c_str() + equals + 1);
    }
    result = values;
  }
  const int status = child.Wait(10);
  if (status != 0 || !result) {
    std::printf("FAILED: the %s server run with %d clients %s\n", VariantName(variant), clients,
                status == 3 ? "did not finish a phase in time"
                : status < 0 ? "did not end within its time"
                             : "failed");
    return std::nullopt;
  }
  return result;
}

bool Measure(int clients, const Options& options, std::vector<Result>* plugin, std::vector<Result>* plain) {
  for (int round = 0; round < options.roundCount(); ++round) {
    for (Variant variant : RoundOrder(round)) {
      std::optional<Result> result = RunServer(variant, clients, options);
      if (!result) return false;
      Result& r = *result;
      std::printf("  %-8s %5d clients: shutdown %8.1f ms; per client %8.1f KiB address space, %6.1f KiB RSS, "
                  "%6.1f KiB Pss; %4.0f threads\n",
                  VariantName(variant), clients, r["shutdown_ms"], r["vmsize_kib"], r["rss_kib"], r["pss_kib"],
                  r["threads"]);
      std::fflush(stdout);
      (variant == Variant::kPlugin ? plugin : plain)->push_back(r);
    }
  }
  return true;
}

std::vector<double> Values(const std::vector<Result>& results, const char* key) {
  std::vector<double> values;
  for (const Result& result : results) values.push_back(result.at(key));
  return values;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  options->plugin = LANFEED_PLUGIN_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (ParseCommonOption(argc, argv, &i, options)) continue;
    if (arg == "--shutdown-clients" && i + 1 < argc) {
      options->shutdownClients = std::atoi(argv[++i]);
    } else if (arg == "--memory-clients" && i + 1 < argc) {
      options->memoryClients = std::atoi(argv[++i]);
    } else {
      return false;
    }
  }
  if (options->shutdownClients == 0) options->shutdownClients = options->quick ? 200 : 1000;
  if (options->memoryClients == 0) options->memoryClients = options->quick ? 500 : 5000;
  return options->shutdownClients >= 1 && options->shutdownClients <= 10000 && options->memoryClients >= 1 &&
         options->memoryClients <= 10000;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  if (IsGeneratorCall(argc, argv)) return RunLoadGenerator(argc, argv);
  if (argc == 5 && std::strcmp(argv[1], "--serve") == 0) {
    const Variant variant = std::strcmp(argv[2], "plug-in") == 0 ? Variant::kPlugin : Variant::kPlain;
    return Serve(variant, std::atoi(argv[3]), argv[4]);
  }
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: %s [--quick] [--rounds N] [--shutdown-clients N] [--memory-clients N] "
                 "[--plugin PATH] [--only shutdown,memory]\n",
                 argv[0]);
    return 2;
  }
  std::printf("scale_bench%s: plug-in %s, %d interleaved rounds, each run a fresh server process\n",
              options.quick ? " --quick" : "", options.plugin.c_str(), options.roundCount());
  std::vector<Figure> figures;
  bool ok = true;
  if (options.Wanted("shutdown")) {
    std::printf("\nShutdown with %d connected idle clients (plug-in: Uninitialize; plain: close and join each)\n",
                options.shutdownClients);
    std::vector<Result> plugin, plain;
    ok = Measure(options.shutdownClients, options, &plugin, &plain);
    if (ok) {
      figures.push_back({"shutdown with " + std::to_string(options.shutdownClients) + " idle clients, ms",
                         Values(plugin, "shutdown_ms"), Values(plain, "shutdown_ms"),
                         {Goal::Kind::kRatioAtMost, 1.5}, 1});
    }
  }
  if (ok && options.Wanted("memory")) {
    std::printf("\nMemory with %d connected idle clients (growth from the listening server, per client)\n",
                options.memoryClients);
    std::vector<Result> plugin, plain;
    ok = Measure(options.memoryClients, options, &plugin, &plain);
    if (ok) {
      const std::string clients = std::to_string(options.memoryClients);
      figures.push_back({"address space per idle client, KiB (" + clients + ")", Values(plugin, "vmsize_kib"),
                         Values(plain, "vmsize_kib"), {Goal::Kind::kPluginAtMost, 256}, 1});
      figures.push_back({"resident (VmRSS) per idle client, KiB (" + clients + ")", Values(plugin, "rss_kib"),
                         Values(plain, "rss_kib"), {Goal::Kind::kRatioAtMost, 1.1}, 2});
      figures.push_back({"proportional (Pss) per idle client, KiB (" + clients + ")", Values(plugin, "pss_kib"),
                         Values(plain, "pss_kib"), {}, 2});
      figures.push_back({"shutdown with " + clients + " idle clients, ms", Values(plugin, "shutdown_ms"),
                         Values(plain, "shutdown_ms"), {}, 1});
    }
  }
  PrintFigures("scale_bench: plug-in vs plain thread-per-client server (median of " +
                   std::to_string(options.roundCount()) + " interleaved rounds, ratio = plug-in / plain)",
               figures);
  if (!ok) {
    std::printf("FAILED (see above)\n");
    return 1;
  }
  std::printf("ok: every client served and closed; no thread or descriptor left behind\n");
  return 0;
}
