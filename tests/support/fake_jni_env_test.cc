// fake_jni_env_test.cc -- the checks that other tests rely on the fake
// JNIEnv to make: they must catch what a JVM would object to.
#include "fake_jni_env.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using zelkor::testing::FakeJniEnv;
using zelkor::testing::Outcome;

TEST(FakeJniEnvTest, ForbiddenCallWithAnExceptionPendingFails) {
  FakeJniEnv env;
  env.raise("java/lang/OutOfMemoryError", std::nullopt);
  EXPECT_NONFATAL_FAILURE(env.NewStringUTF("x"), "NewStringUTF called with");
  EXPECT_NONFATAL_FAILURE(env.FindClass("java/lang/String"), "FindClass called with");
}

TEST(FakeJniEnvTest, CleanupCallsWithAnExceptionPendingPass) {
  FakeJniEnv env;
  jstring s = env.NewStringUTF("x");
  const char *chars = env.GetStringUTFChars(s, nullptr);
  jobject global = env.NewGlobalRef(s);
  env.raise("java/lang/OutOfMemoryError", std::nullopt);
  env.ReleaseStringUTFChars(s, chars);
  env.DeleteLocalRef(s);
  env.DeleteGlobalRef(global);
  EXPECT_TRUE(env.ExceptionCheck());
  env.ExceptionClear();
  EXPECT_FALSE(env.ExceptionCheck());
  EXPECT_EQ(env.utf_chars_held(), 0);
  EXPECT_EQ(env.live_local_refs(), 0);
  EXPECT_EQ(env.live_global_refs(), 0);
}

TEST(FakeJniEnvTest, StaleAndWrongKindReferencesFail) {
  FakeJniEnv env;
  jstring s = env.NewStringUTF("x");
  env.DeleteLocalRef(s);
  EXPECT_NONFATAL_FAILURE(env.DeleteLocalRef(s), "no live local reference");
  jobject global = env.NewGlobalRef(env.NewStringUTF("y"));
  EXPECT_NONFATAL_FAILURE(env.DeleteLocalRef(global), "no live local reference");
  EXPECT_NONFATAL_FAILURE(env.GetStringUTFChars(s, nullptr), "deleted reference");
  env.DeleteGlobalRef(global);
}

TEST(FakeJniEnvTest, ScriptedFailureHitsTheNthCallOnly) {
  FakeJniEnv env;
  env.NewStringUTF("before");
  env.fail("NewStringUTF", 2, Outcome::kNullWithoutException);
  env.fail("FindClass", 1, Outcome::kNullWithException);
  EXPECT_NE(env.NewStringUTF("a"), nullptr);
  EXPECT_EQ(env.NewStringUTF("b"), nullptr);
  EXPECT_FALSE(env.pending());
  EXPECT_NE(env.NewStringUTF("c"), nullptr);
  EXPECT_EQ(env.FindClass("a/B"), nullptr);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/NoClassDefFoundError");
  EXPECT_EQ(env.pending()->message, "a.B");
}

TEST(FakeJniEnvTest, StringArraysAndTheirElements) {
  FakeJniEnv env;
  jclass string_class = env.FindClass("java/lang/String");
  jobjectArray array = env.NewObjectArray(3, string_class, nullptr);
  jstring user = env.NewStringUTF("alice");
  env.SetObjectArrayElement(array, 1, user);
  env.DeleteLocalRef(user);
  EXPECT_EQ(env.string_array(array),
            (std::vector<std::optional<std::string>>{std::nullopt, "alice", std::nullopt}));
  env.SetObjectArrayElement(array, 3, nullptr);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/ArrayIndexOutOfBoundsException");
  EXPECT_EQ(env.calls().back(), "SetObjectArrayElement [Ljava/lang/String; array 3 null");
}

TEST(FakeJniEnvTest, VariadicCallsReachTheFakeInBothForms) {
  FakeJniEnv env;
  jclass fd = env.FindClass("java/io/FileDescriptor");
  jmethodID constructor = env.GetMethodID(fd, "<init>", "()V");
  jobject via_wrapper = env.NewObject(fd, constructor);                   // NewObjectV slot
  jobject via_table = env.functions->NewObject(&env, fd, constructor);    // variadic slot
  EXPECT_EQ(env.int_field(via_wrapper, "fd"), -1);
  EXPECT_EQ(env.int_field(via_table, "fd"), -1);
  EXPECT_EQ(env.count("NewObject"), 2);
}

}  // namespace

