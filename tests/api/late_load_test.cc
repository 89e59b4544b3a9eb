// SPDX-License-Identifier: MIT
// The shared library loaded while the program runs, after another thread exists, as a
// scripting language's foreign-function layer loads it. Its thread-local state must still
// find room in every thread, and a conversion through it must give the page that the linked
// library gives.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "owclient/owclient.h"
#include "support/story_samples.h"

namespace owc_test {
namespace {

const char kTemplate[] = "<h1><?Kavio insert headline?></h1><div><?Kavio insert body?></div>";

void Append(const uint8_t* data, uint32_t len, uintptr_t u1, uintptr_t) {
  if (data != nullptr)
    reinterpret_cast<std::string*>(u1)->append(reinterpret_cast<const char*>(data), len);
}

struct ConvertApi {
  decltype(&OBConvertNewEnv) newEnv = OBConvertNewEnv;
  decltype(&OBConvertNewObj) newObj = OBConvertNewObj;
  decltype(&OBConvertApplyTemplate) apply = OBConvertApplyTemplate;
  decltype(&OBConvertFreeObj) freeObj = OBConvertFreeObj;
  decltype(&OBConvertFreeEnv) freeEnv = OBConvertFreeEnv;
};

template <typename F>
void Bind(void* lib, const char* name, F* fn) {
  *fn = reinterpret_cast<F>(dlsym(lib, name));
  EXPECT_NE(nullptr, *fn) << name;
}

ConvertApi LoadedApi(void* lib) {
  ConvertApi api;
  Bind(lib, "OBConvertNewEnv", &api.newEnv);
  Bind(lib, "OBConvertNewObj", &api.newObj);
  Bind(lib, "OBConvertApplyTemplate", &api.apply);
  Bind(lib, "OBConvertFreeObj", &api.freeObj);
  Bind(lib, "OBConvertFreeEnv", &api.freeEnv);
  return api;
}

std::string Convert(const ConvertApi& api) {
  OBConvertEnv env = nullptr;
  OBConvertObj obj = nullptr;
  std::string page;
  EXPECT_EQ(0u, api.newEnv(kTemplate, sizeof kTemplate - 1, nullptr, 0, &env));
  EXPECT_EQ(
      0u, api.newObj(0, kStoryXml, sizeof kStoryXml - 1, 0, kStoryRdf, sizeof kStoryRdf - 1, &obj));
  EXPECT_EQ(0u, api.apply(env, obj, Append, reinterpret_cast<uintptr_t>(&page), 0));
  EXPECT_EQ(0u, api.freeObj(obj));
  EXPECT_EQ(0u, api.freeEnv(env));
  return page;
}

TEST(LateLoadTest, ALibraryLoadedAfterAThreadStartedConvertsOnBothAsTheLinkedOneDoes) {
  const std::string expected = Convert(ConvertApi());
  ASSERT_NE(std::string::npos, expected.find("<h1>")) << expected;

  std::mutex mutex;
  std::condition_variable loaded;
  const ConvertApi* api = nullptr;
  std::string onEarlierThread;
  std::thread earlier([&] {
    std::unique_lock<std::mutex> lock(mutex);
    loaded.wait(lock, [&] { return api != nullptr; });
    onEarlierThread = Convert(*api);
  });

  void* lib = dlopen(OWC_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, lib) << dlerror();
  const ConvertApi late = LoadedApi(lib);
  ASSERT_NE(reinterpret_cast<void*>(late.apply), reinterpret_cast<void*>(&OBConvertApplyTemplate));
  {
    std::lock_guard<std::mutex> lock(mutex);
    api = &late;
  }
  loaded.notify_one();
  earlier.join();
  EXPECT_EQ(expected, onEarlierThread);
  EXPECT_EQ(expected, Convert(late));
  EXPECT_EQ(0, dlclose(lib));
}

}  // namespace
}  // namespace owc_test
