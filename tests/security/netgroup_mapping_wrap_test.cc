// The netgroup listing against a fake JNIEnv, a scripted netgroup
// enumeration and an allocator that fails on demand: the failures that
// neither a real JVM nor the real name service produce when asked.
//
// The module's object is linked with -Wl,--wrap= for setnetgrent,
// getnetgrent, endnetgrent, malloc and free.  Each wrapped call leaves an
// event stamped with the number of JNI calls made so far, so that Trace()
// can show the platform calls and the JNI calls in the order they happened.
#include <jni.h>
#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fake_jni_env.h"

extern "C" {
JNIEXPORT jobjectArray JNICALL
Java_org_tarvik_zelkor_security_JniBasedUnixGroupsNetgroupMapping_getUsersForNetgroupJNI(
    JNIEnv *env, jobject jobj, jstring jgroup);
void *__real_malloc(size_t size);
void __real_free(void *p);
}

namespace {

using zelkor::testing::FakeJniEnv;
using zelkor::testing::Outcome;
using Calls = std::vector<std::string>;

constexpr char kNoSuchNetgroup[] = "no netgroup of this name is known or some other error occurred";

struct Triple {
  const char *host, *user, *domain;  // null for an absent field
};

struct Script {
  int set_result = 1;
  std::vector<Triple> triples;
};

Script g_script;
size_t g_next_triple = 0;
const FakeJniEnv *g_env = nullptr;
std::vector<std::pair<size_t, std::string>> g_events;  // (JNI calls before it, event)

void Event(std::string text) { g_events.emplace_back(g_env->calls().size(), std::move(text)); }

// Like the system library's, the strings getnetgrent hands out live in
// buffers of its own that the next call overwrites, so a listing that kept
// the pointers instead of copying would show it.
char g_host[64], g_user[64], g_domain[64];

char *Deliver(char *buf, const char *text) {
  if (text == nullptr) return nullptr;
  strcpy(buf, text);
  return buf;
}

// ---- allocator with fault injection and a ledger --------------------------

struct Allocs {
  bool armed = false;
  int calls = 0;    // malloc calls while armed
  int fail_at = 0;  // the call (1-based) that returns null; 0: none
  std::map<void *, size_t> live;  // blocks taken while armed and not freed
};
Allocs g_allocs;

// A name copy is a string that fills its block exactly; a list node, which
// starts with a pointer, never looks like one.
std::string Describe(void *p, size_t size) {
  const auto *c = static_cast<const char *>(p);
  if (size > 0 && memchr(c, '\0', size) == c + size - 1) return "\"" + std::string(c) + "\"";
  return "node";
}

}  // namespace

extern "C" {

int __wrap_setnetgrent(const char *netgroup) {
  Event(std::string("setnetgrent ") + netgroup);
  g_next_triple = 0;
  return g_script.set_result;
}

int __wrap_getnetgrent(char **host, char **user, char **domain) {
  if (g_next_triple == g_script.triples.size()) {
    Event("getnetgrent: end");
    return 0;
  }
  const Triple &t = g_script.triples[g_next_triple++];
  Event(std::string("getnetgrent: ") + (t.user ? t.user : "(no user)"));
  *host = Deliver(g_host, t.host);
  *user = Deliver(g_user, t.user);
  *domain = Deliver(g_domain, t.domain);
  return 1;
}

void __wrap_endnetgrent(void) {
  Event("endnetgrent");
  strcpy(g_user, "stale");
}

void *__wrap_malloc(size_t size) {
  if (!g_allocs.armed) return __real_malloc(size);
  if (++g_allocs.calls == g_allocs.fail_at) return nullptr;
  void *p = __real_malloc(size);
  if (p != nullptr) g_allocs.live[p] = size;
  return p;
}

void __wrap_free(void *p) {
  if (g_allocs.armed) {
    auto it = g_allocs.live.find(p);
    if (it != g_allocs.live.end()) {  // the fake JNIEnv frees its own buffers too
      Event("free " + Describe(p, it->second));
      g_allocs.live.erase(it);
    }
  }
  __real_free(p);
}

}  // extern "C"

