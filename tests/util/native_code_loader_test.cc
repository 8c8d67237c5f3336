// native_code_loader_test.cc -- the loader queries against a fake JNIEnv,
// with dladdr wrapped at link time (-Wl,--wrap=dladdr) so that the dynamic
// loader can be made to know nothing of the address.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jni.h>

#include <string>
#include <vector>

#include "fake_jni_env.h"

extern "C" {
JNIEXPORT jstring JNICALL Java_org_tarvik_zelkor_util_NativeCodeLoader_getLibraryName(JNIEnv *,
                                                                                      jclass);
JNIEXPORT jboolean JNICALL Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsSnappy(
    JNIEnv *, jclass);
JNIEXPORT jboolean JNICALL Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsZstd(
    JNIEnv *, jclass);
JNIEXPORT jboolean JNICALL Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsOpenssl(
    JNIEnv *, jclass);

int __real_dladdr(const void *addr, Dl_info *info);

namespace {
bool dladdr_knows_nothing = false;
const void *dladdr_asked = nullptr;
}  // namespace

int __wrap_dladdr(const void *addr, Dl_info *info) {
  dladdr_asked = addr;
  if (dladdr_knows_nothing) return 0;
  return __real_dladdr(addr, info);
}
}

namespace {

using zelkor::testing::FakeJniEnv;
using zelkor::testing::Outcome;
using Calls = std::vector<std::string>;

TEST(NativeCodeLoaderTest, LibraryNameIsWhatTheLoaderRecorded) {
  FakeJniEnv env;
  dladdr_knows_nothing = false;
  jstring name = Java_org_tarvik_zelkor_util_NativeCodeLoader_getLibraryName(&env, nullptr);
  EXPECT_EQ(dladdr_asked,
            reinterpret_cast<const void *>(
                &Java_org_tarvik_zelkor_util_NativeCodeLoader_getLibraryName));
  Dl_info info;
  ASSERT_NE(__real_dladdr(dladdr_asked, &info), 0);
  std::string quoted = std::string(1, '"').append(info.dli_fname).append(1, '"');
  EXPECT_EQ(env.calls(), Calls{"NewStringUTF " + quoted});
  EXPECT_EQ(env.describe(name), quoted);
}

TEST(NativeCodeLoaderTest, LibraryNameWithoutALoaderRecordIsUnavailable) {
  FakeJniEnv env;
  dladdr_knows_nothing = true;
  jstring name = Java_org_tarvik_zelkor_util_NativeCodeLoader_getLibraryName(&env, nullptr);
  dladdr_knows_nothing = false;
  EXPECT_EQ(env.describe(name), "\"Unavailable\"");
  EXPECT_FALSE(env.pending());
}

TEST(NativeCodeLoaderTest, LibraryNamePassesNewStringUtfFailureOn) {
  FakeJniEnv env;
  env.fail("NewStringUTF", 1, Outcome::kNullWithException);
  EXPECT_EQ(Java_org_tarvik_zelkor_util_NativeCodeLoader_getLibraryName(&env, nullptr), nullptr);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/OutOfMemoryError");
  EXPECT_EQ(env.count("NewStringUTF"), 1);
  EXPECT_EQ(env.calls().size(), 1u);
}

TEST(NativeCodeLoaderTest, CapabilitiesAreTrueAndTouchNothing) {
  FakeJniEnv env;
  // Any JNI call would show in the log (or abort in an unfaked slot).
  EXPECT_EQ(Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsSnappy(&env, nullptr),
            JNI_TRUE);
  EXPECT_EQ(Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsZstd(&env, nullptr),
            JNI_TRUE);
  EXPECT_EQ(Java_org_tarvik_zelkor_util_NativeCodeLoader_buildSupportsOpenssl(&env, nullptr),
            JNI_TRUE);
  EXPECT_EQ(env.calls(), Calls{});
}

}  // namespace
