// errno_enum_test.cc -- errno_enum's lookups, state table and failure paths,
// driven through a fake JNIEnv (a real JVM never fails these calls on demand).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fake_jni_env.h"
#include "io/nativeio/errno_enum.h"
#include "io/nativeio/errno_enum_internal.h"

namespace {

using zelkor::testing::FakeJniEnv;
using zelkor::testing::Outcome;
using Calls = std::vector<std::string>;

constexpr char kErrno[] = "org/tarvik/zelkor/io/nativeio/Errno";
constexpr char kValueOf[] =
    "java/lang/Enum.valueOf:(Ljava/lang/Class;Ljava/lang/String;)Ljava/lang/Enum;";

const Calls kInitCalls = {
    "FindClass java/lang/Enum",
    "ExceptionCheck",
    "NewGlobalRef java/lang/Enum",
    std::string("GetStaticMethodID ") + kValueOf,
    "ExceptionCheck",
    std::string("FindClass ") + kErrno,
    "ExceptionCheck",
    std::string("NewGlobalRef ") + kErrno,
};

// The rows of the module's state table.
enum class State { kUninitialised, kInitialised, kNoMethod, kNoEnumClass, kOther };

const char *name(State s) {
  switch (s) {
    case State::kUninitialised: return "uninitialised";
    case State::kInitialised: return "initialised";
    case State::kNoMethod: return "partly initialised, no method";
    case State::kNoEnumClass: return "partly initialised, no enum class";
    case State::kOther: break;
  }
  return "no row of the table";
}

// Classifies the module's variables, checking that every class held is a
// live global reference to the right class.
State state_of(const FakeJniEnv &env) {
  auto s = zelkor::errno_enum_current_state();
  bool enum_ok = env.is_global(s.enum_class) && env.describe(s.enum_class) == "java/lang/Enum";
  bool method_ok = env.describe(s.enum_valueOf) == kValueOf;
  bool errno_ok = env.is_global(s.errno_class) && env.describe(s.errno_class) == kErrno;
  if (!s.enum_class && !s.enum_valueOf && !s.errno_class) return State::kUninitialised;
  if (enum_ok && method_ok && errno_ok) return State::kInitialised;
  if (enum_ok && !s.enum_valueOf && !s.errno_class) return State::kNoMethod;
  if (enum_ok && method_ok && !s.errno_class) return State::kNoEnumClass;
  return State::kOther;
}

class ErrnoEnumTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(name(state_of(env)), name(State::kUninitialised)); }
  void TearDown() override {
    env.clear_pending();
    errno_enum_deinit(&env);
    EXPECT_EQ(env.live_global_refs(), 0);
  }

  FakeJniEnv env;
};

TEST_F(ErrnoEnumTest, InitResolvesOnceAndDeinitReleases) {
  errno_enum_init(&env);
  EXPECT_EQ(env.calls(), kInitCalls);
  EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
  EXPECT_EQ(env.live_global_refs(), 2);
  EXPECT_FALSE(env.pending());

  env.clear_calls();
  errno_enum_init(&env);
  EXPECT_EQ(env.calls(), Calls{}) << "a second init makes no JNI call";

  errno_enum_deinit(&env);
  EXPECT_EQ(env.calls(), (Calls{"DeleteGlobalRef java/lang/Enum",
                                std::string("DeleteGlobalRef ") + kErrno}));
  EXPECT_EQ(name(state_of(env)), name(State::kUninitialised));
  EXPECT_EQ(env.live_global_refs(), 0);

  env.clear_calls();
  errno_enum_deinit(&env);
  EXPECT_EQ(env.calls(), Calls{}) << "a second deinit deletes nothing";

  errno_enum_init(&env);
  EXPECT_EQ(env.calls(), kInitCalls) << "init after deinit resolves everything afresh";
  EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
}

TEST_F(ErrnoEnumTest, MapsThroughEnumValueOf) {
  errno_enum_init(&env);
  env.clear_calls();
  jobject constant = errno_to_enum(&env, 40);
  EXPECT_EQ(env.describe(constant), std::string(kErrno) + ".ELOOP");
  EXPECT_EQ(env.calls(), (Calls{"NewStringUTF \"ELOOP\"", "ExceptionCheck",
                                std::string("CallStaticObjectMethod java/lang/Enum.valueOf(") +
                                    kErrno + ", \"ELOOP\")"}));
  EXPECT_EQ(env.describe(errno_to_enum(&env, 38)), std::string(kErrno) + ".UNKNOWN");
  EXPECT_FALSE(env.pending());
}

// One failing JNI call during errno_enum_init, and what it must leave.
struct InitFailure {
  const char *label;
  const char *function;
  int nth;
  Outcome outcome;
  State state;
  std::optional<std::string> exception;  // pending afterwards
  int globals;                           // live global references afterwards
};

// GoogleTest would print the raw bytes of the record, padding included.
void PrintTo(const InitFailure &f, std::ostream *os) { *os << f.label; }