namespace {

const Script kAliceBobNoUser = {1, {{"h1", "alice", "d"}, {"h2", "bob", "d"}, {"h3", nullptr, "d"}}};

class NetgroupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_env = &env;
    g_events.clear();
    g_allocs = Allocs{};
    g_script = kAliceBobNoUser;
  }
  void TearDown() override { g_env = nullptr; }

  // Lists `name` (null for a null jstring), with the n-th allocation of the
  // call failing if fail_alloc_at is set.
  jobjectArray List(const char *name = "staff", int fail_alloc_at = 0) {
    jstring jname = name ? env.new_string(name) : nullptr;
    env.clear_calls();
    g_events.clear();
    g_allocs = Allocs{};
    g_allocs.fail_at = fail_alloc_at;
    g_allocs.armed = true;
    jobjectArray result =
        Java_org_tarvik_zelkor_security_JniBasedUnixGroupsNetgroupMapping_getUsersForNetgroupJNI(
            &env, nullptr, jname);
    g_allocs.armed = false;
    return result;
  }

  // JNI calls and platform events, in the order they happened.
  Calls Trace() const {
    Calls out;
    const Calls &calls = env.calls();
    size_t e = 0;
    for (size_t i = 0; i <= calls.size(); ++i) {
      while (e < g_events.size() && g_events[e].first == i) out.push_back(g_events[e++].second);
      if (i < calls.size()) out.push_back(calls[i]);
    }
    return out;
  }

  // Everything after the first entry equal to `from`.
  Calls TraceAfter(const std::string &from) const {
    Calls t = Trace();
    auto it = std::find(t.begin(), t.end(), from);
    EXPECT_NE(it, t.end()) << from << " not in the trace";
    return it == t.end() ? Calls{} : Calls(it + 1, t.end());
  }

  int Count(const std::string &event) const {
    int n = 0;
    for (const auto &[stamp, text] : g_events) n += text == event;
    return n;
  }

  void ExpectNothingHeld() const {
    EXPECT_EQ(env.utf_chars_held(), 0);
    EXPECT_TRUE(g_allocs.live.empty()) << g_allocs.live.size() << " blocks not freed";
  }

  FakeJniEnv env;
};

TEST_F(NetgroupTest, ListsUsersNewestFirstAndEndsInOrder) {
  jobjectArray users = List();
  ASSERT_NE(users, nullptr);
  EXPECT_EQ(env.string_array(users), (std::vector<std::optional<std::string>>{"bob", "alice"}));
  EXPECT_FALSE(env.pending());
  const Calls want = {
      "GetStringUTFChars \"staff\"",
      "setnetgrent staff",
      "getnetgrent: alice",
      "getnetgrent: bob",
      "getnetgrent: (no user)",
      "getnetgrent: end",
      "FindClass java/lang/String",
      "NewObjectArray 2 java/lang/String null",
      "NewStringUTF \"bob\"",
      "SetObjectArrayElement [Ljava/lang/String; array 0 \"bob\"",
      "DeleteLocalRef \"bob\"",
      "ExceptionCheck",
      "NewStringUTF \"alice\"",
      "SetObjectArrayElement [Ljava/lang/String; array 1 \"alice\"",
      "DeleteLocalRef \"alice\"",
      "ExceptionCheck",
      "ReleaseStringUTFChars \"staff\"",
      "endnetgrent",
      "free \"bob\"",
      "free node",
      "free \"alice\"",
      "free node",
  };
  EXPECT_EQ(Trace(), want);
  ExpectNothingHeld();
  // The name, the String class and the array: no element string is left.
  EXPECT_EQ(env.live_local_refs(), 3);
}

TEST_F(NetgroupTest, NetgroupWithoutUsersGivesEmptyArray) {
  g_script = {1, {{"h1", nullptr, "d"}, {nullptr, nullptr, nullptr}}};
  jobjectArray users = List();
  ASSERT_NE(users, nullptr);
  EXPECT_TRUE(env.string_array(users).empty());
  EXPECT_FALSE(env.pending());
  EXPECT_EQ(env.count("NewStringUTF"), 0);
  ExpectNothingHeld();
}

