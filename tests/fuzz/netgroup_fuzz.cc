// The netgroup listing with a fuzz-chosen name, enumeration (setnetgrent's
// result, triples with and without users, user names of any bytes), failing
// allocation and schedule of failing JNI calls.
//
// Linked with -Wl,--wrap= for setnetgrent, getnetgrent, endnetgrent, malloc
// and free: the enumeration is scripted, and the allocator keeps a ledger
// of the blocks the listing takes while a call is in progress.
#include <iconv.h>
#include <jni.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"

extern "C" {
JNIEXPORT jobjectArray JNICALL
Java_org_tarvik_zelkor_security_JniBasedUnixGroupsNetgroupMapping_getUsersForNetgroupJNI(
    JNIEnv *env, jobject jobj, jstring jgroup);
void *__real_malloc(size_t size);
void __real_free(void *p);
}

namespace {

using namespace zelkor::fuzz;

constexpr char kOom[] = "java/lang/OutOfMemoryError";
constexpr char kIo[] = "java/io/IOException";
constexpr char kNpe[] = "java/lang/NullPointerException";
constexpr char kNoSuchNetgroup[] = "no netgroup of this name is known or some other error occurred";

const std::vector<std::string_view> kFailing = {"GetStringUTFChars", "FindClass", "NewObjectArray",
                                                "NewStringUTF", "SetObjectArrayElement", "ThrowNew"};

// ---- the scripted enumeration ---------------------------------------------

struct Triple {
  bool has_user;
  std::string user;
};

struct Enumeration {
  int set_result = 1;
  std::vector<Triple> triples;
  size_t next = 0;
  std::vector<std::string> set_names;  // setnetgrent's arguments
  int reads = 0;                       // getnetgrent calls
  int ends = 0;                        // endnetgrent calls
  bool read_after_end = false;
};
Enumeration g_enum;

// Like the system library's, the strings live in buffers that the next
// call overwrites, so a listing that kept the pointers would show it.
char g_host[8] = "h", g_domain[8] = "d";
char g_user[64];

struct Ledger {
  bool armed = false;
  int calls = 0;
  int fail_at = 0;  // 1-based; 0: none
  std::map<void *, size_t> live;
};
Ledger g_ledger;

}  // namespace

extern "C" {

int __wrap_setnetgrent(const char *netgroup) {
  g_enum.set_names.emplace_back(netgroup);
  g_enum.next = 0;
  return g_enum.set_result;
}

int __wrap_getnetgrent(char **host, char **user, char **domain) {
  ++g_enum.reads;
  if (g_enum.ends > 0) g_enum.read_after_end = true;
  if (g_enum.next == g_enum.triples.size()) return 0;
  const Triple &t = g_enum.triples[g_enum.next++];
  *host = g_host;
  *domain = g_domain;
  *user = nullptr;
  if (t.has_user) {
    memcpy(g_user, t.user.c_str(), t.user.size() + 1);
    *user = g_user;
  }
  return 1;
}

void __wrap_endnetgrent(void) {
  ++g_enum.ends;
  memset(g_user, 'x', sizeof g_user - 1);
}

void *__wrap_malloc(size_t size) {
  if (!g_ledger.armed) return __real_malloc(size);
  if (++g_ledger.calls == g_ledger.fail_at) return nullptr;
  void *p = __real_malloc(size);
  if (p != nullptr) g_ledger.live[p] = size;
  return p;
}

void __wrap_free(void *p) {
  if (g_ledger.armed) g_ledger.live.erase(p);  // the fake frees buffers of its own too
  __real_free(p);
}

}  // extern "C"

