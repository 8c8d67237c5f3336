// errno_enum under a fuzz-chosen sequence of init, deinit and mappings, each
// with a fuzz-chosen schedule of failing JNI calls, and an Errno class that
// may lack one constant.  The expected names come from glibc's
// strerrorname_np, not from the module's table.
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "io/nativeio/errno_enum.h"
#include "io/nativeio/errno_enum_internal.h"

namespace {

using namespace zelkor::fuzz;

constexpr char kErrno[] = "org/tarvik/zelkor/io/nativeio/Errno";
constexpr char kValueOf[] =
    "java/lang/Enum.valueOf:(Ljava/lang/Class;Ljava/lang/String;)Ljava/lang/Enum;";
constexpr char kOom[] = "java/lang/OutOfMemoryError";

// The names the Java enum declares, besides UNKNOWN.
const std::vector<std::string> kNames = {
    "EPERM",  "ENOENT",  "ESRCH",   "EINTR",  "EIO",     "ENXIO",   "E2BIG",  "ENOEXEC",
    "EBADF",  "ECHILD",  "EAGAIN",  "ENOMEM", "EACCES",  "EFAULT",  "ENOTBLK", "EBUSY",
    "EEXIST", "EXDEV",   "ENODEV",  "ENOTDIR", "EISDIR", "EINVAL",  "ENFILE", "EMFILE",
    "ENOTTY", "ETXTBSY", "EFBIG",   "ENOSPC", "ESPIPE",  "EROFS",   "EMLINK", "EPIPE",
    "EDOM",   "ERANGE",  "ELOOP",   "ENAMETOOLONG", "ENOTEMPTY", "EOVERFLOW"};

std::string expected_name(int errnum) {
  static const std::set<std::string> names(kNames.begin(), kNames.end());
  const char *name = strerrorname_np(errnum);
  return name != nullptr && names.count(name) != 0 ? name : "UNKNOWN";
}

const std::vector<std::string_view> kFailing = {"FindClass", "NewGlobalRef", "GetStaticMethodID",
                                                "NewStringUTF", "CallStaticObjectMethod",
                                                "ThrowNew"};

enum class State { kUninitialised, kInitialised, kNoMethod, kNoEnumClass };

const char *name(State s) {
  switch (s) {
    case State::kUninitialised: return "uninitialised";
    case State::kInitialised: return "initialised";
    case State::kNoMethod: return "partly initialised, no method";
    case State::kNoEnumClass: return "partly initialised, no enum class";
  }
  return "?";
}

// The module's variables as one of the rows of its state table; aborts on
// any other combination or on a class that is no live global reference.
State state_of(const FakeJniEnv &env) {
  auto s = zelkor::errno_enum_current_state();
  const bool enum_ok = env.is_global(s.enum_class) && env.describe(s.enum_class) == "java/lang/Enum";
  const bool method_ok = env.describe(s.enum_valueOf) == kValueOf;
  const bool errno_ok = env.is_global(s.errno_class) && env.describe(s.errno_class) == kErrno;
  if (!s.enum_class && !s.enum_valueOf && !s.errno_class) return State::kUninitialised;
  if (enum_ok && method_ok && errno_ok) return State::kInitialised;
  if (enum_ok && !s.enum_valueOf && !s.errno_class) return State::kNoMethod;
  if (enum_ok && method_ok && !s.errno_class) return State::kNoEnumClass;
  fail(__FILE__, __LINE__, "errno_enum's variables match no row of its state table");
}

int globals_held(State s) {
  switch (s) {
    case State::kInitialised: return 2;
    case State::kNoMethod:
    case State::kNoEnumClass: return 1;
    case State::kUninitialised: return 0;
  }
  return 0;
}

// The documented fallback for a null without an exception, or any null from
// NewGlobalRef: back to uninitialised, and an OutOfMemoryError unless one
// is pending already.
void model_abandon(ModelHost &host, State &state) {
  state = State::kUninitialised;
  if (!host.pending) host.throw_new(kOom);
}

// errno_enum_init as its state table describes it.
void model_init(ModelHost &host, State &state) {
  if (state != State::kUninitialised) return;
  Result r = host.find_class();
  if (r == Result::kThrown) return;
  if (r == Result::kSilent) return model_abandon(host, state);
  ++host.locals;
  if (host.allocating("NewGlobalRef") != Result::kOk) return model_abandon(host, state);
  state = State::kNoMethod;
  r = host.call("GetStaticMethodID", "java/lang/NoSuchMethodError");
  if (r == Result::kThrown) return;
  if (r == Result::kSilent) return model_abandon(host, state);
  state = State::kNoEnumClass;
  r = host.find_class();
  if (r == Result::kThrown) return;
  if (r == Result::kSilent) return model_abandon(host, state);
  ++host.locals;
  if (host.allocating("NewGlobalRef") != Result::kOk) return model_abandon(host, state);
  state = State::kInitialised;
}

// errno_to_enum: the constant's name, or null.
std::optional<std::string> model_to_enum(ModelHost &host, int errnum, const std::string &lacking) {
  Result r = host.allocating("NewStringUTF");
  if (r == Result::kThrown) return std::nullopt;
  if (r == Result::kSilent) {
    host.throw_new(kOom);
    return std::nullopt;
  }
  ++host.locals;  // the name stays in the caller's frame
  r = host.call("CallStaticObjectMethod", "java/lang/IllegalArgumentException");
  if (r != Result::kOk) return std::nullopt;
  const std::string want = expected_name(errnum);
  if (want == lacking) {
    host.pending = "java/lang/IllegalArgumentException";
    return std::nullopt;
  }
  ++host.locals;
  return want;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  AbortOnComplaint complaints;
  Input in(data, size);
  FakeJniEnv env;

  // An Errno class that lacks one of the table's names, now and then.
  std::string lacking;
  if (const unsigned pick = in.below(2 * static_cast<unsigned>(kNames.size())); pick < kNames.size()) {
    lacking = kNames[pick];
    std::vector<std::string> names = {"UNKNOWN"};
    for (const std::string &n : kNames)
      if (n != lacking) names.push_back(n);
    env.set_enum_constants(kErrno, names);
  }

  State state = state_of(env);
  ZELKOR_FUZZ_CHECK(state == State::kUninitialised, "a run must start uninitialised");

  for (int op = 0; op < 24 && !in.empty(); ++op) {
    const unsigned kind = in.below(4);  // init, deinit, two kinds of mapping
    Schedule schedule;
    schedule.read(in, kFailing);
    int errnum = 0;
    if (kind == 2) errnum = static_cast<int>(in.below(128)) - 8;
    if (kind == 3) errnum = static_cast<int>(in.u32());
    // Mappings need the initialised state and nothing pending: the
    // module's contract.
    if (kind >= 2 && state != State::kInitialised) continue;

    env.clear_calls();
    env.clear_failures();
    schedule.apply(env);
    ModelHost host(schedule);
    const int locals_before = env.live_local_refs();
    std::string what;

    if (kind == 0) {
      what = "errno_enum_init";
      model_init(host, state);
      errno_enum_init(&env);
      // A failed init leaves an exception, unless even raising one failed
      // silently.
      // An init that ran and failed leaves an exception, unless even
      // raising one failed silently; one in a partial state does nothing.
      ZELKOR_FUZZ_CHECK(state == State::kInitialised || host.pending || host.raise_failed_silently ||
                            host.counts.empty(),
                        "init failed without an exception, though the host could raise one");
    } else if (kind == 1) {
      what = "errno_enum_deinit";
      state = State::kUninitialised;
      errno_enum_deinit(&env);
    } else {
      what = "errno_to_enum(" + std::to_string(errnum) + ")";
      const std::optional<std::string> want = model_to_enum(host, errnum, lacking);
      jobject got = errno_to_enum(&env, errnum);
      ZELKOR_FUZZ_CHECK_EQ(got == nullptr ? std::optional<std::string>() : env.describe(got),
                           want ? std::optional<std::string>(std::string(kErrno) + "." + *want)
                                : std::nullopt,
                           what + ": result");
    }

    ZELKOR_FUZZ_CHECK_EQ(std::string(name(state_of(env))), std::string(name(state)), what + ": state");
    ZELKOR_FUZZ_CHECK_EQ(env.live_global_refs(), globals_held(state), what + ": global references");
    ZELKOR_FUZZ_CHECK_EQ(pending_class(env), host.pending, what + ": pending exception");
    ZELKOR_FUZZ_CHECK_EQ(env.live_local_refs() - locals_before, host.locals,
                         what + ": local references left");
    check_counts(env, host, kFailing, what.c_str());
    env.clear_pending();  // the caller returns; Java sees the exception
  }

  errno_enum_deinit(&env);
  ZELKOR_FUZZ_CHECK(state_of(env) == State::kUninitialised, "deinit leaves the module uninitialised");
  ZELKOR_FUZZ_CHECK_EQ(env.live_global_refs(), 0, "global references after deinit");
  return 0;
}
