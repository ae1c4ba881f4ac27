// One run of LanFeedPlugin under the host, in the calling order of the
// device's host application:
//   load, GetCVClassFactory, descriptors, CreateInstance, Initialize,
//   WriteDefaultConfig, Configure, AddConsumer, ... (Configure again on a
//   reload), RemoveConsumer, Uninitialize, DestroyInstance,
//   ReleaseCVClassFactory, unload.
// A reload that moves the server (another protocol or port, or the input
// switched on or off) removes the consumer before Configure and adds it
// again after, since the plug-in starts a new server only when its first
// consumer arrives.
//
// Not thread-safe: the host's main thread makes every call.
#pragma once

#include <memory>
#include <string>

#include "host/config_tree.h"
#include "host/host_options.h"
#include "host/host_output.h"
#include "host/plugin_loader.h"
#include "plugin/config/device_settings.h"

namespace lanfeed::host {

class HostSession {
 public:
  HostSession(const HostOptions& options, HostOutput* output);
  ~HostSession();  // Stop, then unload
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Reads the --config file (what the plug-in will not use as written goes
  // to stderr as warnings: CheckConfiguration), finds and loads the plug-in, creates its
  // object, Initialize, WriteDefaultConfig. False with `error` set (nothing
  // stays loaded) when any of it fails.
  bool Load(std::string* error);

  // --write-default-config: saves the default configuration with the
  // command-line overrides. False with `error` set.
  bool WriteDefaults(std::string* error);

  // Configure with the configuration and its overrides, then AddConsumer.
  // Unless --keep-retrying, the output watches the first attempt to serve.
  // Says what listens through the output.
  void Start();

  // Re-reads the --config file (the request is named `requestName`), warns
  // about it as Load does, and applies it with the overrides. A file that cannot be used is reported
  // and the running configuration stays.
  void Reload(const std::string& requestName);

  // RemoveConsumer (when started), Uninitialize, DestroyInstance and
  // ReleaseCVClassFactory. Idempotent.
  void Stop();

  // What the plug-in reads from the configuration it runs on.
  const DeviceSettings& settings() const { return settings_; }

 private:
  // Configure with `tree` (overrides applied), which becomes the running one.
  void UseConfiguration(std::unique_ptr<ConfigTree> tree);
  void AddConsumer();
  void WarnAbout(const ConfigTree& tree);

  const HostOptions options_;
  HostOutput* const output_;
  PluginLoader loader_;
  std::string pluginPath_;
  std::unique_ptr<ConfigTree> fileTree_;  // --config, read by Load
  ConfigTree defaults_;                   // what WriteDefaultConfig wrote, defaults as values
  std::unique_ptr<ConfigTree> running_;   // handed to the last Configure
  DeviceSettings settings_;
  bool initialized_ = false;
  bool consumerAdded_ = false;
};

}  // namespace lanfeed::host