// A name the host cannot convert: no netgroup call and nothing released.
// Should the host give null without an exception, as JNI allows, the
// caller gets an OutOfMemoryError rather than a silent null.
TEST_F(NetgroupTest, NameConversionFailingTouchesNoNetgroup) {
  for (Outcome outcome : {Outcome::kNullWithException, Outcome::kNullWithoutException}) {
    const bool host_threw = outcome == Outcome::kNullWithException;
    SCOPED_TRACE(host_threw ? "with the host's exception" : "without an exception");
    env.clear_pending();
    env.fail("GetStringUTFChars", 1, outcome);
    EXPECT_EQ(List(), nullptr);
    Calls want = {"GetStringUTFChars \"staff\"", "ExceptionCheck"};
    if (!host_threw) {
      want.insert(want.end(), {"FindClass java/lang/OutOfMemoryError",
                               "ThrowNew java/lang/OutOfMemoryError null",
                               "DeleteLocalRef java/lang/OutOfMemoryError"});
    }
    EXPECT_EQ(Trace(), want);
    ASSERT_TRUE(env.pending());
    EXPECT_EQ(env.pending()->class_name, "java/lang/OutOfMemoryError");
    EXPECT_EQ(g_allocs.calls, 0);
  }
}

TEST_F(NetgroupTest, NullNameThrowsNullPointerExceptionAndTouchesNoNetgroup) {
  EXPECT_EQ(List(nullptr), nullptr);
  EXPECT_EQ(Trace(), (Calls{"FindClass java/lang/NullPointerException",
                            "ThrowNew java/lang/NullPointerException \"netgroup name is null\"",
                            "DeleteLocalRef java/lang/NullPointerException"}));
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/NullPointerException");
  EXPECT_EQ(env.live_local_refs(), 0);
}

// setnetgrent succeeds only with 1.  The exit releases the name, ends the
// enumeration it never began, and only then throws.
TEST_F(NetgroupTest, SetnetgrentOtherThanOneThrowsIOExceptionAfterEndnetgrent) {
  for (int result : {0, -1, 2}) {
    SCOPED_TRACE("setnetgrent gives " + std::to_string(result));
    env.clear_pending();
    g_script.set_result = result;
    EXPECT_EQ(List("nosuch"), nullptr);
    const Calls want = {
        "GetStringUTFChars \"nosuch\"",
        "setnetgrent nosuch",
        "ReleaseStringUTFChars \"nosuch\"",
        "endnetgrent",
        "FindClass java/io/IOException",
        std::string("ThrowNew java/io/IOException \"") + kNoSuchNetgroup + "\"",
        "DeleteLocalRef java/io/IOException",
    };
    EXPECT_EQ(Trace(), want);
    ASSERT_TRUE(env.pending());
    EXPECT_EQ(env.pending()->class_name, "java/io/IOException");
    EXPECT_EQ(env.pending()->message, kNoSuchNetgroup);
    ExpectNothingHeld();
  }
}

// The host fails to make the String class, the array or an element string,
// with its own exception pending or (as JNI allows) without.  Either way the
// caller sees an OutOfMemoryError without a message, made only once nothing
// is pending (the fake fails the test on any call JNI forbids then).
struct HostFailure {
  const char *what;
  const char *function;
  int nth;
  Outcome outcome;
  const char *failing_call;  // as the trace shows it
  int local_refs;            // live after the call: the name, plus what was made
};

void PrintTo(const HostFailure &f, std::ostream *os) { *os << f.what; }

class NetgroupHostFailure : public NetgroupTest, public ::testing::WithParamInterface<HostFailure> {};

TEST_P(NetgroupHostFailure, OutOfMemoryErrorAfterTheCommonExit) {
  const HostFailure &f = GetParam();
  env.fail(f.function, f.nth, f.outcome);
  EXPECT_EQ(List(), nullptr);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/OutOfMemoryError");
  EXPECT_EQ(env.pending()->message, std::nullopt);

  const Calls want = {
      "ExceptionClear",
      "ReleaseStringUTFChars \"staff\"",
      "endnetgrent",
      "free \"bob\"",
      "free node",
      "free \"alice\"",
      "free node",
      "FindClass java/lang/OutOfMemoryError",
      "ThrowNew java/lang/OutOfMemoryError null",
      "DeleteLocalRef java/lang/OutOfMemoryError",
  };
  EXPECT_EQ(TraceAfter(f.failing_call), want);
  EXPECT_EQ(Count("endnetgrent"), 1);
  ExpectNothingHeld();
  EXPECT_EQ(env.live_local_refs(), f.local_refs);
}

