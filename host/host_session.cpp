#include "host/host_session.h"

#include <utility>

#include "host/config_check.h"
#include "host/config_overrides.h"
#include "host/default_config.h"
#include "host/host_os.h"

namespace lanfeed::host {

namespace {
constexpr ConsumerId kConsumer = 1;

// Protocol, port or the input switched on or off: the plug-in replaces (or
// removes) its server, and a new server starts only with a first consumer.
bool MovesTheServer(const DeviceSettings& from, const DeviceSettings& to) {
  if ((from.Enabled != 0) != (to.Enabled != 0)) return true;
  return to.Enabled != 0 && (from.Protocol != to.Protocol || from.Port != to.Port);
}
}  // namespace

HostSession::HostSession(const HostOptions& options, HostOutput* output) : options_(options), output_(output) {}

HostSession::~HostSession() { Stop(); }

bool HostSession::Load(std::string* error) {
  // A configuration that cannot be used stops the host before anything is
  // loaded or started.
  if (!options_.configFile.empty() && options_.writeDefaultConfig.empty()) {
    fileTree_ = std::make_unique<ConfigTree>();
    XmlError xmlError;
    if (!fileTree_->LoadFile(options_.configFile, &xmlError)) {
      *error = FormatXmlError(options_.configFile, xmlError);
      return false;
    }
    WarnAbout(*fileTree_);
  }

  pluginPath_ = options_.pluginPath;
  if (pluginPath_.empty()) {
    std::string program = os::ExecutablePath();
    if (program.empty()) {
      *error = std::string("cannot tell where the program is, so cannot find ") + os::PluginFileName() +
               " (use --plugin PATH)";
      return false;
    }
    std::vector<std::string> candidates = PluginCandidates(program, os::PluginFileName());
    for (const std::string& candidate : candidates) {
      if (os::FileExists(candidate)) {
        pluginPath_ = candidate;
        break;
      }
    }
    if (pluginPath_.empty()) {
      *error = "cannot find the plug-in: neither " + candidates[0] + " nor " + candidates[1] +
               " exists (use --plugin PATH)";
      return false;
    }
  }
  if (!loader_.Load(pluginPath_, error)) return false;
  output_->SetPeerSource(loader_.deliveryPeer());

  loader_.plugin()->Initialize(output_);
  initialized_ = true;
  if (!BuildDefaultConfiguration(loader_.plugin(), &defaults_)) {
    *error = "the plug-in wrote no default configuration";
    Stop();
    return false;
  }
  return true;
}

bool HostSession::WriteDefaults(std::string* error) {
  ApplyOverrides(options_.overrides, &defaults_);
  return SaveDefaultConfigFile(&defaults_, options_.writeDefaultConfig, error);
}

void HostSession::WarnAbout(const ConfigTree& tree) {
  for (const ConfigFinding& finding : CheckConfiguration(tree, options_.overrides)) {
    output_->Error("warning: " + FormatFinding(options_.configFile, finding));
  }
}

void HostSession::UseConfiguration(std::unique_ptr<ConfigTree> tree) {
  settings_ = EffectiveSettings(tree->root());
  // Text lines name each record's sender once records are framed (opt-in:
  // the lines stay as they were without framing).
  loader_.plugin()->Configure(tree->root());
  // The plug-in uses the node only during Configure; the tree is kept all
  // the same, as the device's host application keeps its configuration.
  running_ = std::move(tree);
}

void HostSession::AddConsumer() {
  if (settings_.Enabled != 0 && !options_.keepRetrying) output_->WatchServing();
  loader_.plugin()->AddConsumer(kConsumer);
  consumerAdded_ = true;
}

void HostSession::Start() {
  std::unique_ptr<ConfigTree> tree = std::move(fileTree_);
  std::string source = options_.configFile;
  if (!tree) {
    source = "defaults";
    tree = std::make_unique<ConfigTree>();
    XmlError unused;
    tree->Parse(defaults_.ToXml(), &unused);  // a copy: the defaults stay as written
  }
  if (!options_.overrides.empty()) source += " with command-line settings";
  ApplyOverrides(options_.overrides, tree.get());
  UseConfiguration(std::move(tree));
  output_->Info(DescribeStartup(*loader_.descriptor(), pluginPath_, source, settings_));
  AddConsumer();
}

void HostSession::Reload(const std::string& requestName) {
  if (options_.configFile.empty()) {
    output_->Error(requestName + ": no --config file to re-read; nothing changes");
    return;
  }
  auto tree = std::make_unique<ConfigTree>();
  XmlError xmlError;
  if (!tree->LoadFile(options_.configFile, &xmlError)) {
    output_->Error(requestName + ": " + FormatXmlError(options_.configFile, xmlError) +
                   "; the running configuration stays");
    return;
  }
  WarnAbout(*tree);
  DeviceSettings before = settings_;
  ApplyOverrides(options_.overrides, tree.get());
  bool moves = MovesTheServer(before, EffectiveSettings(tree->root()));
  // A move stops the old server: its error lines are the host's doing.
  if (moves) output_->BeginHostStop();
  if (moves && consumerAdded_) {
    loader_.plugin()->RemoveConsumer(kConsumer);
    consumerAdded_ = false;
  }
  UseConfiguration(std::move(tree));
  if (moves) output_->EndHostStop();
  output_->Info("re-read " + options_.configFile + " on " + requestName + ": " + DescribeSettings(settings_));
  if (moves) AddConsumer();
}

void HostSession::Stop() {
  IInputPlugin* plugin = loader_.plugin();
  if (plugin != nullptr && initialized_) {
    output_->BeginHostStop();
    if (consumerAdded_) plugin->RemoveConsumer(kConsumer);
    consumerAdded_ = false;
    plugin->Uninitialize();
    initialized_ = false;
    output_->EndHostStop();
  }
  output_->SetPeerSource(nullptr);  // before the library goes
  loader_.Release();  // DestroyInstance, ReleaseCVClassFactory, unload
}

}  // namespace lanfeed::host
