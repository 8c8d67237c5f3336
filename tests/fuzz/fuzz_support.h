// fuzz_support.h -- what the JNI fuzz targets share: reading choices from
// the fuzz input, checks that abort (they must hold in optimised builds,
// where assert is gone), a schedule of failing JNI calls for the fake
// JNIEnv, and a model of the host that replays that schedule.
//
// Each target drives a module through a FakeJniEnv, asks a model written
// from the module's documented behaviour what must come out, and aborts on
// any difference: result, pending exception, cache state, live references,
// held strings, allocations.  The fake's own complaints (a JNI call that JNI
// forbids while an exception is pending, a deleted or unknown reference)
// abort at once, through a reporter that stands in for GoogleTest's.
#ifndef ZELKOR_TESTS_FUZZ_FUZZ_SUPPORT_H
#define ZELKOR_TESTS_FUZZ_FUZZ_SUPPORT_H

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fake_jni_env.h"

namespace zelkor::fuzz {

using zelkor::testing::FakeJniEnv;
using zelkor::testing::Outcome;

[[noreturn]] inline void fail(const char *file, int line, const std::string &what) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what.c_str());
  std::fflush(stderr);
  std::abort();
}

#define ZELKOR_FUZZ_CHECK(cond, what)                                  \
  do {                                                                 \
    if (!(cond)) ::zelkor::fuzz::fail(__FILE__, __LINE__, (what));     \
  } while (0)

#define ZELKOR_FUZZ_CHECK_EQ(got, want, what)                                          \
  do {                                                                                 \
    const auto &got_ = (got);                                                          \
    const auto &want_ = (want);                                                        \
    if (!(got_ == want_))                                                              \
      ::zelkor::fuzz::fail(__FILE__, __LINE__,                                         \
                           std::string(what) + ": got " + ::zelkor::fuzz::show(got_) + \
                               ", want " + ::zelkor::fuzz::show(want_));               \
  } while (0)

inline std::string show(const std::string &s) { return "\"" + s + "\""; }
inline std::string show(const std::optional<std::string> &s) { return s ? show(*s) : "none"; }
inline std::string show(long long v) { return std::to_string(v); }
inline std::string show(int v) { return std::to_string(v); }
inline std::string show(size_t v) { return std::to_string(v); }
inline std::string show(bool v) { return v ? "true" : "false"; }

// Turns every complaint of the fake (it reports through GoogleTest) into an
// abort with the complaint, so that the fuzzer stops at the faulty call.
class AbortOnComplaint : public ::testing::ScopedFakeTestPartResultReporter {
 public:
  AbortOnComplaint()
      : ScopedFakeTestPartResultReporter(INTERCEPT_ONLY_CURRENT_THREAD, &results_) {}
  void ReportTestPartResult(const ::testing::TestPartResult &result) override {
    fail(result.file_name() ? result.file_name() : "fake_jni_env", result.line_number(),
         std::string("fake JNIEnv: ") + result.message());
  }

 private:
  ::testing::TestPartResultArray results_;
};

// Choices read off the fuzz input; past its end every choice is 0, so any
// input is a complete run.
class Input {
 public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool flag() { return (byte() & 1) != 0; }
  // A value in [0, n).
  unsigned below(unsigned n) { return n == 0 ? 0 : byte() % n; }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }
  // Up to max bytes, ending early at a 0 byte (which is consumed); never
  // contains a NUL, as C strings do not.
  std::string c_string(size_t max) {
    std::string s;
    while (s.size() < max && !empty()) {
      uint8_t b = byte();
      if (b == 0) break;
      s.push_back(static_cast<char>(b));
    }
    return s;
  }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

// What one scheduled JNI call does; kOk is every call without an entry.
enum class Result { kOk, kThrown, kSilent };

// A schedule of failing JNI calls: (function, nth call from the start of
// the operation) -> how it fails.  Given to the fake before the operation,
// and replayed by the model.
class Schedule {
 public:
  // Reads up to three failures among `functions`, each of the first four
  // calls of its function.  Functions in `never_silent` can only fail with
  // their exception (a void JNI function has no null to give).
  void read(Input &in, const std::vector<std::string_view> &functions,
            const std::vector<std::string_view> &never_silent = {}) {
    const unsigned count = in.below(4);
    for (unsigned i = 0; i < count; ++i) {
      std::string function(functions[in.below(static_cast<unsigned>(functions.size()))]);
      const int nth = 1 + static_cast<int>(in.below(4));
      bool silent = in.flag();
      for (std::string_view f : never_silent) silent = silent && f != function;
      entries_[{function, nth}] = silent ? Result::kSilent : Result::kThrown;
    }
  }
  void apply(FakeJniEnv &env) const {
    for (const auto &[key, result] : entries_)
      env.fail(key.first, key.second,
               result == Result::kThrown ? Outcome::kNullWithException
                                         : Outcome::kNullWithoutException);
  }
  Result lookup(const std::string &function, int nth) const {
    auto it = entries_.find({function, nth});
    return it == entries_.end() ? Result::kOk : it->second;
  }
  bool empty() const { return entries_.empty(); }

 private:
  std::map<std::pair<std::string, int>, Result> entries_;
};

// The host as the model sees it: the schedule, the calls made so far, the
// pending exception and the local references made and deleted.
struct ModelHost {
  explicit ModelHost(const Schedule &s) : schedule(s) {}

  // One call of a JNI function that can fail; on a failure with an
  // exception, `exception` becomes pending.
  Result call(const std::string &function, const char *exception) {
    Result r = schedule.lookup(function, ++counts[function]);
    if (r == Result::kThrown) pending = exception;
    return r;
  }
  // The functions that fail with the fake's usual exceptions.
  Result find_class() { return call("FindClass", "java/lang/NoClassDefFoundError"); }
  Result allocating(const std::string &function) {
    return call(function, "java/lang/OutOfMemoryError");
  }

  // FindClass, ThrowNew and DeleteLocalRef of the class: how the modules
  // raise an exception of their own.  If FindClass fails, nothing more is
  // done; its exception, if any, stands in.
  void throw_new(const std::string &class_name) {
    Result r = find_class();
    if (r == Result::kOk) r = allocating("ThrowNew");
    if (r == Result::kOk) pending = class_name;
    if (r == Result::kSilent) raise_failed_silently = true;
  }

  const Schedule &schedule;
  std::map<std::string, int> counts;
  std::optional<std::string> pending;
  int locals = 0;  // local references made and not deleted
  // FindClass or ThrowNew failed without an exception while a module raised
  // its own: then nothing at all can be left pending.
  bool raise_failed_silently = false;
};

// The calls the fake saw of each of `functions`, to compare with the model's.
inline void check_counts(const FakeJniEnv &env, const ModelHost &model,
                         const std::vector<std::string_view> &functions, const char *op) {
  for (std::string_view f : functions) {
    auto it = model.counts.find(std::string(f));
    const int want = it == model.counts.end() ? 0 : it->second;
    ZELKOR_FUZZ_CHECK_EQ(env.count(f), want, std::string(op) + ": calls of " + std::string(f));
  }
}

inline std::optional<std::string> pending_class(const FakeJniEnv &env) {
  if (!env.pending()) return std::nullopt;
  return env.pending()->class_name;
}

}  // namespace zelkor::fuzz

#endif  // ZELKOR_TESTS_FUZZ_FUZZ_SUPPORT_H
