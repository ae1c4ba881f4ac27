// lanfeed-host: the reference host. Loads LanFeedPlugin, configures it, registers
// one consumer and prints what the plug-in hands over until SIGINT or SIGTERM.
//
//   lanfeed-host [--config FILE] [--plugin PATH] [--write-default-config FILE]
//
// Exit codes: 0 after a clean stop or a written default configuration, 1 when
// the configuration, the plug-in or the output file is unusable, 2 for a bad
// command line.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <string>

#include "host/config_tree.h"
#include "host/console_host_services.h"
#include "host/default_config.h"
#include "host/host_options.h"
#include "host/plugin_loader.h"

namespace {

using lanfeed::host::ConsoleHostServices;

constexpr lanfeed::ConsumerId kConsumer = 1;

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Waits in the calling thread for SIGINT or SIGTERM, which main blocked in
// every thread, so no signal handler ever runs and nothing of the plug-in is
// touched from one.
int WaitForStopSignal(const sigset_t& stopSignals) {
  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }
  return signal;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "lanfeed-host: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  lanfeed::host::HostOptions options;
  std::string error;
  if (!lanfeed::host::ParseHostOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "lanfeed-host: %s\n%s", error.c_str(), lanfeed::host::kHostUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(lanfeed::host::kHostUsage, stdout);
    return 0;
  }

  // Block the stop signals before any thread exists: the plug-in's threads
  // inherit the mask, so only WaitForStopSignal receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // A configuration that cannot be used stops the host before anything is
  // loaded or started.
  lanfeed::host::ConfigTree tree;
  bool writeDefaults = !options.writeDefaultConfig.empty();
  if (!writeDefaults && !options.configFile.empty()) {
    lanfeed::host::XmlError xmlError;
    if (!tree.LoadFile(options.configFile, &xmlError)) {
      return Fail(lanfeed::host::FormatXmlError(options.configFile, xmlError));
    }
  }

  std::string pluginPath =
      options.pluginPath.empty() ? lanfeed::host::DefaultPluginPath(argv[0]) : options.pluginPath;
  ConsoleHostServices services(PrintLine);
  lanfeed::host::PluginLoader loader;
  if (!loader.Load(pluginPath, &error)) return Fail(error);
  lanfeed::IInputPlugin* plugin = loader.plugin();
  plugin->Initialize(&services);

  if (writeDefaults) {
    bool written = lanfeed::host::WriteDefaultConfigFile(plugin, options.writeDefaultConfig, &error);
    plugin->Uninitialize();
    loader.Release();
    if (!written) return Fail(error);
    services.Print("wrote the default configuration to " + options.writeDefaultConfig);
    return 0;
  }

  std::string configSource = options.configFile;
  if (configSource.empty()) {
    configSource = "defaults";
    if (!lanfeed::host::BuildDefaultConfiguration(plugin, &tree)) {
      plugin->Uninitialize();
      loader.Release();
      return Fail("the plug-in wrote no default configuration");
    }
  }
  services.Print(lanfeed::host::DescribeStartup(*loader.descriptor(), pluginPath, configSource,
                                                lanfeed::host::EffectiveSettings(tree.root())));
  plugin->Configure(tree.root());
  plugin->AddConsumer(kConsumer);

  int received = WaitForStopSignal(stopSignals);
  services.Print(received == SIGINT ? "stopping on SIGINT" : "stopping on SIGTERM");
  plugin->RemoveConsumer(kConsumer);
  plugin->Uninitialize();
  loader.Release();
  services.Print("stopped");
  return 0;
}
