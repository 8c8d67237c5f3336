// fake_jni_env.h -- a JNIEnv without a JVM, for unit tests of JNI-facing code.
//
// JNIEnv is a table of function pointers, not an interface a mock library can
// stand in for, so FakeJniEnv fills a JNINativeInterface_ of its own.  It
// models just enough of a Java host to walk every failure path:
//   - objects: classes (one per name), strings, instances with int fields,
//     object arrays, byte arrays, direct buffers and throwables, reached
//     through local or global references that it counts and checks (a
//     deleted or unknown reference fails the test);
//   - critical holds: GetPrimitiveArrayCritical hands out a fresh copy of
//     the array, as -Xcheck:jni does, so that writes survive only a release
//     that copies back and a read after the release reads freed memory; any
//     other JNI call while a hold is live fails the test.  A test may have
//     nested holds of one array share their copy instead, as the addresses
//     of a host that pins the array would (pin_nested_holds);
//   - scripted failures: the nth call of a function returns null (or JNI_ERR)
//     with the function's usual exception pending, or without any exception,
//     as JNI allows;
//   - a pending exception: a test fails if a JNI function that JNI forbids
//     with an exception pending is called while one is;
//   - a log of every call, with its main arguments, in calls().
// The C++ wrappers of variadic calls (NewObject, CallStaticObjectMethod) go
// through the ...V slots; both forms are logged under the plain name.  A slot
// without a fake aborts with its index in JNINativeInterface_.
#ifndef ZELKOR_TESTS_FAKE_JNI_ENV_H
#define ZELKOR_TESTS_FAKE_JNI_ENV_H

#include <jni.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor::testing {

// What a scripted call does in place of its normal work.
enum class Outcome {
  kNullWithException,     // null or JNI_ERR, with the function's usual exception pending
  kNullWithoutException,  // null or JNI_ERR, nothing pending
};

struct JavaException {
  std::string class_name;              // "java/lang/OutOfMemoryError"
  std::optional<std::string> message;  // none for a null message
};

class FakeJniEnv : public JNIEnv {
 public:
  FakeJniEnv();
  ~FakeJniEnv();
  FakeJniEnv(const FakeJniEnv &) = delete;
  FakeJniEnv &operator=(const FakeJniEnv &) = delete;

  // --- Scripting.
  // Makes the nth call of `function` counted from now (1: the next one) fail.
  // Names as in calls(): "FindClass", "NewGlobalRef", "NewObject", ...
  // The exception is NoClassDefFoundError for FindClass, NoSuchMethodError
  // and NoSuchFieldError for the ID lookups, IllegalArgumentException for
  // CallStaticObjectMethod, ArrayStoreException for SetObjectArrayElement,
  // ArrayIndexOutOfBoundsException for Get/SetByteArrayRegion and
  // OutOfMemoryError for the rest.
  void fail(const std::string &function, int nth, Outcome outcome);
  // Drops every scripted failure that has not happened yet.
  void clear_failures() { script_.clear(); }
  // The constants that Enum.valueOf finds in enum_class ("a/b/Errno"); a
  // class without a list has every name.
  void set_enum_constants(const std::string &enum_class, std::vector<std::string> names);
  // While on, a hold of an array that is already held gives the live hold's
  // address, as a host that pins arrays does, instead of a fresh copy; the
  // copy goes when its last hold is released.  Off (the default), every
  // hold is a copy of its own, as under -Xcheck:jni.
  void pin_nested_holds(bool on) { pin_nested_holds_ = on; }
  bool pins_nested_holds() const { return pin_nested_holds_; }
  // Leaves an exception pending, as if the host had thrown it.
  void raise(const std::string &class_name, std::optional<std::string> message);

  // --- Observations.
  // One entry per JNI call: the function's name, then its main arguments as
  // describe() gives them, e.g. "FindClass java/lang/Enum",
  // "NewGlobalRef java/lang/Enum", "ExceptionCheck".
  const std::vector<std::string> &calls() const { return calls_; }
  void clear_calls() { calls_.clear(); }
  // Entries of calls() for `function`.
  int count(std::string_view function) const;
  const std::optional<JavaException> &pending() const { return pending_; }
  void clear_pending() { pending_.reset(); }
  int live_local_refs() const;
  int live_global_refs() const;
  // GetStringUTFChars buffers not yet released.
  int utf_chars_held() const { return static_cast<int>(utf_chars_.size()); }
  // GetPrimitiveArrayCritical copies not yet released, oldest first.  The
  // serial counts every hold ever taken, from 1.
  struct CriticalHold {
    int serial;
    jarray array;
    const uint8_t *copy;
    size_t size;
  };
  std::vector<CriticalHold> critical_holds() const;