TEST(FakeJniEnvTest, CriticalHoldsCopyAndForbidOtherCalls) {
  FakeJniEnv env;
  jbyteArray a = env.new_byte_array({1, 2, 3}, "a");
  auto *p = static_cast<uint8_t *>(env.GetPrimitiveArrayCritical(a, nullptr));
  // A nested hold is allowed; anything else is not.
  auto *q = static_cast<uint8_t *>(env.GetPrimitiveArrayCritical(a, nullptr));
  EXPECT_NONFATAL_FAILURE(env.ExceptionCheck(), "ExceptionCheck called while GetPrimitiveArrayCritical holds 2");
  p[0] = 9;
  q[1] = 8;
  env.ReleasePrimitiveArrayCritical(a, q, JNI_ABORT);  // dropped
  env.ReleasePrimitiveArrayCritical(a, p, 0);          // copied back
  EXPECT_EQ(env.byte_array(a), (std::vector<uint8_t>{9, 2, 3}));
  EXPECT_TRUE(env.critical_holds().empty());
  EXPECT_NONFATAL_FAILURE(env.ReleasePrimitiveArrayCritical(a, p, 0), "did not give");
}

// A pinning host's nested holds: one address, the copy kept until the last
// release, what the inner release copied back still there after the outer
// one drops its own.
TEST(FakeJniEnvTest, PinnedNestedHoldsShareOneAddress) {
  FakeJniEnv env;
  env.pin_nested_holds(true);
  jbyteArray a = env.new_byte_array({1, 2, 3}, "a");
  jbyteArray b = env.new_byte_array({4}, "b");
  auto *p = static_cast<uint8_t *>(env.GetPrimitiveArrayCritical(a, nullptr));
  auto *other = static_cast<uint8_t *>(env.GetPrimitiveArrayCritical(b, nullptr));
  auto *q = static_cast<uint8_t *>(env.GetPrimitiveArrayCritical(a, nullptr));
  EXPECT_EQ(p, q);
  EXPECT_NE(p, other);
  q[0] = 9;
  env.ReleasePrimitiveArrayCritical(a, q, 0);
  EXPECT_EQ(p[0], 9) << "the outer hold lost its copy";
  env.ReleasePrimitiveArrayCritical(a, p, JNI_ABORT);
  env.ReleasePrimitiveArrayCritical(b, other, JNI_ABORT);
  EXPECT_TRUE(env.critical_holds().empty());
  EXPECT_EQ(env.byte_array(a), (std::vector<uint8_t>{9, 2, 3}));
}

TEST(FakeJniEnvTest, ByteArrayRegionsCopyWithinTheArrayOnly) {
  FakeJniEnv env;
  jbyteArray a = env.new_byte_array({1, 2, 3, 4}, "a");
  jbyte buf[4] = {7, 7, 7, 7};
  env.GetByteArrayRegion(a, 1, 2, buf);
  EXPECT_EQ(buf[0], 2);
  EXPECT_EQ(buf[1], 3);
  EXPECT_EQ(buf[2], 7);
  env.GetByteArrayRegion(a, 4, 0, buf);
  EXPECT_FALSE(env.pending());
  for (auto [start, len] : {std::pair{3, 2}, std::pair{-1, 1}, std::pair{0, -1}}) {
    env.GetByteArrayRegion(a, start, len, buf);
    ASSERT_TRUE(env.pending());
    EXPECT_EQ(env.pending()->class_name, "java/lang/ArrayIndexOutOfBoundsException");
    env.clear_pending();
  }
  EXPECT_EQ(buf[0], 2) << "copied from a range outside the array";
  EXPECT_EQ(env.calls().front(), "GetByteArrayRegion byte[] a 1 2");

  const jbyte in[2] = {5, 6};
  env.SetByteArrayRegion(a, 2, 2, in);
  EXPECT_EQ(env.byte_array(a), (std::vector<uint8_t>{1, 2, 5, 6}));
  env.SetByteArrayRegion(a, 3, 2, in);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/ArrayIndexOutOfBoundsException");
  EXPECT_EQ(env.byte_array(a), (std::vector<uint8_t>{1, 2, 5, 6})) << "written outside the array";
  EXPECT_EQ(env.calls().back(), "SetByteArrayRegion byte[] a 3 2");
}
