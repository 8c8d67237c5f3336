// file_descriptor_test.cc -- file_descriptor's lookups, state table and
// failure paths, driven through a fake JNIEnv.  Linked from libzelkor.a, as
// native programs link the module.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "fake_jni_env.h"
#include "io/nativeio/file_descriptor.h"
#include "io/nativeio/file_descriptor_internal.h"

namespace {

using zelkor::testing::FakeJniEnv;
using zelkor::testing::Outcome;
using Calls = std::vector<std::string>;

constexpr char kFd[] = "java/io/FileDescriptor";
constexpr char kField[] = "java/io/FileDescriptor.fd:I";
constexpr char kConstructor[] = "java/io/FileDescriptor.<init>:()V";
constexpr char kOom[] = "java/lang/OutOfMemoryError";
constexpr Outcome kThrows = Outcome::kNullWithException;
constexpr Outcome kSilent = Outcome::kNullWithoutException;

const Calls kInitCalls = {
    std::string("FindClass ") + kFd,
    "ExceptionCheck",
    std::string("NewGlobalRef ") + kFd,
    std::string("GetFieldID ") + kField,
    "ExceptionCheck",
    std::string("GetMethodID ") + kConstructor,
    "ExceptionCheck",
};

enum class State { kUninitialised, kInitialised, kNoField, kNoConstructor, kOther };

const char *name(State s) {
  switch (s) {
    case State::kUninitialised: return "uninitialised";
    case State::kInitialised: return "initialised";
    case State::kNoField: return "partly initialised, no field";
    case State::kNoConstructor: return "partly initialised, no constructor";
    case State::kOther: break;
  }
  return "no row of the table";
}

State state_of(const FakeJniEnv &env) {
  auto s = zelkor::fd_current_state();
  bool class_ok = env.is_global(s.fd_class) && env.describe(s.fd_class) == kFd;
  bool field_ok = env.describe(s.fd_descriptor) == kField;
  bool constructor_ok = env.describe(s.fd_constructor) == kConstructor;
  if (!s.fd_class && !s.fd_descriptor && !s.fd_constructor) return State::kUninitialised;
  if (class_ok && field_ok && constructor_ok) return State::kInitialised;
  if (class_ok && !s.fd_descriptor && !s.fd_constructor) return State::kNoField;
  if (class_ok && field_ok && !s.fd_constructor) return State::kNoConstructor;
  return State::kOther;
}

class FileDescriptorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(name(state_of(env)), name(State::kUninitialised)); }
  void TearDown() override {
    env.clear_pending();
    fd_deinit(&env);
    EXPECT_EQ(env.live_global_refs(), 0);
  }

  FakeJniEnv env;
};

TEST_F(FileDescriptorTest, InitResolvesOnceAndDeinitReleases) {
  fd_init(&env);
  EXPECT_EQ(env.calls(), kInitCalls);
  EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
  EXPECT_EQ(env.live_global_refs(), 1);
  EXPECT_FALSE(env.pending());

  env.clear_calls();
  fd_init(&env);
  EXPECT_EQ(env.calls(), Calls{}) << "a second init makes no JNI call";

  fd_deinit(&env);
  EXPECT_EQ(env.calls(), Calls{std::string("DeleteGlobalRef ") + kFd});
  EXPECT_EQ(name(state_of(env)), name(State::kUninitialised));

  env.clear_calls();
  fd_deinit(&env);
  EXPECT_EQ(env.calls(), Calls{}) << "a second deinit deletes nothing";

  fd_init(&env);
  EXPECT_EQ(env.calls(), kInitCalls) << "init after deinit resolves everything afresh";
  EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
}

TEST_F(FileDescriptorTest, CreateAndGetGoThroughTheField) {
  fd_init(&env);
  for (int fd : {0, -1, 7, INT_MAX, INT_MIN}) {
    env.clear_calls();
    jobject obj = fd_create(&env, fd);
    EXPECT_EQ(env.calls(), (Calls{std::string("NewObject ") + kConstructor, "ExceptionCheck",
                                  std::string("SetIntField ") + kFd + " object " + kField +
                                      " = " + std::to_string(fd)}));
    EXPECT_EQ(env.int_field(obj, "fd"), fd);
    env.clear_calls();
    EXPECT_EQ(fd_get(&env, obj), fd);
    EXPECT_EQ(env.calls(), Calls{std::string("GetIntField ") + kFd + " object " + kField});
  }
  EXPECT_FALSE(env.pending());
}

