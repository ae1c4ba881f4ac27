// lanfeed-host's HostServices: turns every call of the plug-in into output in
// the chosen mode, counts what went through, and watches the plug-in's
// first attempt to serve.
//
//   text   every event as a line for people on stdout (ConsoleHostServices)
//   jsonl  every event as a JSON line on stdout (json_lines.h)
//   raw    the delivered bytes on stdout, exactly and nothing else; the
//          other events as text lines on stderr
//
// Text lines (stdout in text mode, stderr in raw mode) start with the local
// time (TextTimestamp). The host's own lines: Info goes with the events in
// text mode (stdout, time-stamped) and to stderr otherwise ("lanfeed-host: "
// first); Error always goes to stderr with that prefix.
//
// A log line that repeats goes through RepeatedLines: after 10 copies in a
// second one "last line repeated N times" line per second stands for the
// rest (text: "last line repeated N times"; jsonl: the event "repeated").
// The totals count every copy.
//
// Thread-safety: the plug-in calls the four services from several threads at
// once; every member may be called from any thread. Output goes through the
// two StreamWriters, so a call waits while its stream's queue is full (until
// the writers stop).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "host/console_host_services.h"
#include "host/repeated_lines.h"
#include "host/stream_writer.h"
#include "plugin/host_services.h"
#include "plugin/plugin_interface.h"

namespace lanfeed::host {

enum class OutputMode { kText, kJsonLines, kRaw };

class HostOutput final : public HostServices {
 public:
  // Called (once per watch) with the plug-in's error line; see WatchServing.
  using ServeFailureHandler = std::function<void(const std::string& line)>;

  HostOutput(OutputMode mode, StreamWriter* out, StreamWriter* err, ServeFailureHandler onServeFailure);

  int32_t Deliver(const InputDataRecord* record) override;
  int32_t ShowFeedback(const FeedbackParams* params) override;
  int32_t WriteLog(int32_t level, const WChar* text) override;
  int32_t SetStatusProperty(int32_t property, int32_t size, const void* value) override;

  void Info(const std::string& line);
  void Error(const std::string& line);

  // From now until the plug-in publishes the listening status 1, an error
  // line (level 1) means that its socket cannot be served: the first such
  // line goes to the serve-failure handler and ends the watch.
  void WatchServing();

  // Between these two calls the host itself stops the plug-in's server
  // (removing its consumer, moving the server on a reload, uninitialising
  // the plug-in): the error lines the plug-in writes meanwhile are its
  // report of that stop, counted as hostStopErrorLines, not as errorLines.
  // The calls run on the host's main thread; the plug-in joins the threads
  // that write those lines before its calls return.
  void BeginHostStop();
  void EndHostStop();

  // Writes the summary of held-back repeated lines that is due (see
  // RepeatedLines::Tick); the host calls it about four times a second.
  void Tick();
  // Writes the summary of every held-back repeated line now (at a stop).
  void FlushRepeats();

  // The plug-in's GetLanFeedDeliveryPeer (null: none). Deliver asks it for
  // each record's sender: jsonl gives it as "peer", text as peer=..., raw
  // never.
  void SetPeerSource(GetLanFeedDeliveryPeerFn source) { peerSource_.store(source); }

  struct Totals {
    uint64_t blocks = 0;      // Deliver calls
    uint64_t bytes = 0;       // bytes in them
    uint64_t feedback = 0;    // ShowFeedback calls
    uint64_t errorLines = 0;  // WriteLog calls at level 1, but for:
    uint64_t hostStopErrorLines = 0;  // ... those during a stop the host asked for
  };
  Totals totals() const;

  // "delivered 3 blocks (15 bytes), 3 feedback requests, 0 error lines",
  // followed by " (2 more while the host stopped or moved the server)" when there
  // were such lines.
  static std::string DescribeTotals(const Totals& totals);

 private:
  const OutputMode mode_;
  StreamWriter* const out_;
  StreamWriter* const err_;
  const ServeFailureHandler onServeFailure_;
  ConsoleHostServices lines_;  // text lines: stdout in text mode, stderr in raw mode

  void WriteLogLine(int32_t level, const WChar* text, const std::string& utf8);
  void WriteRepeated(const RepeatedLines::Summary& summary);

  std::mutex logMutex_;  // the repeat decision and the writes it decides
  RepeatedLines repeats_;
  std::atomic<int> hostStops_{0};

  std::atomic<bool> watching_{false};
  std::atomic<GetLanFeedDeliveryPeerFn> peerSource_{nullptr};
  std::atomic<uint64_t> blocks_{0};
  std::atomic<uint64_t> bytes_{0};
  std::atomic<uint64_t> feedback_{0};
  std::atomic<uint64_t> errorLines_{0};
  std::atomic<uint64_t> hostStopErrorLines_{0};
};

}  // namespace lanfeed::host
