// lanfeed-host: loads LanFeedPlugin and reports what the plug-in offers.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/plugin_loader.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  std::string pluginPath = lanfeed::host::DefaultPluginPath(argv[0]);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc) {
      pluginPath = argv[++i];
    } else {
      std::fprintf(stderr, "usage: lanfeed-host [--plugin PATH]\n");
      return 2;
    }
  }
  lanfeed::host::PluginLoader loader;
  std::string error;
  if (!loader.Load(pluginPath, &error)) {
    std::fprintf(stderr, "lanfeed-host: %s\n", error.c_str());
    return 1;
  }
  const lanfeed::PluginDescriptor* d = loader.descriptor();
  std::printf("loaded %s: \"%s\" version %u.%u kind %u (%d descriptor)\n", pluginPath.c_str(),
              lanfeed::ToUtf8(d->DisplayName).c_str(), d->Version >> 16, d->Version & 0xFFFF,
              d->Kind, loader.descriptorCount());
  return 0;
}
