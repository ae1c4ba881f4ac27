#include <gtest/gtest.h>

#include <cstring>

#include "plugin/factory.h"
#include "plugin/input_plugin.h"
#include "tests/support/failing_allocation.h"

namespace lanfeed {
namespace {

struct FactoryDeleter {
  void operator()(IPluginFactory* f) const { ReleaseCVClassFactory(f); }
};
using FactoryPtr = std::unique_ptr<IPluginFactory, FactoryDeleter>;

TEST(Factory, DescriptorTableHasOneRecordThenAnAllZeroEnd) {
  FactoryPtr a(GetCVClassFactory()), b(GetCVClassFactory());
  ASSERT_TRUE(a && b);
  EXPECT_NE(a.get(), b.get()) << "every call allocates a new factory";
  EXPECT_EQ(a->GetDescriptorCount(), 1);
  const PluginDescriptor* table = a->GetDescriptors();
  EXPECT_EQ(table, a->GetDescriptors());
  EXPECT_EQ(table, b->GetDescriptors()) << "one static table for every factory";
  const uint8_t lanfeed[16] = {0x4C, 0, 0, 0, 0x41, 0, 0x4E, 0, 'F', 'E', 'E', 'D', 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(&table[0].ClassId, lanfeed, 16), 0);
  EXPECT_EQ(table[0].Version, 0x00010001u);
  EXPECT_EQ(table[0].Kind, 10u);
  EXPECT_EQ(ToUtf8(table[0].DisplayName), "LAN Feed");
  PluginDescriptor zero{};
  EXPECT_EQ(std::memcmp(&table[1], &zero, sizeof zero), 0);

  IInputPlugin* plugin = nullptr;
  a->CreateInstance(&kLanFeedClassId, &plugin, nullptr);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->GetDisplayName(), table[0].DisplayName) << "the same text pointer";
  EXPECT_EQ(plugin->GetVersion(), table[0].Version);
  EXPECT_EQ(plugin->GetKind(), table[0].Kind);
  a->DestroyInstance(&kLanFeedClassId, plugin);
}

TEST(Factory, CreatesOnlyForLanFeedIdentifier) {
  FactoryPtr f(GetCVClassFactory());
  PluginClassId lastByte = kLanFeedClassId;
  lastByte.Data4[7] = 1;
  PluginClassId firstByte = kLanFeedClassId;
  firstByte.Data1 ^= 1;
  const PluginClassId* refused[] = {&kLoggerClassId, &kFeedbackClassId, &lastByte, &firstByte, nullptr};
  for (const PluginClassId* id : refused) {
    IInputPlugin* out = reinterpret_cast<IInputPlugin*>(0x1234);
    EXPECT_EQ(f->CreateInstance(id, &out, nullptr), 0);
    EXPECT_EQ(out, nullptr);
  }
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(f->CreateLogger(&out, nullptr), 0);
  EXPECT_EQ(out, nullptr) << "the caller's pointer is cleared even when it held a value";
  out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(f->CreateFeedback(&out, nullptr), 0);
  EXPECT_EQ(out, nullptr);
}

TEST(Factory, AllocationFailureInCreateInstanceLeavesNoObject) {
  FactoryPtr f(GetCVClassFactory());
  ASSERT_TRUE(f);
  bool created = false;
  for (long nth = 1; nth < 64 && !created; ++nth) {
    IInputPlugin* out = reinterpret_cast<IInputPlugin*>(0x1234);
    int32_t result;
    bool fired;
    {
      testing::FailingAllocation failing(nth);
      result = f->CreateInstance(&kLanFeedClassId, &out, nullptr);
      fired = failing.fired();
    }
    EXPECT_EQ(result, 0) << nth;
    if (fired) {
      EXPECT_EQ(out, nullptr) << nth;
    } else {
      ASSERT_NE(out, nullptr);
      f->DestroyInstance(&kLanFeedClassId, out);
      created = true;
    }
  }
  EXPECT_TRUE(created);
}

TEST(Factory, ObjectsOutliveFactoriesAndDieOnlyByLanFeedIdentifier) {
  IPluginFactory* first = GetCVClassFactory();
  IPluginFactory* second = GetCVClassFactory();
  IInputPlugin* plugin = nullptr;
  first->CreateInstance(&kLanFeedClassId, &plugin, nullptr);
  ASSERT_NE(plugin, nullptr);
  ReleaseCVClassFactory(first);
  ReleaseCVClassFactory(nullptr);  // does nothing

  // Wrong identifiers and the logger/feedback slots leave the object alive.
  EXPECT_EQ(second->DestroyInstance(&kLoggerClassId, plugin), 0);
  EXPECT_EQ(second->DestroyLogger(plugin), 0);
  EXPECT_EQ(second->DestroyFeedback(plugin), 0);
  EXPECT_EQ(second->DestroyInstance(&kLanFeedClassId, nullptr), 0);
  EXPECT_EQ(plugin->GetKind(), 10u) << "object still usable";
  EXPECT_EQ(plugin->AddConsumer(3), 0);

  // Destroyed through a different factory than the one that created it.
  EXPECT_EQ(second->DestroyInstance(&kLanFeedClassId, plugin), 0);
  ReleaseCVClassFactory(second);
}

}  // namespace
}  // namespace lanfeed