constexpr auto kThrown = Outcome::kNullWithException;
constexpr auto kSilent = Outcome::kNullWithoutException;

INSTANTIATE_TEST_SUITE_P(
    Calls, NetgroupHostFailure,
    ::testing::Values(
        HostFailure{"StringClass", "FindClass", 1, kThrown, "FindClass java/lang/String", 1},
        HostFailure{"StringClassSilently", "FindClass", 1, kSilent, "FindClass java/lang/String",
                    1},
        HostFailure{"Array", "NewObjectArray", 1, kThrown,
                    "NewObjectArray 2 java/lang/String null", 2},
        HostFailure{"ArraySilently", "NewObjectArray", 1, kSilent,
                    "NewObjectArray 2 java/lang/String null", 2},
        HostFailure{"FirstString", "NewStringUTF", 1, kThrown, "NewStringUTF \"bob\"", 3},
        HostFailure{"FirstStringSilently", "NewStringUTF", 1, kSilent, "NewStringUTF \"bob\"", 3},
        HostFailure{"SecondString", "NewStringUTF", 2, kThrown, "NewStringUTF \"alice\"", 3},
        HostFailure{"SecondStringSilently", "NewStringUTF", 2, kSilent, "NewStringUTF \"alice\"",
                    3}),
    [](const auto &info) { return std::string(info.param.what); });

// If the exception's class cannot be found, FindClass's own exception (or
// none) is all the caller gets: no ThrowNew with a null class.
TEST_F(NetgroupTest, ExceptionClassLookupFailingThrowsNothingMore) {
  struct Case {
    const char *what;
    int set_result;
    int find_class_nth;  // the exception class's lookup among the call's FindClass calls
    const char *exception_class;
  };
  for (const Case &c : {Case{"IOException", 0, 1, "java/io/IOException"},
                        Case{"OutOfMemoryError", 1, 2, "java/lang/OutOfMemoryError"}}) {
    for (Outcome outcome : {kThrown, kSilent}) {
      SCOPED_TRACE(std::string(c.what) + (outcome == kThrown ? ", lookup throws" : ", silent"));
      env.clear_pending();
      g_script.set_result = c.set_result;
      if (c.set_result == 1) env.fail("NewObjectArray", 1, kThrown);
      env.fail("FindClass", c.find_class_nth, outcome);
      EXPECT_EQ(List(), nullptr);
      const Calls want = {"endnetgrent", std::string("FindClass ") + c.exception_class};
      Calls tail = TraceAfter(std::string("ReleaseStringUTFChars \"staff\""));
      tail.erase(std::remove_if(tail.begin(), tail.end(),
                                [](const std::string &s) { return s.starts_with("free "); }),
                 tail.end());
      EXPECT_EQ(tail, want);
      if (outcome == kThrown) {
        ASSERT_TRUE(env.pending());
        EXPECT_EQ(env.pending()->class_name, "java/lang/NoClassDefFoundError");
      } else {
        EXPECT_FALSE(env.pending());
      }
      ExpectNothingHeld();
    }
  }
}

// A list node or a name copy cannot be allocated: the enumeration stops
// there, and the listing leaves as after any other memory shortage.
TEST_F(NetgroupTest, ListAllocationFailingGivesOutOfMemoryError) {
  g_script = {1, {{"h1", "alice", "d"}, {"h2", "bob", "d"}, {"h3", "carol", "d"}}};
  struct Case {
    const char *what;
    int fail_at;
    Calls freed;
  };
  for (const Case &c : {Case{"first node", 1, {}},
                        Case{"first name", 2, {"free node"}},
                        Case{"second node", 3, {"free \"alice\"", "free node"}},
                        Case{"second name", 4, {"free node", "free \"alice\"", "free node"}}}) {
    SCOPED_TRACE(c.what);
    env.clear_pending();
    EXPECT_EQ(List("staff", c.fail_at), nullptr);
    EXPECT_EQ(g_allocs.calls, c.fail_at);
    ASSERT_TRUE(env.pending());
    EXPECT_EQ(env.pending()->class_name, "java/lang/OutOfMemoryError");
    EXPECT_EQ(env.pending()->message, std::nullopt);

    Calls want = {"ReleaseStringUTFChars \"staff\"", "endnetgrent"};
    want.insert(want.end(), c.freed.begin(), c.freed.end());
    want.insert(want.end(), {"FindClass java/lang/OutOfMemoryError",
                             "ThrowNew java/lang/OutOfMemoryError null",
                             "DeleteLocalRef java/lang/OutOfMemoryError"});
    // No further triple is read and no Java object made after the failure.
    const std::string last_read = c.fail_at <= 2 ? "getnetgrent: alice" : "getnetgrent: bob";
    EXPECT_EQ(TraceAfter(last_read), want);
    ExpectNothingHeld();
  }
}