namespace {

// ---- what a Java string made of a user name must hold ---------------------

// UTF-16 code units of modified UTF-8 text, or nullopt if it is not valid
// modified UTF-8 (NewStringUTF's input), including a lone or reversed
// surrogate, which no conversion of a name should produce.
std::optional<std::u16string> from_modified_utf8(const std::string &s) {
  std::u16string units;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    auto cont = [&](size_t k) {
      return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    auto low6 = [&](size_t k) { return static_cast<unsigned>(s[i + k]) & 0x3F; };
    unsigned u;
    if (b >= 0x01 && b <= 0x7F) {
      u = b;
      i += 1;
    } else if ((b & 0xE0) == 0xC0 && cont(1)) {
      u = (b & 0x1Fu) << 6 | low6(1);
      if (u != 0 && u < 0x80) return std::nullopt;
      i += 2;
    } else if ((b & 0xF0) == 0xE0 && cont(1) && cont(2)) {
      u = (b & 0x0Fu) << 12 | low6(1) << 6 | low6(2);
      if (u < 0x800) return std::nullopt;
      i += 3;
    } else {
      return std::nullopt;
    }
    units.push_back(static_cast<char16_t>(u));
  }
  for (size_t i = 0; i < units.size(); ++i) {  // surrogates in pairs, high first
    const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
    const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
    if (low) return std::nullopt;
    if (high) {
      if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return std::nullopt;
      ++i;
    }
  }
  return units;
}

// UTF-16 of well-formed UTF-8, by glibc's iconv; nullopt for ill-formed text.
std::optional<std::u16string> utf16_of_utf8(const std::string &s) {
  static iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  ZELKOR_FUZZ_CHECK(cd != reinterpret_cast<iconv_t>(-1), "iconv_open UTF-8 -> UTF-16LE");
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string in = s;
  std::vector<char> out(4 * s.size() + 4);
  char *inp = in.data(), *outp = out.data();
  size_t inleft = in.size(), outleft = out.size();
  if (iconv(cd, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1)) return std::nullopt;
  std::u16string units;
  for (const char *p = out.data(); p < outp; p += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                          static_cast<unsigned char>(p[1]) << 8));
  return units;
}