  bool is_live(jobject ref) const;
  bool is_global(jobject ref) const;
  // "null", a class name, "\"text\"" for a string, "a/b/Errno.EPERM" for an
  // enum constant, "java/io/FileDescriptor object", "[Ljava/lang/String; array".
  std::string describe(jobject ref) const;
  // "java/lang/Enum.valueOf:(...)Ljava/lang/Enum;", "null" for a null ID.
  std::string describe(jfieldID id) const;
  std::string describe(jmethodID id) const;

  // --- Objects made on the test's side (not logged): local references.
  jstring new_string(std::string_view text);
  jobject new_object(const std::string &class_name);
  std::optional<int> int_field(jobject obj, const std::string &name) const;
  // The elements of a string array; nullopt for a null element.
  std::vector<std::optional<std::string>> string_array(jobjectArray array) const;
  // A byte[] that describe() calls "byte[] <label>"; NewByteArray's are
  // "byte[] new".
  jbyteArray new_byte_array(std::vector<uint8_t> bytes, const std::string &label);
  std::vector<uint8_t> byte_array(jbyteArray array) const;
  // A direct ByteBuffer over memory the test owns, "direct buffer <label>";
  // a null address stands for a buffer whose address JNI cannot give.
  jobject new_direct_buffer(void *address, const std::string &label);

 private:
  friend struct FakeJniSlots;

  struct Object {
    enum Kind {
      kClass,
      kString,
      kInstance,
      kEnumConstant,
      kThrowable,
      kArray,
      kByteArray,
      kDirectBuffer
    } kind;
    std::string class_name;  // the class named (kClass) or the object's class
    std::string text;        // string contents; enum constant name; throwable message
    bool has_text = false;
    std::map<std::string, int> int_fields;
    std::vector<int> elements;  // object indices, -1 for null
  };
  struct Hold {
    int serial;
    jarray array;
    int object;
    uint8_t *copy;
  };
  struct Ref {
    int object;
    bool global;
    bool live;
  };
  struct Member {
    std::string class_name, name, signature;
    bool is_static, is_field;
  };

  static FakeJniEnv &of(JNIEnv *env) { return *static_cast<FakeJniEnv *>(env); }

  // Logs a call, checks the pending-exception rule and returns the scripted
  // outcome of this call, if any.
  std::optional<Outcome> enter(const char *function, const std::string &detail = {});
  // Applies a scripted failure: the function's exception, if the outcome has one.
  void fail_now(const char *function, Outcome outcome, const std::string &what);

  // Enum.valueOf: one object per constant, as in Java.
  jobject enum_value_of(jobject enum_class, jobject name);
  int add_object(Object object);
  int class_object(const std::string &name);
  jobject new_ref(int object, bool global);
  // The object behind a live reference; -1 for null.  A dead or unknown
  // reference fails the test and gives kBadRef.
  static constexpr int kBadRef = -2;
  int object_of(jobject ref, const char *function) const;
  const Member *member(const void *id) const;
  const void *member_id(const std::string &class_name, const std::string &name,
                        const std::string &signature, bool is_static, bool is_field);

  JNINativeInterface_ table_;
  std::vector<std::string> calls_;
  std::map<std::string, int> counts_;                   // calls per function, ever
  std::map<std::pair<std::string, int>, Outcome> script_;  // (function, call number)
  std::optional<JavaException> pending_;
  std::vector<Object> objects_;
  std::map<std::string, int> classes_;  // class name -> object
  std::map<std::pair<std::string, std::string>, int> enum_constants_;
  std::map<std::string, std::set<std::string>> enum_names_;
  std::map<std::uintptr_t, Ref> refs_;
  std::uintptr_t next_ref_ = 0x10000;
  std::vector<Member> members_;
  std::set<char *> utf_chars_;
  std::map<int, std::vector<uint8_t>> bytes_;  // byte array contents, by object
  std::map<int, void *> addresses_;             // direct buffer addresses, by object
  std::vector<Hold> holds_;
  int hold_serial_ = 0;
  bool pin_nested_holds_ = false;
};

}  // namespace zelkor::testing

#endif  // ZELKOR_TESTS_FAKE_JNI_ENV_H