class ErrnoEnumInitFailureTest : public ErrnoEnumTest,
                                 public ::testing::WithParamInterface<InitFailure> {};

constexpr Outcome kThrows = Outcome::kNullWithException;
constexpr Outcome kSilent = Outcome::kNullWithoutException;
constexpr char kOom[] = "java/lang/OutOfMemoryError";

// A failure that the host reports leaves the state of the table.  A null
// without an exception, and any null from NewGlobalRef, would leave a null
// or half-made cache behind: the module rolls back to uninitialised and
// leaves an OutOfMemoryError pending instead (its own unless one is).
const InitFailure kInitFailures[] = {
    {"EnumNotFound", "FindClass", 1, kThrows, State::kUninitialised,
     "java/lang/NoClassDefFoundError", 0},
    {"EnumNullSilently", "FindClass", 1, kSilent, State::kUninitialised, kOom, 0},
    {"EnumGlobalRefNull", "NewGlobalRef", 1, kSilent, State::kUninitialised, kOom, 0},
    {"EnumGlobalRefThrows", "NewGlobalRef", 1, kThrows, State::kUninitialised, kOom, 0},
    {"ValueOfNotFound", "GetStaticMethodID", 1, kThrows, State::kNoMethod,
     "java/lang/NoSuchMethodError", 1},
    {"ValueOfNullSilently", "GetStaticMethodID", 1, kSilent, State::kUninitialised, kOom, 0},
    {"ErrnoNotFound", "FindClass", 2, kThrows, State::kNoEnumClass,
     "java/lang/NoClassDefFoundError", 1},
    {"ErrnoNullSilently", "FindClass", 2, kSilent, State::kUninitialised, kOom, 0},
    {"ErrnoGlobalRefNull", "NewGlobalRef", 2, kSilent, State::kUninitialised, kOom, 0},
    {"ErrnoGlobalRefThrows", "NewGlobalRef", 2, kThrows, State::kUninitialised, kOom, 0},
};

TEST_P(ErrnoEnumInitFailureTest, LeavesTheTableStateAndAnException) {
  const InitFailure &f = GetParam();
  env.fail(f.function, f.nth, f.outcome);
  int locals = env.live_local_refs();
  errno_enum_init(&env);

  EXPECT_EQ(name(state_of(env)), name(f.state));
  ASSERT_TRUE(env.pending()) << "a failed init must leave an exception pending";
  EXPECT_EQ(env.pending()->class_name, f.exception);
  EXPECT_EQ(env.live_global_refs(), f.globals);
  // The module's own exception comes with a class lookup that it deletes,
  // and only when the host left nothing pending.
  bool raised_here = f.outcome == kSilent;
  EXPECT_EQ(env.count("ThrowNew"), raised_here ? 1 : 0);
  EXPECT_LE(env.live_local_refs() - locals, 2) << "only the FindClass results stay";

  // Retried only from uninitialised; a partial state sticks until deinit.
  env.clear_pending();
  env.clear_calls();
  errno_enum_init(&env);
  if (f.state == State::kUninitialised) {
    EXPECT_EQ(env.calls(), kInitCalls);
    EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
  } else {
    EXPECT_EQ(env.calls(), Calls{});
    EXPECT_EQ(name(state_of(env)), name(f.state));
    errno_enum_deinit(&env);
    EXPECT_EQ(name(state_of(env)), name(State::kUninitialised));
    EXPECT_EQ(env.live_global_refs(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryStep, ErrnoEnumInitFailureTest, ::testing::ValuesIn(kInitFailures),
                         [](const auto &info) { return std::string(info.param.label); });

TEST_F(ErrnoEnumTest, NewStringUtfFailingGivesNull) {
  errno_enum_init(&env);
  for (Outcome outcome : {kThrows, kSilent}) {
    env.clear_calls();
    env.fail("NewStringUTF", 1, outcome);
    EXPECT_EQ(errno_to_enum(&env, 1), nullptr);
    ASSERT_TRUE(env.pending());
    EXPECT_EQ(env.pending()->class_name, kOom);
    EXPECT_EQ(env.count("CallStaticObjectMethod"), 0) << "no Java call without a name";
    env.clear_pending();
  }
  EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
}

TEST_F(ErrnoEnumTest, ValueOfThrowingGivesNullAndKeepsTheCache) {
  env.set_enum_constants(kErrno, {"EPERM", "UNKNOWN"});  // an Errno without ELOOP
  errno_enum_init(&env);
  EXPECT_EQ(errno_to_enum(&env, 40), nullptr);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/IllegalArgumentException");
  EXPECT_EQ(env.pending()->message, "No enum constant org.tarvik.zelkor.io.nativeio.Errno.ELOOP");
  env.clear_pending();
  EXPECT_EQ(name(state_of(env)), name(State::kInitialised));
  EXPECT_EQ(env.describe(errno_to_enum(&env, 1)), std::string(kErrno) + ".EPERM");
}

}  // namespace
