// lanfeed-host: the reference host. Loads LanFeedPlugin, configures it,
// registers one consumer and writes out what the plug-in hands over, in the
// chosen output mode, until it is asked to stop. See kHostUsage for the
// command line and host_session.h for the calling order.
//
// Exit codes: 0 after a clean stop, a written default configuration or a
// configuration check with nothing to say; 1
// when the configuration, the plug-in, the socket or the output fails
// (output that could not be written at a stop included); 2 for a bad
// command line.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "host/config_check.h"
#include "host/config_overrides.h"
#include "host/config_tree.h"
#include "host/default_config.h"
#include "host/host_events.h"
#include "host/host_options.h"
#include "host/host_os.h"
#include "host/host_output.h"
#include "host/host_session.h"
#include "host/stream_writer.h"

namespace {

using namespace lanfeed::host;
using namespace std::chrono_literals;

// A stop completes within 2 s of its request even when a reader never reads:
// stdout may drain until the first deadline, stderr (the summary) until the
// second; whatever is left then is counted and the process ends.
constexpr auto kStdoutGrace = 1000ms;
constexpr auto kStderrGrace = 1300ms;
// How often the summary of a repeated log line is looked at.
constexpr auto kTickInterval = 250ms;

std::string ProtocolAndPort(const lanfeed::DeviceSettings& settings) {
  return std::string(settings.Protocol == lanfeed::kProtocolUdp ? "UDP" : "TCP") + " port " +
         std::to_string(settings.Port);
}

// Waits for events until one ends the host; returns the exit code.
int Serve(HostSession* session, HostEvents* events, HostOutput* output) {
  for (;;) {
    std::optional<HostEvent> next = events->WaitFor(kTickInterval);
    if (!next) {
      output->Tick();
      continue;
    }
    HostEvent event = std::move(*next);
    output->Tick();
    switch (event.kind) {
      case HostEvent::kReload: session->Reload(event.detail); break;
      case HostEvent::kStop: output->Info("stopping on " + event.detail); return 0;
      case HostEvent::kOutputFailed: output->Error(event.detail); return 1;
      case HostEvent::kServeFailed:
        output->Error("cannot serve " + ProtocolAndPort(session->settings()) + ": " + event.detail +
                      " (with --keep-retrying the host retries every 5 s)");
        return 1;
    }
  }
}

// --check-config: the findings on stdout, one per line, then what the
// plug-in will serve. 0 when there is nothing to say, 1 otherwise.
int CheckConfigFile(const HostOptions& options) {
  ConfigTree tree;
  XmlError xmlError;
  if (!tree.LoadFile(options.checkConfig, &xmlError)) {
    std::fprintf(stderr, "lanfeed-host: %s\n", FormatXmlError(options.checkConfig, xmlError).c_str());
    return 1;
  }
  std::vector<ConfigFinding> findings = CheckConfiguration(tree, options.overrides);
  std::string text;
  for (const ConfigFinding& finding : findings) text += FormatFinding(options.checkConfig, finding) + "\n";
  if (findings.empty()) text += options.checkConfig + ": the plug-in uses every value as written\n";
  ApplyOverrides(options.overrides, &tree);
  text += options.checkConfig + ": the plug-in will serve " + DescribeSettings(EffectiveSettings(tree.root())) + "\n";
  bool written = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
  return written && findings.empty() ? 0 : 1;
}

// Stops the signal watcher's calls before what they use goes.
struct StopWatching {
  os::SignalWatcher* signals;
  ~StopWatching() { signals->Stop(); }
};

int Run(const HostOptions& options, os::SignalWatcher* signals) {
  // Declared in the order that lets each part go safely: the writers end
  // (their threads joined) before the events they post to, and the signal
  // watcher stops calling before either goes.
  StreamWriter* outRef = nullptr;
  StreamWriter* errRef = nullptr;
  HostEvents events([&] {
    outRef->BeginStop();
    errRef->BeginStop();
  });
  auto onFailure = [&](const std::string& message) { events.Post({HostEvent::kOutputFailed, message}); };
  StreamWriter out(os::StandardStream::kOut, onFailure);
  StreamWriter err(os::StandardStream::kErr, onFailure);
  outRef = &out;
  errRef = &err;
  HostOutput output(options.output, &out, &err,
                    [&](const std::string& line) { events.Post({HostEvent::kServeFailed, line}); });
  StopWatching stopWatching{signals};

  int code = 0;
  bool served = false;
  std::string error;
  {
    HostSession session(options, &output);
    if (!signals->Start(
            [&](const os::Signal& signal) {
              events.Post({signal.kind == os::SignalKind::kReload ? HostEvent::kReload : HostEvent::kStop,
                           signal.name});
            },
            &error)) {
      output.Error(error);
      code = 1;
    } else if (!session.Load(&error)) {
      output.Error(error);
      code = 1;
    } else if (!options.writeDefaultConfig.empty()) {
      if (session.WriteDefaults(&error)) {
        output.Info("wrote the default configuration to " + options.writeDefaultConfig);
      } else {
        output.Error(error);
        code = 1;
      }
    } else {
      session.Start();
      code = Serve(&session, &events, &output);
      served = true;
    }
    session.Stop();
  }
  output.FlushRepeats();
  if (served && options.output == OutputMode::kText) output.Info("stopped");  // the other modes: the summary

  auto ended = served ? events.endTime() : std::chrono::steady_clock::now();
  bool outDone = out.Finish(ended + kStdoutGrace);
  if (served) output.Error("stopped: " + HostOutput::DescribeTotals(output.totals()));
  if (uint64_t lost = out.unwrittenBytes(); lost > 0) {
    output.Error(std::to_string(lost) + " bytes could not be written to stdout");
    code = 1;
  }
  bool errDone = err.Finish(ended + kStderrGrace);
  if (err.unwrittenBytes() > 0) code = 1;
  signals->StopCompleted();
  // A writer stuck in a write that never returns cannot be joined.
  if ((!outDone && out.writeInProgress()) || (!errDone && err.writeInProgress())) os::ExitNow(code);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  // First, before any thread exists: the signals it watches stay away from
  // every later thread.
  os::SignalWatcher signals;
  os::PrepareProcess();

  std::vector<std::string> arguments = os::CommandLineArguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(static_cast<int>(pointers.size()), pointers.data(), &options, &error)) {
    std::fprintf(stderr, "lanfeed-host: %s\nTry 'lanfeed-host --help'.\n", error.c_str());
    return 2;
  }
  if (options.help || options.version) {
    bool written = options.help ? std::fputs(kHostUsage, stdout) >= 0
                                : std::fprintf(stdout, "lanfeed-host %s\n", kHostVersion) >= 0;
    return written && std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!options.checkConfig.empty()) return CheckConfigFile(options);
  return Run(options, &signals);
}