// The host raising while it stores an element (JNI gives it no cause here):
// no further string is made with the exception pending, and the caller gets
// the listing's OutOfMemoryError rather than an incomplete array.
TEST_F(NetgroupTest, StoreRaisingGivesOutOfMemoryErrorAndNoFurtherString) {
  env.fail("SetObjectArrayElement", 1, kThrown);
  EXPECT_EQ(List(), nullptr);
  ASSERT_TRUE(env.pending());
  EXPECT_EQ(env.pending()->class_name, "java/lang/OutOfMemoryError");
  EXPECT_EQ(env.pending()->message, std::nullopt);
  const Calls want = {
      "DeleteLocalRef \"bob\"",
      "ExceptionCheck",
      "ExceptionClear",
      "ReleaseStringUTFChars \"staff\"",
      "endnetgrent",
      "free \"bob\"",
      "free node",
      "free \"alice\"",
      "free node",
      "FindClass java/lang/OutOfMemoryError",
      "ThrowNew java/lang/OutOfMemoryError null",
      "DeleteLocalRef java/lang/OutOfMemoryError",
  };
  EXPECT_EQ(TraceAfter("SetObjectArrayElement [Ljava/lang/String; array 0 \"bob\""), want);
  ExpectNothingHeld();
  EXPECT_EQ(env.live_local_refs(), 3);
}

// The name service's bytes reach NewStringUTF as modified UTF-8, which is
// all it accepts: characters beyond U+FFFF as surrogate pairs, and each
// ill-formed part as one U+FFFD, parted as the JDK's UTF-8 decoder parts
// them (Unicode's "maximal subpart", but a surrogate's three bytes go as
// one).  The JVM tests hold the fixture's cases against that decoder.
TEST_F(NetgroupTest, UserNamesReachNewStringUtfAsModifiedUtf8) {
  constexpr char kFffd[] = "\xEF\xBF\xBD";
  struct Case {
    const char *what;
    const char *from_name_service;
    std::string to_java;
  };
  const Case cases[] = {
      {"ASCII", "alice", "alice"},
      {"two-byte characters", "\xC3\xBCn\xC3\xAF", "\xC3\xBCn\xC3\xAF"},
      {"three-byte characters", "\xE7\x94\xA8\xE6\x88\xB7", "\xE7\x94\xA8\xE6\x88\xB7"},
      {"four-byte character", "\xF0\x9F\x98\x80x", "\xED\xA0\xBD\xED\xB8\x80x"},
      {"highest character", "\xF4\x8F\xBF\xBF", "\xED\xAF\xBF\xED\xBF\xBF"},
      {"Latin-1 byte", "caf\xE9", std::string("caf") + kFffd},
      {"lone continuation byte", "a\x80" "b", std::string("a") + kFffd + "b"},
      {"overlong NUL", "\xC0\x80", std::string(kFffd) + kFffd},
      {"overlong three-byte form", "\xE0\x80\x80", std::string(kFffd) + kFffd + kFffd},
      {"surrogate in UTF-8", "\xED\xA0\x80", kFffd},
      {"truncated surrogate", "\xED\xA0z", std::string(kFffd) + "z"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", std::string(kFffd) + kFffd + kFffd + kFffd},
      {"truncated at the end", "ab\xE2\x82", std::string("ab") + kFffd},
      {"truncated four-byte form", "\xF0\x9F\x98z", std::string(kFffd) + "z"},
      {"bytes that never start a character", "\xF5\xFF", std::string(kFffd) + kFffd},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    g_script = {1, {{"h", c.from_name_service, "d"}}};
    jobjectArray users = List();
    ASSERT_NE(users, nullptr);
    EXPECT_EQ(env.string_array(users), (std::vector<std::optional<std::string>>{c.to_java}));
    ExpectNothingHeld();
  }
}

}  // namespace
