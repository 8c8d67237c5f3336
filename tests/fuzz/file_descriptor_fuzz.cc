// file_descriptor under a fuzz-chosen sequence of init, deinit, get and
// create, each with a fuzz-chosen schedule of failing JNI calls.  Objects
// made by fd_create are read back later by fd_get, beside objects made on
// the host's side and null.
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "io/nativeio/file_descriptor.h"
#include "io/nativeio/file_descriptor_internal.h"

namespace {

using namespace zelkor::fuzz;

constexpr char kFd[] = "java/io/FileDescriptor";
constexpr char kField[] = "java/io/FileDescriptor.fd:I";
constexpr char kConstructor[] = "java/io/FileDescriptor.<init>:()V";
constexpr char kOom[] = "java/lang/OutOfMemoryError";
constexpr char kNpe[] = "java/lang/NullPointerException";

const std::vector<std::string_view> kFailing = {"FindClass", "NewGlobalRef", "GetFieldID",
                                                "GetMethodID", "NewObject", "ThrowNew"};

enum class State { kUninitialised, kInitialised, kNoField, kNoConstructor };

const char *name(State s) {
  switch (s) {
    case State::kUninitialised: return "uninitialised";
    case State::kInitialised: return "initialised";
    case State::kNoField: return "partly initialised, no field";
    case State::kNoConstructor: return "partly initialised, no constructor";
  }
  return "?";
}

State state_of(const FakeJniEnv &env) {
  auto s = zelkor::fd_current_state();
  const bool class_ok = env.is_global(s.fd_class) && env.describe(s.fd_class) == kFd;
  const bool field_ok = env.describe(s.fd_descriptor) == kField;
  const bool constructor_ok = env.describe(s.fd_constructor) == kConstructor;
  if (!s.fd_class && !s.fd_descriptor && !s.fd_constructor) return State::kUninitialised;
  if (class_ok && field_ok && constructor_ok) return State::kInitialised;
  if (class_ok && !s.fd_descriptor && !s.fd_constructor) return State::kNoField;
  if (class_ok && field_ok && !s.fd_constructor) return State::kNoConstructor;
  fail(__FILE__, __LINE__, "file_descriptor's variables match no row of its state table");
}

void model_abandon(ModelHost &host, State &state) {
  state = State::kUninitialised;
  if (!host.pending) host.throw_new(kOom);
}

// fd_init as its state table describes it.
void model_init(ModelHost &host, State &state) {
  if (state != State::kUninitialised) return;
  Result r = host.find_class();
  if (r == Result::kThrown) return;
  if (r == Result::kSilent) return model_abandon(host, state);
  ++host.locals;
  if (host.allocating("NewGlobalRef") != Result::kOk) return model_abandon(host, state);
  state = State::kNoField;
  r = host.call("GetFieldID", "java/lang/NoSuchFieldError");
  if (r == Result::kThrown) return;
  if (r == Result::kSilent) return model_abandon(host, state);
  state = State::kNoConstructor;
  r = host.call("GetMethodID", "java/lang/NoSuchMethodError");
  if (r == Result::kThrown) return;
  if (r == Result::kSilent) return model_abandon(host, state);
  state = State::kInitialised;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  AbortOnComplaint complaints;
  Input in(data, size);
  FakeJniEnv env;
  std::vector<std::pair<jobject, int>> objects;  // live FileDescriptors and their numbers

  State state = state_of(env);
  ZELKOR_FUZZ_CHECK(state == State::kUninitialised, "a run must start uninitialised");

  for (int op = 0; op < 24 && !in.empty(); ++op) {
    const unsigned kind = in.below(5);  // init, deinit, get of null, get, create
    Schedule schedule;
    schedule.read(in, kFailing);
    const int number = static_cast<int>(in.flag() ? in.u32() : in.below(8));
    const unsigned pick = in.byte();
    if (kind >= 2 && state != State::kInitialised) continue;  // outside the contract

    env.clear_calls();
    env.clear_failures();
    schedule.apply(env);
    ModelHost host(schedule);
    const int locals_before = env.live_local_refs();
    std::string what;

    if (kind == 0) {
      what = "fd_init";
      model_init(host, state);
      fd_init(&env);
      // An init that ran and failed leaves an exception, unless even
      // raising one failed silently; one in a partial state does nothing.
      ZELKOR_FUZZ_CHECK(state == State::kInitialised || host.pending || host.raise_failed_silently ||
                            host.counts.empty(),
                        "init failed without an exception, though the host could raise one");
    } else if (kind == 1) {
      what = "fd_deinit";
      state = State::kUninitialised;
      fd_deinit(&env);
    } else if (kind == 2) {
      what = "fd_get(null)";
      host.throw_new(kNpe);
      ZELKOR_FUZZ_CHECK_EQ(fd_get(&env, nullptr), -1, what);
      if (host.pending == std::optional<std::string>(kNpe))
        ZELKOR_FUZZ_CHECK_EQ(env.pending()->message, std::optional<std::string>("FileDescriptor object is null"),
                             what + ": message");
    } else if (kind == 3) {
      // One made by fd_create, or one the host made (its constructor leaves -1).
      std::pair<jobject, int> target{nullptr, -1};
      if (!objects.empty() && pick % 4 != 0) {
        target = objects[pick % objects.size()];
      } else {
        target.first = env.new_object(kFd);
        ++host.locals;
      }
      what = "fd_get(" + std::to_string(target.second) + ")";
      ZELKOR_FUZZ_CHECK_EQ(fd_get(&env, target.first), target.second, what);
      ZELKOR_FUZZ_CHECK_EQ(env.count("GetIntField"), 1, what + ": reads only the field");
    } else {
      what = "fd_create(" + std::to_string(number) + ")";
      Result r = host.allocating("NewObject");
      if (r == Result::kSilent) host.throw_new(kOom);
      if (r == Result::kOk) ++host.locals;
      jobject got = fd_create(&env, number);
      ZELKOR_FUZZ_CHECK_EQ(got != nullptr, r == Result::kOk, what + ": made an object");
      ZELKOR_FUZZ_CHECK_EQ(env.count("SetIntField"), r == Result::kOk ? 1 : 0,
                           what + ": sets the field only on a new object");
      if (got != nullptr) {
        ZELKOR_FUZZ_CHECK_EQ(env.describe(got), std::string(kFd) + " object", what);
        ZELKOR_FUZZ_CHECK(env.int_field(got, "fd") == number, what + ": field value");
        objects.emplace_back(got, number);
      }
    }

    ZELKOR_FUZZ_CHECK_EQ(std::string(name(state_of(env))), std::string(name(state)), what + ": state");
    ZELKOR_FUZZ_CHECK_EQ(env.live_global_refs(), state == State::kUninitialised ? 0 : 1,
                         what + ": global references");
    ZELKOR_FUZZ_CHECK_EQ(pending_class(env), host.pending, what + ": pending exception");
    ZELKOR_FUZZ_CHECK_EQ(env.live_local_refs() - locals_before, host.locals,
                         what + ": local references left");
    check_counts(env, host, kFailing, what.c_str());
    env.clear_pending();
  }

  fd_deinit(&env);
  ZELKOR_FUZZ_CHECK(state_of(env) == State::kUninitialised, "deinit leaves the module uninitialised");
  ZELKOR_FUZZ_CHECK_EQ(env.live_global_refs(), 0, "global references after deinit");
  return 0;
}