// A user's name as the listing hands it to Java: well-formed UTF-8 exactly
// (supplementary characters as surrogate pairs); ill-formed bytes as U+FFFD.
void check_user(const std::string &user, const std::string &java_text) {
  const std::optional<std::u16string> got = from_modified_utf8(java_text);
  ZELKOR_FUZZ_CHECK(got.has_value(), "user name given to NewStringUTF is no valid modified UTF-8");
  const std::optional<std::u16string> want = utf16_of_utf8(user);
  if (want) {
    ZELKOR_FUZZ_CHECK(*got == *want, "well-formed UTF-8 user name changed on its way to Java");
  } else {
    ZELKOR_FUZZ_CHECK(got->find(u'\uFFFD') != std::u16string::npos,
                      "ill-formed user name reached Java without a replacement character");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  AbortOnComplaint complaints;
  Input in(data, size);
  FakeJniEnv env;

  const bool null_name = in.below(16) == 0;
  const std::string name = in.c_string(40);
  g_enum = Enumeration{};
  constexpr int kSetResults[] = {1, 1, 1, 1, 1, 0, -1, 2};
  g_enum.set_result = kSetResults[in.below(8)];
  const unsigned triples = in.below(9);
  for (unsigned i = 0; i < triples; ++i) {
    Triple t{in.below(4) != 0, {}};
    if (t.has_user) t.user = in.c_string(sizeof g_user - 1);
    g_enum.triples.push_back(t);
  }
  const int fail_alloc_at = static_cast<int>(in.below(12));
  Schedule schedule;
  schedule.read(in, kFailing, {"SetObjectArrayElement"});

  // ---- the model ----
  ModelHost host(schedule);
  std::optional<std::vector<std::string>> want_users;  // the users, newest first
  bool name_read = false;
  int want_reads = 0;
  const char *message = nullptr;
  if (null_name) {
    host.throw_new(kNpe);
    message = "netgroup name is null";
  } else if (Result r = host.allocating("GetStringUTFChars"); r != Result::kOk) {
    if (r == Result::kSilent) host.throw_new(kOom);
  } else {
    name_read = true;
    const char *error = nullptr;
    std::vector<std::string> users;
    if (g_enum.set_result != 1) {
      error = kIo;
      message = kNoSuchNetgroup;
    } else {
      int allocs = 0;
      for (const Triple &t : g_enum.triples) {
        ++want_reads;
        if (!t.has_user) continue;
        allocs += 2;  // the node, then the name
        if (fail_alloc_at != 0 && fail_alloc_at <= allocs) break;
        users.insert(users.begin(), t.user);
      }
      if (fail_alloc_at != 0 && fail_alloc_at <= allocs)
        error = kOom;
      else
        ++want_reads;  // the read that ends the enumeration
    }
    if (error == nullptr) {
      bool made = false;
      if (host.find_class() == Result::kOk) {
        ++host.locals;
        if (host.allocating("NewObjectArray") == Result::kOk) {
          ++host.locals;
          made = true;
          for (size_t i = 0; made && i < users.size(); ++i) {
            made = host.allocating("NewStringUTF") == Result::kOk &&
                   host.call("SetObjectArrayElement", "java/lang/ArrayStoreException") ==
                       Result::kOk;
          }
        }
      }
      if (made) {
        want_users = users;
      } else {
        host.pending.reset();  // cleared before the listing raises its own
        error = kOom;
      }
    }
    if (error != nullptr) host.throw_new(error);
  }

  // ---- the listing ----
  jstring jname = null_name ? nullptr : env.new_string(name);
  env.clear_calls();
  schedule.apply(env);
  const int locals_before = env.live_local_refs();
  g_ledger = Ledger{};
  g_ledger.fail_at = fail_alloc_at;
  g_ledger.armed = true;
  jobjectArray got =
      Java_org_tarvik_zelkor_security_JniBasedUnixGroupsNetgroupMapping_getUsersForNetgroupJNI(
          &env, nullptr, jname);
  g_ledger.armed = false;

  // ---- what must hold ----
  ZELKOR_FUZZ_CHECK_EQ(got != nullptr, want_users.has_value(), "listing returned an array");
  if (got != nullptr) {
    const auto elements = env.string_array(got);
    ZELKOR_FUZZ_CHECK_EQ(elements.size(), want_users->size(), "array length");
    for (size_t i = 0; i < elements.size(); ++i) {
      ZELKOR_FUZZ_CHECK(elements[i].has_value(), "null element " + std::to_string(i));
      check_user((*want_users)[i], *elements[i]);
    }
  }
  ZELKOR_FUZZ_CHECK_EQ(pending_class(env), host.pending, "pending exception");
  // The listing's own exceptions: an OutOfMemoryError without a message
  // (the host's, in this fake, have none either), the others with theirs.
  if (host.pending == std::optional<std::string>(kOom))
    ZELKOR_FUZZ_CHECK_EQ(env.pending()->message, std::optional<std::string>(), "OutOfMemoryError message");
  if (message != nullptr && (host.pending == std::optional<std::string>(kIo) ||
                             host.pending == std::optional<std::string>(kNpe)))
    ZELKOR_FUZZ_CHECK_EQ(env.pending()->message, std::optional<std::string>(message), "message");
  ZELKOR_FUZZ_CHECK_EQ(env.live_local_refs() - locals_before, host.locals, "local references left");
  ZELKOR_FUZZ_CHECK_EQ(env.utf_chars_held(), 0, "GetStringUTFChars buffers held");
  ZELKOR_FUZZ_CHECK_EQ(g_ledger.live.size(), size_t{0}, "blocks not freed");
  check_counts(env, host, kFailing, "listing");

  // The enumeration: opened with the name as the host gave it, read as far
  // as the listing needed, ended once, and never read after its end.
  ZELKOR_FUZZ_CHECK_EQ(g_enum.set_names.size(), size_t{name_read ? 1u : 0u}, "setnetgrent calls");
  if (name_read) ZELKOR_FUZZ_CHECK_EQ(g_enum.set_names[0], name, "setnetgrent's name");
  ZELKOR_FUZZ_CHECK_EQ(g_enum.ends, name_read ? 1 : 0, "endnetgrent calls");
  ZELKOR_FUZZ_CHECK_EQ(g_enum.reads, want_reads, "getnetgrent calls");
  ZELKOR_FUZZ_CHECK(!g_enum.read_after_end, "getnetgrent after endnetgrent");
  return 0;
}