TEST_F(FileDescriptorTest, GetOfNullThrowsNullPointerException) {
  fd_init(&env);
  env.clear_calls();
  int locals = env.live_local_refs();
  EXPECT_EQ(fd_get(&env, nullptr), -1);
  EXPECT_EQ(env.calls(), (Calls{"FindClass java/lang/NullPointerException",
                                "ThrowNew java/lang/NullPointerException "
                                "\"FileDescriptor object is null\"",
                                "DeleteLocalRef java/lang/NullPointerException"}));
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/NullPointerException");
  EXPECT_EQ(env.pending()->message, "FileDescriptor object is null");
  EXPECT_EQ(env.live_local_refs(), locals);
}

TEST_F(FileDescriptorTest, GetOfNullWithoutTheExceptionClassKeepsFindClassesException) {
  fd_init(&env);
  env.clear_calls();
  env.fail("FindClass", 1, kThrows);
  EXPECT_EQ(fd_get(&env, nullptr), -1);
  EXPECT_EQ(env.calls(), Calls{"FindClass java/lang/NullPointerException"});
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/NoClassDefFoundError");
}

TEST_F(FileDescriptorTest, CreateFailingSetsNoField) {
  fd_init(&env);
  // The host's exception (out of memory, or the constructor threw) passes
  // through; a null without one would otherwise reach SetIntField.
  for (Outcome outcome : {kThrows, kSilent}) {
    env.clear_calls();
    env.fail("NewObject", 1, outcome);
    EXPECT_EQ(fd_create(&env, 3), nullptr);
    EXPECT_EQ(env.count("SetIntField"), 0);
    ASSERT_TRUE(env.pending());
    EXPECT_EQ(env.pending()->class_name, kOom);
    env.clear_pending();
  }
  EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
}

struct InitFailure {
  const char *label;
  const char *function;
  Outcome outcome;
  State state;
  std::optional<std::string> exception;
  int globals;
};

// GoogleTest would print the raw bytes of the record, padding included.
void PrintTo(const InitFailure &f, std::ostream *os) { *os << f.label; }

class FileDescriptorInitFailureTest : public FileDescriptorTest,
                                      public ::testing::WithParamInterface<InitFailure> {};

// A failure that the host reports leaves the state of the table.  A null
// without an exception, and any null from NewGlobalRef, would leave a null
// or half-made cache behind: the module rolls back to uninitialised and
// leaves an OutOfMemoryError pending instead (its own unless one is).
const InitFailure kInitFailures[] = {
    {"ClassNotFound", "FindClass", kThrows, State::kUninitialised,
     "java/lang/NoClassDefFoundError", 0},
    {"ClassNullSilently", "FindClass", kSilent, State::kUninitialised, kOom, 0},
    {"GlobalRefNull", "NewGlobalRef", kSilent, State::kUninitialised, kOom, 0},
    {"GlobalRefThrows", "NewGlobalRef", kThrows, State::kUninitialised, kOom, 0},
    {"FieldNotFound", "GetFieldID", kThrows, State::kNoField, "java/lang/NoSuchFieldError", 1},
    {"FieldNullSilently", "GetFieldID", kSilent, State::kUninitialised, kOom, 0},
    {"ConstructorNotFound", "GetMethodID", kThrows, State::kNoConstructor,
     "java/lang/NoSuchMethodError", 1},
    {"ConstructorNullSilently", "GetMethodID", kSilent, State::kUninitialised, kOom, 0},
};

TEST_P(FileDescriptorInitFailureTest, LeavesTheTableStateAndAnException) {
  const InitFailure &f = GetParam();
  env.fail(f.function, 1, f.outcome);
  fd_init(&env);

  EXPECT_EQ(name(state_of(env)), name(f.state));
  ASSERT_TRUE(env.pending()) << "a failed init must leave an exception pending";
  EXPECT_EQ(env.pending()->class_name, f.exception);
  EXPECT_EQ(env.live_global_refs(), f.globals);
  EXPECT_EQ(env.count("ThrowNew"), f.outcome == kSilent ? 1 : 0);

  env.clear_pending();
  env.clear_calls();
  fd_init(&env);
  if (f.state == State::kUninitialised) {
    EXPECT_EQ(env.calls(), kInitCalls);
    EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
  } else {
    EXPECT_EQ(env.calls(), Calls{});
    EXPECT_EQ(name(state_of(env)), name(f.state));
    fd_deinit(&env);
    EXPECT_EQ(name(state_of(env)), name(State::kUninitialised));
    EXPECT_EQ(env.live_global_refs(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryStep, FileDescriptorInitFailureTest,
                         ::testing::ValuesIn(kInitFailures),
                         [](const auto &info) { return std::string(info.param.label); });

}  // namespace
