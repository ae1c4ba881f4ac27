// Drives LanFeedPlugin through its exports only, in the host's order: load
// the library by file name, GetCVClassFactory, check the descriptor,
// CreateInstance, Initialize, Configure, AddConsumer ... RemoveConsumer,
// Uninitialize, DestroyInstance, ReleaseCVClassFactory. Whatever the plug-in
// delivers goes to a BlockSink.
//
// Thread-safety: the driving calls come from one thread, as from the host;
// BenchHost's operations may run on any of the plug-in's threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "bench/block_sink.h"
#include "bench/memory_config.h"
#include "platform/library.h"
#include "plugin/plugin_interface.h"

namespace bench {

// The loaded library and one factory, for the whole run.
class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();  // releases the factory, unloads
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads `path`, takes a factory and checks that its descriptor table
  // offers the LANFEED class as "LAN Feed".
  bool Load(const std::string& path, std::string* error);
  lanfeed::IPluginFactory* factory() const { return factory_; }

 private:
  lanfeed::SharedLibrary library_;
  lanfeed::IPluginFactory* factory_ = nullptr;
  lanfeed::ReleaseCVClassFactoryFn release_ = nullptr;
};

// The host services: Deliver hands the block to the sink, the listening
// status can be waited for, feedback requests and log lines are counted
// (the plug-in logs a failure line at every normal stop, so lines are not
// printed).
class BenchHost final : public lanfeed::HostServices {
 public:
  explicit BenchHost(BlockSink* sink) : sink_(sink) {}

  int32_t Deliver(const lanfeed::InputDataRecord* record) override;
  int32_t ShowFeedback(const lanfeed::FeedbackParams* params) override;
  int32_t WriteLog(int32_t level, const lanfeed::WChar* text) override;
  int32_t SetStatusProperty(int32_t property, int32_t size, const void* value) override;

  // Waits until the published listening status is `status`.
  bool WaitListening(int32_t status, double seconds);
  uint64_t logLines() const { return logLines_.load(); }
  uint64_t feedbacks() const { return feedbacks_.load(); }

 private:
  BlockSink* sink_;
  std::atomic<uint64_t> feedbacks_{0};
  std::atomic<uint64_t> logLines_{0};
  std::mutex mutex_;
  std::condition_variable statusChanged_;
  int32_t listening_ = 0;
};

// One plug-in object from creation to destruction, with one consumer.
class PluginServer {
 public:
  PluginServer(PluginLibrary* library, BlockSink* sink);
  ~PluginServer();  // finishes whatever Stop has not done yet
  PluginServer(const PluginServer&) = delete;
  PluginServer& operator=(const PluginServer&) = delete;

  // CreateInstance, Initialize, Configure (TCP or UDP on `port`, with
  // `framing` when not empty), AddConsumer, then waits until the plug-in
  // publishes that it listens.
  bool Start(bool udp, uint16_t port, int tcpTimeoutSeconds, std::string* error, const std::string& framing = "");
  // The host's way out, one step at a time: RemoveConsumer, Uninitialize
  // (the plug-in closes its sockets and joins its threads), DestroyInstance.
  void RemoveConsumer();
  void Uninitialize();
  void Destroy();
  void Stop();

  BenchHost& host() { return host_; }

 private:
  PluginLibrary* library_;
  BenchHost host_;
  lanfeed::IInputPlugin* plugin_ = nullptr;
  bool consumer_ = false;
  bool initialized_ = false;
  std::unique_ptr<ConfigElement> config_;
};

}  // namespace bench
