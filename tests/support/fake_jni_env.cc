// fake_jni_env.cc -- see fake_jni_env.h.
#include "fake_jni_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace zelkor::testing {

namespace {

// The functions that JNI allows while an exception is pending, besides the
// Release<Type>ArrayElements family.
bool allowed_with_exception_pending(std::string_view function) {
  static constexpr std::array<std::string_view, 14> kAllowed = {
      "DeleteGlobalRef",   "DeleteLocalRef",        "DeleteWeakGlobalRef",
      "ExceptionCheck",    "ExceptionClear",        "ExceptionDescribe",
      "ExceptionOccurred", "MonitorExit",           "PopLocalFrame",
      "PushLocalFrame",    "ReleaseStringChars",    "ReleaseStringUTFChars",
      "ReleaseStringCritical", "ReleasePrimitiveArrayCritical"};
  if (function.starts_with("Release") && function.ends_with("ArrayElements")) return true;
  return std::find(kAllowed.begin(), kAllowed.end(), function) != kAllowed.end();
}

const char *failure_exception(std::string_view function) {
  if (function == "FindClass") return "java/lang/NoClassDefFoundError";
  if (function == "GetMethodID" || function == "GetStaticMethodID")
    return "java/lang/NoSuchMethodError";
  if (function == "GetFieldID" || function == "GetStaticFieldID") return "java/lang/NoSuchFieldError";
  if (function == "CallStaticObjectMethod") return "java/lang/IllegalArgumentException";
  if (function == "SetObjectArrayElement") return "java/lang/ArrayStoreException";
  if (function == "GetByteArrayRegion" || function == "SetByteArrayRegion")
    return "java/lang/ArrayIndexOutOfBoundsException";
  return "java/lang/OutOfMemoryError";
}

// Slots without a fake abort with their index, so that the missing function
// can be found in JNINativeInterface_.
constexpr size_t kSlotCount = sizeof(JNINativeInterface_) / sizeof(void *);
static_assert(sizeof(JNINativeInterface_) % sizeof(void *) == 0);

template <size_t I>
void unfaked_slot() {
  std::fprintf(stderr, "FakeJniEnv: JNI function in slot %zu of JNINativeInterface_ has no fake\n",
               I);
  std::abort();
}

template <size_t... I>
constexpr std::array<void (*)(), sizeof...(I)> make_traps(std::index_sequence<I...>) {
  return {&unfaked_slot<I>...};
}

std::string quoted(const std::string &text) { return "\"" + text + "\""; }

std::string dotted(std::string name) {
  std::replace(name.begin(), name.end(), '/', '.');
  return name;
}

// One argument of a call, with its type letter from the descriptor.
struct Arg {
  char type;  // 'L' for any reference
  jvalue value;
};

// Reads a call's arguments as the method's descriptor says.
std::vector<Arg> read_args(const std::string &signature, va_list args) {
  std::vector<Arg> values;
  for (size_t i = 1; i < signature.size() && signature[i] != ')'; ++i) {
    Arg a{signature[i], {}};
    switch (signature[i]) {
      case 'Z': a.value.z = static_cast<jboolean>(va_arg(args, int)); break;
      case 'B': a.value.b = static_cast<jbyte>(va_arg(args, int)); break;
      case 'C': a.value.c = static_cast<jchar>(va_arg(args, int)); break;
      case 'S': a.value.s = static_cast<jshort>(va_arg(args, int)); break;
      case 'I': a.value.i = va_arg(args, jint); break;
      case 'J': a.value.j = va_arg(args, jlong); break;
      case 'F': a.value.f = static_cast<jfloat>(va_arg(args, double)); break;
      case 'D': a.value.d = va_arg(args, double); break;
      case '[':
        while (signature[i] == '[') ++i;
        if (signature[i] == 'L') i = signature.find(';', i);
        a = Arg{'L', {}};
        a.value.l = va_arg(args, jobject);
        break;
      case 'L':
        i = signature.find(';', i);
        a.value.l = va_arg(args, jobject);
        break;
      default: ADD_FAILURE() << "bad descriptor " << signature; return values;
    }
    values.push_back(a);
  }
  return values;
}

}  // namespace

// The JNI functions with a fake, reached through the table.
struct FakeJniSlots {
  using Kind = FakeJniEnv::Object::Kind;

  // Whether object o (from object_of) is of kind k; fails the test with the
  // complaint if not, unless object_of already reported a bad reference.
  static bool has_kind(FakeJniEnv &f, int o, Kind k, const std::string &complaint) {
    if (o == FakeJniEnv::kBadRef) return false;
    if (o < 0 || f.objects_[static_cast<size_t>(o)].kind != k) {
      ADD_FAILURE() << complaint;
      return false;
    }
    return true;
  }

  // "(a, b, c)" for a call's arguments.
  static std::string format_args(const FakeJniEnv &f, const std::vector<Arg> &values) {
    std::string text = "(";
    for (size_t i = 0; i < values.size(); ++i) {
      const Arg &a = values[i];
      text += i ? ", " : "";
      switch (a.type) {
        case 'L': text += f.describe(a.value.l); break;
        case 'J': text += std::to_string(a.value.j); break;
        case 'F': text += std::to_string(a.value.f); break;
        case 'D': text += std::to_string(a.value.d); break;
        case 'Z': text += a.value.z ? "true" : "false"; break;
        default: text += std::to_string(a.value.i); break;  // I, B, C, S
      }
    }
    return text + ")";
  }

  static void *JNICALL GetDirectBufferAddress(JNIEnv *env, jobject buffer) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    auto outcome = f.enter("GetDirectBufferAddress", f.describe(buffer));
    int o = f.object_of(buffer, "GetDirectBufferAddress");
    if (outcome) {
      f.fail_now("GetDirectBufferAddress", *outcome, "");
      return nullptr;
    }
    // Anything but a direct buffer gives null, as in HotSpot.
    if (o < 0 || f.objects_[o].kind != Kind::kDirectBuffer) return nullptr;
    return f.addresses_[o];
  }

  static void *JNICALL GetPrimitiveArrayCritical(JNIEnv *env, jarray array, jboolean *is_copy) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    auto outcome = f.enter("GetPrimitiveArrayCritical", f.describe(array));
    int o = f.object_of(array, "GetPrimitiveArrayCritical");
    if (!has_kind(f, o, Kind::kByteArray, "GetPrimitiveArrayCritical of " + f.describe(array)))
      return nullptr;
    if (outcome) {
      f.fail_now("GetPrimitiveArrayCritical", *outcome, "");
      return nullptr;
    }
    if (f.pin_nested_holds_) {
      for (const FakeJniEnv::Hold &h : f.holds_) {
        if (h.object != o) continue;
        uint8_t *copy = h.copy;  // before push_back moves the holds
        f.holds_.push_back(FakeJniEnv::Hold{++f.hold_serial_, array, o, copy});
        if (is_copy != nullptr) *is_copy = JNI_FALSE;
        return copy;
      }
    }
    const std::vector<uint8_t> &bytes = f.bytes_[o];
    // One byte more than the array, so that an empty array still has an
    // address of its own.
    auto *copy = static_cast<uint8_t *>(std::malloc(bytes.size() + 1));
    std::memcpy(copy, bytes.data(), bytes.size());
    f.holds_.push_back(FakeJniEnv::Hold{++f.hold_serial_, array, o, copy});
    if (is_copy != nullptr) *is_copy = JNI_TRUE;
    return copy;
  }

  // A range outside the array raises, as in HotSpot, and copies nothing.
  static void JNICALL GetByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize len,
                                         jbyte *buf) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    std::string range = std::to_string(start) + " " + std::to_string(len);
    auto outcome = f.enter("GetByteArrayRegion", f.describe(array) + " " + range);
    int o = f.object_of(array, "GetByteArrayRegion");
    if (!has_kind(f, o, Kind::kByteArray, "GetByteArrayRegion of " + f.describe(array))) return;
    if (outcome) {
      f.fail_now("GetByteArrayRegion", *outcome, range);
      return;
    }
    const std::vector<uint8_t> &bytes = f.bytes_[o];
    if (start < 0 || len < 0 ||
        static_cast<size_t>(start) + static_cast<size_t>(len) > bytes.size()) {
      f.pending_ = JavaException{"java/lang/ArrayIndexOutOfBoundsException", range};
      return;
    }
    if (len > 0) std::memcpy(buf, bytes.data() + start, static_cast<size_t>(len));
  }

  static void JNICALL ReleasePrimitiveArrayCritical(JNIEnv *env, jarray array, void *carray,
                                                    jint mode) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    std::string how = mode == 0            ? "0"
                      : mode == JNI_COMMIT ? "JNI_COMMIT"
                      : mode == JNI_ABORT  ? "JNI_ABORT"
                                           : "mode " + std::to_string(mode);
    f.enter("ReleasePrimitiveArrayCritical", f.describe(array) + " " + how);
    int o = f.object_of(array, "ReleasePrimitiveArrayCritical");
    // The latest hold of that address: nested holds of a pinned array share
    // one.
    auto rit = std::find_if(f.holds_.rbegin(), f.holds_.rend(),
                            [&](const FakeJniEnv::Hold &h) { return h.copy == carray; });
    auto it = rit == f.holds_.rend() ? f.holds_.end() : std::prev(rit.base());
    if (it == f.holds_.end() || it->object != o) {
      ADD_FAILURE() << "ReleasePrimitiveArrayCritical of " << f.describe(array)
                    << " with a pointer its GetPrimitiveArrayCritical did not give";
      return;
    }
    std::vector<uint8_t> &bytes = f.bytes_[o];
    if (mode != JNI_ABORT) std::memcpy(bytes.data(), it->copy, bytes.size());
    if (mode == JNI_COMMIT) return;
    uint8_t *copy = it->copy;
    f.holds_.erase(it);
    if (std::none_of(f.holds_.begin(), f.holds_.end(),
                     [&](const FakeJniEnv::Hold &h) { return h.copy == copy; }))
      std::free(copy);
  }

  static jbyteArray JNICALL NewByteArray(JNIEnv *env, jsize length) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    if (auto outcome = f.enter("NewByteArray", std::to_string(length))) {
      f.fail_now("NewByteArray", *outcome, "");
      return nullptr;
    }
    if (length < 0) {
      ADD_FAILURE() << "NewByteArray of " << length;
      return nullptr;
    }
    return f.new_byte_array(std::vector<uint8_t>(static_cast<size_t>(length)), "new");
  }

  // As GetByteArrayRegion, the other way.
  static void JNICALL SetByteArrayRegion(JNIEnv *env, jbyteArray array, jsize start, jsize len,
                                         const jbyte *buf) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    std::string range = std::to_string(start) + " " + std::to_string(len);
    auto outcome = f.enter("SetByteArrayRegion", f.describe(array) + " " + range);
    int o = f.object_of(array, "SetByteArrayRegion");
    if (!has_kind(f, o, Kind::kByteArray, "SetByteArrayRegion of " + f.describe(array))) return;
    if (outcome) {
      f.fail_now("SetByteArrayRegion", *outcome, range);
      return;
    }
    std::vector<uint8_t> &bytes = f.bytes_[o];
    if (start < 0 || len < 0 ||
        static_cast<size_t>(start) + static_cast<size_t>(len) > bytes.size()) {
      f.pending_ = JavaException{"java/lang/ArrayIndexOutOfBoundsException", range};
      return;
    }
    if (len > 0) std::memcpy(bytes.data() + start, buf, static_cast<size_t>(len));
  }

  static jclass JNICALL FindClass(JNIEnv *env, const char *name) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    if (auto outcome = f.enter("FindClass", name)) {
      f.fail_now("FindClass", *outcome, dotted(name));
      return nullptr;
    }
    return static_cast<jclass>(f.new_ref(f.class_object(name), false));
  }

  static jboolean JNICALL ExceptionCheck(JNIEnv *env) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("ExceptionCheck");
    return f.pending_ ? JNI_TRUE : JNI_FALSE;
  }

  static jthrowable JNICALL ExceptionOccurred(JNIEnv *env) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("ExceptionOccurred");
    if (!f.pending_) return nullptr;
    FakeJniEnv::Object throwable{FakeJniEnv::Object::kThrowable, f.pending_->class_name, {}, false,
                                 {}, {}};
    if (f.pending_->message) {
      throwable.text = *f.pending_->message;
      throwable.has_text = true;
    }
    return static_cast<jthrowable>(f.new_ref(f.add_object(std::move(throwable)), false));
  }

  static void JNICALL ExceptionClear(JNIEnv *env) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("ExceptionClear");
    f.pending_.reset();
  }

  static void JNICALL ExceptionDescribe(JNIEnv *env) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("ExceptionDescribe");
    f.pending_.reset();
  }

  static jint JNICALL Throw(JNIEnv *env, jthrowable obj) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    auto outcome = f.enter("Throw", f.describe(obj));
    int o = f.object_of(obj, "Throw");
    if (outcome) {
      f.fail_now("Throw", *outcome, "");
      return JNI_ERR;
    }
    // NewObject makes throwables as plain instances: the fake knows no
    // class hierarchy, so any instance may be thrown.
    if (o >= 0 && f.objects_[o].kind == Kind::kInstance) {
      f.pending_ = JavaException{f.objects_[o].class_name, std::nullopt};
      return JNI_OK;
    }
    if (!has_kind(f, o, Kind::kThrowable, "Throw needs a throwable, got " + f.describe(obj)))
      return JNI_ERR;
    const FakeJniEnv::Object &t = f.objects_[o];
    f.pending_ = JavaException{t.class_name, t.has_text ? std::optional(t.text) : std::nullopt};
    return JNI_OK;
  }

  static jint JNICALL ThrowNew(JNIEnv *env, jclass clazz, const char *message) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    std::string detail = f.describe(clazz) + " " + (message ? quoted(message) : "null");
    auto outcome = f.enter("ThrowNew", detail);
    int o = f.object_of(clazz, "ThrowNew");
    if (!has_kind(f, o, Kind::kClass, "ThrowNew needs a class, got " + f.describe(clazz)))
      return JNI_ERR;
    if (outcome) {
      f.fail_now("ThrowNew", *outcome, "");
      return JNI_ERR;
    }
    f.pending_ = JavaException{f.objects_[o].class_name,
                               message ? std::optional<std::string>(message) : std::nullopt};
    return JNI_OK;
  }

  static jobject JNICALL NewGlobalRef(JNIEnv *env, jobject obj) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    auto outcome = f.enter("NewGlobalRef", f.describe(obj));
    int o = f.object_of(obj, "NewGlobalRef");
    if (outcome) {
      f.fail_now("NewGlobalRef", *outcome, "");
      return nullptr;
    }
    return o < 0 ? nullptr : f.new_ref(o, true);
  }

  static void JNICALL DeleteGlobalRef(JNIEnv *env, jobject ref) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("DeleteGlobalRef", f.describe(ref));
    if (ref == nullptr) return;
    auto it = f.refs_.find(reinterpret_cast<std::uintptr_t>(ref));
    if (it == f.refs_.end() || !it->second.live || !it->second.global) {
      ADD_FAILURE() << "DeleteGlobalRef of " << ref << ", which is no live global reference";
      return;
    }
    it->second.live = false;
  }

  static jobject JNICALL NewLocalRef(JNIEnv *env, jobject obj) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    auto outcome = f.enter("NewLocalRef", f.describe(obj));
    int o = f.object_of(obj, "NewLocalRef");
    if (outcome) {
      f.fail_now("NewLocalRef", *outcome, "");
      return nullptr;
    }
    return o < 0 ? nullptr : f.new_ref(o, false);
  }

  static void JNICALL DeleteLocalRef(JNIEnv *env, jobject ref) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("DeleteLocalRef", f.describe(ref));
    if (ref == nullptr) return;
    auto it = f.refs_.find(reinterpret_cast<std::uintptr_t>(ref));
    if (it == f.refs_.end() || !it->second.live || it->second.global) {
      ADD_FAILURE() << "DeleteLocalRef of " << ref << ", which is no live local reference";
      return;
    }
    it->second.live = false;
  }

  static jboolean JNICALL IsSameObject(JNIEnv *env, jobject a, jobject b) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("IsSameObject", f.describe(a) + " " + f.describe(b));
    return f.object_of(a, "IsSameObject") == f.object_of(b, "IsSameObject") ? JNI_TRUE : JNI_FALSE;
  }

  static jint JNICALL EnsureLocalCapacity(JNIEnv *env, jint capacity) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    if (auto outcome = f.enter("EnsureLocalCapacity", std::to_string(capacity))) {
      f.fail_now("EnsureLocalCapacity", *outcome, "");
      return JNI_ERR;
    }
    return JNI_OK;
  }

  template <bool kStatic, bool kField>
  static const void *lookup(JNIEnv *env, const char *function, jclass clazz, const char *name,
                            const char *signature) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    std::string cls = f.describe(clazz);
    auto outcome = f.enter(function, cls + "." + name + ":" + signature);
    int o = f.object_of(clazz, function);
    if (!has_kind(f, o, Kind::kClass, std::string(function) + " needs a class, got " + cls))
      return nullptr;
    if (outcome) {
      f.fail_now(function, *outcome, name);
      return nullptr;
    }
    return f.member_id(f.objects_[o].class_name, name, signature, kStatic, kField);
  }

  static jmethodID JNICALL GetMethodID(JNIEnv *env, jclass clazz, const char *name,
                                       const char *signature) {
    return static_cast<jmethodID>(
        const_cast<void *>(lookup<false, false>(env, "GetMethodID", clazz, name, signature)));
  }

  static jmethodID JNICALL GetStaticMethodID(JNIEnv *env, jclass clazz, const char *name,
                                             const char *signature) {
    return static_cast<jmethodID>(
        const_cast<void *>(lookup<true, false>(env, "GetStaticMethodID", clazz, name, signature)));
  }

  static jfieldID JNICALL GetFieldID(JNIEnv *env, jclass clazz, const char *name,
                                     const char *signature) {
    return static_cast<jfieldID>(
        const_cast<void *>(lookup<false, true>(env, "GetFieldID", clazz, name, signature)));
  }

  static jobject JNICALL NewObjectV(JNIEnv *env, jclass clazz, jmethodID constructor,
                                    va_list args) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    const FakeJniEnv::Member *m = f.member(constructor);
    // Arguments, if any, follow the constructor: "...<init>:(JII)V(1, 2, 3)".
    std::string detail = f.describe(constructor);
    bool usable = m != nullptr && !m->is_field && !m->is_static && m->name == "<init>";
    if (usable) {
      std::vector<Arg> values = read_args(m->signature, args);
      if (!values.empty()) detail += format_args(f, values);
    }
    auto outcome = f.enter("NewObject", detail);
    int o = f.object_of(clazz, "NewObject");
    std::string complaint =
        "NewObject with class " + f.describe(clazz) + " and constructor " + f.describe(constructor);
    if (!has_kind(f, o, Kind::kClass, complaint)) return nullptr;
    if (!usable || m->class_name != f.objects_[o].class_name) {
      ADD_FAILURE() << complaint;
      return nullptr;
    }
    if (outcome) {
      f.fail_now("NewObject", *outcome, "");
      return nullptr;
    }
    return f.new_object(f.objects_[o].class_name);
  }

  static jobject JNICALL NewObject(JNIEnv *env, jclass clazz, jmethodID constructor, ...) {
    va_list args;
    va_start(args, constructor);
    jobject result = NewObjectV(env, clazz, constructor, args);
    va_end(args);
    return result;
  }

  static jobject JNICALL CallStaticObjectMethodV(JNIEnv *env, jclass clazz, jmethodID method,
                                                 va_list args) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    const FakeJniEnv::Member *m = f.member(method);
    if (m == nullptr || !m->is_static || m->is_field) {
      f.enter("CallStaticObjectMethod", f.describe(clazz) + " " + f.describe(method));
      ADD_FAILURE() << "CallStaticObjectMethod with " << f.describe(method);
      return nullptr;
    }
    std::vector<Arg> values = read_args(m->signature, args);
    std::string detail = m->class_name + "." + m->name + format_args(f, values);
    auto outcome = f.enter("CallStaticObjectMethod", detail);
    int o = f.object_of(clazz, "CallStaticObjectMethod");
    std::string complaint =
        "CallStaticObjectMethod on " + f.describe(clazz) + " of " + f.describe(method);
    if (!has_kind(f, o, Kind::kClass, complaint)) return nullptr;
    if (f.objects_[o].class_name != m->class_name) {
      ADD_FAILURE() << complaint;
      return nullptr;
    }
    if (outcome) {
      f.fail_now("CallStaticObjectMethod", *outcome, "");
      return nullptr;
    }
    if (m->class_name == "java/lang/Enum" && m->name == "valueOf" &&
        m->signature == "(Ljava/lang/Class;Ljava/lang/String;)Ljava/lang/Enum;") {
      return f.enum_value_of(values[0].value.l, values[1].value.l);
    }
    ADD_FAILURE() << "FakeJniEnv has no behaviour for " << f.describe(method);
    return nullptr;
  }

  static jobject JNICALL CallStaticObjectMethod(JNIEnv *env, jclass clazz, jmethodID method,
                                                ...) {
    va_list args;
    va_start(args, method);
    jobject result = CallStaticObjectMethodV(env, clazz, method, args);
    va_end(args);
    return result;
  }

  static const FakeJniEnv::Member *int_field(FakeJniEnv &f, const char *function, jobject obj,
                                             jfieldID field, int *object) {
    *object = f.object_of(obj, function);
    const FakeJniEnv::Member *m = f.member(field);
    std::string complaint = std::string(function) + " of " + f.describe(field) + " on " +
                            f.describe(obj);
    if (!has_kind(f, *object, Kind::kInstance, complaint)) return nullptr;
    if (m == nullptr || !m->is_field || m->is_static || m->signature != "I" ||
        f.objects_[*object].class_name != m->class_name) {
      ADD_FAILURE() << complaint;
      return nullptr;
    }
    return m;
  }

  static jint JNICALL GetIntField(JNIEnv *env, jobject obj, jfieldID field) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("GetIntField", f.describe(obj) + " " + f.describe(field));
    int o;
    const FakeJniEnv::Member *m = int_field(f, "GetIntField", obj, field, &o);
    if (m == nullptr) return 0;
    auto it = f.objects_[o].int_fields.find(m->name);
    return it == f.objects_[o].int_fields.end() ? 0 : it->second;
  }

  static void JNICALL SetIntField(JNIEnv *env, jobject obj, jfieldID field, jint value) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("SetIntField",
            f.describe(obj) + " " + f.describe(field) + " = " + std::to_string(value));
    int o;
    const FakeJniEnv::Member *m = int_field(f, "SetIntField", obj, field, &o);
    if (m != nullptr) f.objects_[o].int_fields[m->name] = value;
  }

  static jstring JNICALL NewStringUTF(JNIEnv *env, const char *utf) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    if (utf == nullptr) {
      f.enter("NewStringUTF", "null");
      return nullptr;  // JNI gives null for a null pointer
    }
    if (auto outcome = f.enter("NewStringUTF", quoted(utf))) {
      f.fail_now("NewStringUTF", *outcome, "");
      return nullptr;
    }
    return f.new_string(utf);
  }

  static const char *JNICALL GetStringUTFChars(JNIEnv *env, jstring str, jboolean *is_copy) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    auto outcome = f.enter("GetStringUTFChars", f.describe(str));
    int o = f.object_of(str, "GetStringUTFChars");
    if (!has_kind(f, o, Kind::kString, "GetStringUTFChars of " + f.describe(str))) return nullptr;
    if (outcome) {
      f.fail_now("GetStringUTFChars", *outcome, "");
      return nullptr;
    }
    char *copy = strdup(f.objects_[o].text.c_str());
    f.utf_chars_.insert(copy);
    if (is_copy != nullptr) *is_copy = JNI_TRUE;
    return copy;
  }

  static void JNICALL ReleaseStringUTFChars(JNIEnv *env, jstring str, const char *chars) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("ReleaseStringUTFChars", f.describe(str));
    f.object_of(str, "ReleaseStringUTFChars");
    auto it = f.utf_chars_.find(const_cast<char *>(chars));
    if (it == f.utf_chars_.end()) {
      ADD_FAILURE() << "ReleaseStringUTFChars of a buffer GetStringUTFChars did not give";
      return;
    }
    std::free(*it);
    f.utf_chars_.erase(it);
  }

  static jsize JNICALL GetArrayLength(JNIEnv *env, jarray array) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("GetArrayLength", f.describe(array));
    int o = f.object_of(array, "GetArrayLength");
    if (o >= 0 && f.objects_[o].kind == Kind::kByteArray)
      return static_cast<jsize>(f.bytes_[o].size());
    if (!has_kind(f, o, Kind::kArray, "GetArrayLength of " + f.describe(array))) return 0;
    return static_cast<jsize>(f.objects_[o].elements.size());
  }

  static jobjectArray JNICALL NewObjectArray(JNIEnv *env, jsize length, jclass element_class,
                                             jobject initial) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    auto outcome = f.enter("NewObjectArray", std::to_string(length) + " " +
                                                 f.describe(element_class) + " " +
                                                 f.describe(initial));
    int cls = f.object_of(element_class, "NewObjectArray");
    int init = std::max(f.object_of(initial, "NewObjectArray"), -1);
    std::string complaint = "NewObjectArray of " + std::to_string(length) + " " +
                            f.describe(element_class);
    if (!has_kind(f, cls, Kind::kClass, complaint)) return nullptr;
    if (length < 0) {
      ADD_FAILURE() << complaint;
      return nullptr;
    }
    if (outcome) {
      f.fail_now("NewObjectArray", *outcome, "");
      return nullptr;
    }
    FakeJniEnv::Object array{FakeJniEnv::Object::kArray,
                             "[L" + f.objects_[cls].class_name + ";", {}, false, {},
                             std::vector<int>(static_cast<size_t>(length), init)};
    return static_cast<jobjectArray>(f.new_ref(f.add_object(std::move(array)), false));
  }

  static jobject JNICALL GetObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    f.enter("GetObjectArrayElement", f.describe(array) + " " + std::to_string(index));
    int o = f.object_of(array, "GetObjectArrayElement");
    if (!has_kind(f, o, Kind::kArray, "GetObjectArrayElement of " + f.describe(array)))
      return nullptr;
    if (index < 0 || static_cast<size_t>(index) >= f.objects_[o].elements.size()) {
      f.pending_ = JavaException{"java/lang/ArrayIndexOutOfBoundsException", std::to_string(index)};
      return nullptr;
    }
    int e = f.objects_[o].elements[static_cast<size_t>(index)];
    return e < 0 ? nullptr : f.new_ref(e, false);
  }

  static void JNICALL SetObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index,
                                            jobject value) {
    FakeJniEnv &f = FakeJniEnv::of(env);
    auto outcome = f.enter("SetObjectArrayElement", f.describe(array) + " " +
                                                        std::to_string(index) + " " +
                                                        f.describe(value));
    int o = f.object_of(array, "SetObjectArrayElement");
    int v = std::max(f.object_of(value, "SetObjectArrayElement"), -1);
    if (!has_kind(f, o, Kind::kArray, "SetObjectArrayElement of " + f.describe(array))) return;
    if (outcome) {
      f.fail_now("SetObjectArrayElement", *outcome, "");
      return;
    }
    if (index < 0 || static_cast<size_t>(index) >= f.objects_[o].elements.size()) {
      f.pending_ = JavaException{"java/lang/ArrayIndexOutOfBoundsException", std::to_string(index)};
      return;
    }
    f.objects_[o].elements[static_cast<size_t>(index)] = v;
  }
};

FakeJniEnv::FakeJniEnv() : table_{} {
  // Every slot first gets a trap that names it (the four reserved ones stay
  // null), then the faked functions take their places.
  static constexpr auto kTraps = make_traps(std::make_index_sequence<kSlotCount>{});
  void *slots[kSlotCount] = {};
  for (size_t i = 4; i < kSlotCount; ++i) slots[i] = reinterpret_cast<void *>(kTraps[i]);
  std::memcpy(&table_, slots, sizeof table_);

  using S = FakeJniSlots;
  table_.FindClass = S::FindClass;
  table_.ExceptionCheck = S::ExceptionCheck;
  table_.ExceptionOccurred = S::ExceptionOccurred;
  table_.ExceptionClear = S::ExceptionClear;
  table_.ExceptionDescribe = S::ExceptionDescribe;
  table_.Throw = S::Throw;
  table_.ThrowNew = S::ThrowNew;
  table_.NewGlobalRef = S::NewGlobalRef;
  table_.DeleteGlobalRef = S::DeleteGlobalRef;
  table_.NewLocalRef = S::NewLocalRef;
  table_.DeleteLocalRef = S::DeleteLocalRef;
  table_.IsSameObject = S::IsSameObject;
  table_.EnsureLocalCapacity = S::EnsureLocalCapacity;
  table_.GetMethodID = S::GetMethodID;
  table_.GetStaticMethodID = S::GetStaticMethodID;
  table_.GetFieldID = S::GetFieldID;
  table_.NewObject = S::NewObject;
  table_.NewObjectV = S::NewObjectV;
  table_.CallStaticObjectMethod = S::CallStaticObjectMethod;
  table_.CallStaticObjectMethodV = S::CallStaticObjectMethodV;
  table_.GetIntField = S::GetIntField;
  table_.SetIntField = S::SetIntField;
  table_.NewStringUTF = S::NewStringUTF;
  table_.GetStringUTFChars = S::GetStringUTFChars;
  table_.ReleaseStringUTFChars = S::ReleaseStringUTFChars;
  table_.GetArrayLength = S::GetArrayLength;
  table_.NewObjectArray = S::NewObjectArray;
  table_.GetObjectArrayElement = S::GetObjectArrayElement;
  table_.SetObjectArrayElement = S::SetObjectArrayElement;
  table_.GetDirectBufferAddress = S::GetDirectBufferAddress;
  table_.GetPrimitiveArrayCritical = S::GetPrimitiveArrayCritical;
  table_.ReleasePrimitiveArrayCritical = S::ReleasePrimitiveArrayCritical;
  table_.GetByteArrayRegion = S::GetByteArrayRegion;
  table_.SetByteArrayRegion = S::SetByteArrayRegion;
  table_.NewByteArray = S::NewByteArray;
  functions = &table_;
}

FakeJniEnv::~FakeJniEnv() {
  for (char *chars : utf_chars_) std::free(chars);
  std::set<uint8_t *> copies;
  for (const Hold &hold : holds_) copies.insert(hold.copy);
  for (uint8_t *copy : copies) std::free(copy);
}

std::vector<FakeJniEnv::CriticalHold> FakeJniEnv::critical_holds() const {
  std::vector<CriticalHold> holds;
  for (const Hold &h : holds_)
    holds.push_back(CriticalHold{h.serial, h.array, h.copy,
                                 bytes_.at(h.object).size()});
  return holds;
}

jbyteArray FakeJniEnv::new_byte_array(std::vector<uint8_t> bytes, const std::string &label) {
  int o = add_object(Object{Object::kByteArray, "[B", label, true, {}, {}});
  bytes_[o] = std::move(bytes);
  return static_cast<jbyteArray>(new_ref(o, false));
}

std::vector<uint8_t> FakeJniEnv::byte_array(jbyteArray array) const {
  auto it = refs_.find(reinterpret_cast<std::uintptr_t>(array));
  if (it == refs_.end() || !it->second.live ||
      objects_[static_cast<size_t>(it->second.object)].kind != Object::kByteArray) {
    ADD_FAILURE() << "byte_array of " << describe(array);
    return {};
  }
  return bytes_.at(it->second.object);
}

jobject FakeJniEnv::new_direct_buffer(void *address, const std::string &label) {
  int o = add_object(Object{Object::kDirectBuffer, "java/nio/DirectByteBuffer", label, true, {}, {}});
  addresses_[o] = address;
  return new_ref(o, false);
}

void FakeJniEnv::fail(const std::string &function, int nth, Outcome outcome) {
  script_[{function, counts_[function] + nth}] = outcome;
}

void FakeJniEnv::set_enum_constants(const std::string &enum_class,
                                    std::vector<std::string> names) {
  enum_names_[enum_class] = std::set<std::string>(names.begin(), names.end());
}

void FakeJniEnv::raise(const std::string &class_name, std::optional<std::string> message) {
  pending_ = JavaException{class_name, std::move(message)};
}

int FakeJniEnv::count(std::string_view function) const {
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string &c) {
    return c.size() >= function.size() && c.compare(0, function.size(), function) == 0 &&
           (c.size() == function.size() || c[function.size()] == ' ');
  }));
}

int FakeJniEnv::live_local_refs() const {
  return static_cast<int>(std::count_if(refs_.begin(), refs_.end(), [](const auto &r) {
    return r.second.live && !r.second.global;
  }));
}

int FakeJniEnv::live_global_refs() const {
  return static_cast<int>(std::count_if(refs_.begin(), refs_.end(), [](const auto &r) {
    return r.second.live && r.second.global;
  }));
}

bool FakeJniEnv::is_live(jobject ref) const {
  auto it = refs_.find(reinterpret_cast<std::uintptr_t>(ref));
  return it != refs_.end() && it->second.live;
}

bool FakeJniEnv::is_global(jobject ref) const {
  auto it = refs_.find(reinterpret_cast<std::uintptr_t>(ref));
  return it != refs_.end() && it->second.live && it->second.global;
}

std::string FakeJniEnv::describe(jobject ref) const {
  if (ref == nullptr) return "null";
  auto it = refs_.find(reinterpret_cast<std::uintptr_t>(ref));
  if (it == refs_.end()) return "<unknown reference>";
  if (!it->second.live) return "<deleted reference>";
  const Object &o = objects_[static_cast<size_t>(it->second.object)];
  switch (o.kind) {
    case Object::kClass: return o.class_name;
    case Object::kString: return quoted(o.text);
    case Object::kArray: return o.class_name + " array";
    case Object::kByteArray: return "byte[] " + o.text;
    case Object::kDirectBuffer: return "direct buffer " + o.text;
    case Object::kEnumConstant: return o.class_name + "." + o.text;
    case Object::kInstance:
    case Object::kThrowable: return o.class_name + " object";
  }
  return "?";
}

std::string FakeJniEnv::describe(jfieldID id) const {
  if (id == nullptr) return "null";
  const Member *m = member(id);
  return m ? m->class_name + "." + m->name + ":" + m->signature : "<unknown field>";
}

std::string FakeJniEnv::describe(jmethodID id) const {
  if (id == nullptr) return "null";
  const Member *m = member(id);
  return m ? m->class_name + "." + m->name + ":" + m->signature : "<unknown method>";
}

jstring FakeJniEnv::new_string(std::string_view text) {
  return static_cast<jstring>(
      new_ref(add_object(Object{Object::kString, "java/lang/String", std::string(text), true, {},
                                {}}),
              false));
}

jobject FakeJniEnv::new_object(const std::string &class_name) {
  Object object{Object::kInstance, class_name, {}, false, {}, {}};
  // What the real no-argument constructor leaves in the field.
  if (class_name == "java/io/FileDescriptor") object.int_fields["fd"] = -1;
  return new_ref(add_object(std::move(object)), false);
}

std::optional<int> FakeJniEnv::int_field(jobject obj, const std::string &name) const {
  auto it = refs_.find(reinterpret_cast<std::uintptr_t>(obj));
  if (it == refs_.end() || !it->second.live) return std::nullopt;
  const Object &o = objects_[static_cast<size_t>(it->second.object)];
  auto f = o.int_fields.find(name);
  if (f == o.int_fields.end()) return std::nullopt;
  return f->second;
}

std::vector<std::optional<std::string>> FakeJniEnv::string_array(jobjectArray array) const {
  std::vector<std::optional<std::string>> strings;
  auto it = refs_.find(reinterpret_cast<std::uintptr_t>(array));
  if (it == refs_.end() || !it->second.live) {
    ADD_FAILURE() << "string_array of " << describe(array);
    return strings;
  }
  for (int e : objects_[static_cast<size_t>(it->second.object)].elements) {
    if (e < 0)
      strings.emplace_back(std::nullopt);
    else
      strings.emplace_back(objects_[static_cast<size_t>(e)].text);
  }
  return strings;
}

std::optional<Outcome> FakeJniEnv::enter(const char *function, const std::string &detail) {
  calls_.push_back(detail.empty() ? std::string(function) : std::string(function) + " " + detail);
  if (pending_ && !allowed_with_exception_pending(function)) {
    ADD_FAILURE() << function << " called with " << pending_->class_name
                  << " pending; JNI allows only Delete*/Release*/Exception* calls then";
  }
  std::string_view name(function);
  if (!holds_.empty() && name != "GetPrimitiveArrayCritical" &&
      name != "ReleasePrimitiveArrayCritical" && name != "GetStringCritical" &&
      name != "ReleaseStringCritical") {
    ADD_FAILURE() << function << " called while GetPrimitiveArrayCritical holds "
                  << holds_.size() << " array(s); JNI allows no other call then";
  }
  int n = ++counts_[function];
  auto it = script_.find({function, n});
  if (it == script_.end()) return std::nullopt;
  Outcome outcome = it->second;
  script_.erase(it);
  return outcome;
}

void FakeJniEnv::fail_now(const char *function, Outcome outcome, const std::string &what) {
  if (outcome == Outcome::kNullWithException) {
    pending_ = JavaException{failure_exception(function),
                             what.empty() ? std::nullopt : std::optional<std::string>(what)};
  }
}

int FakeJniEnv::add_object(Object object) {
  objects_.push_back(std::move(object));
  return static_cast<int>(objects_.size() - 1);
}

int FakeJniEnv::class_object(const std::string &name) {
  auto it = classes_.find(name);
  if (it != classes_.end()) return it->second;
  int o = add_object(Object{Object::kClass, name, {}, false, {}, {}});
  classes_[name] = o;
  return o;
}

jobject FakeJniEnv::new_ref(int object, bool global) {
  std::uintptr_t handle = next_ref_;
  next_ref_ += 16;  // handles are never reused, so a stale one is always caught
  refs_[handle] = Ref{object, global, true};
  return reinterpret_cast<jobject>(handle);
}

int FakeJniEnv::object_of(jobject ref, const char *function) const {
  if (ref == nullptr) return -1;
  auto it = refs_.find(reinterpret_cast<std::uintptr_t>(ref));
  if (it == refs_.end() || !it->second.live) {
    ADD_FAILURE() << function << " given " << (it == refs_.end() ? "an unknown" : "a deleted")
                  << " reference " << ref;
    return kBadRef;
  }
  return it->second.object;
}

namespace {
constexpr std::uintptr_t kFirstMemberId = 0x7f000000;
}

jobject FakeJniEnv::enum_value_of(jobject enum_class, jobject name) {
  int c = object_of(enum_class, "Enum.valueOf");
  int n = object_of(name, "Enum.valueOf");
  if (c == kBadRef || n == kBadRef) return nullptr;
  if (c < 0 || objects_[c].kind != Object::kClass) {
    ADD_FAILURE() << "Enum.valueOf given " << describe(enum_class) << " for the enum class";
    return nullptr;
  }
  if (n < 0) {
    pending_ = JavaException{"java/lang/NullPointerException", "Name is null"};
    return nullptr;
  }
  const std::string &cls = objects_[c].class_name;
  const std::string &text = objects_[n].text;
  auto names = enum_names_.find(cls);
  if (names != enum_names_.end() && names->second.count(text) == 0) {
    pending_ = JavaException{"java/lang/IllegalArgumentException",
                             "No enum constant " + dotted(cls) + "." + text};
    return nullptr;
  }
  auto [it, made] = enum_constants_.try_emplace({cls, text}, -1);
  if (made) it->second = add_object(Object{Object::kEnumConstant, cls, text, true, {}, {}});
  return new_ref(it->second, false);
}

const FakeJniEnv::Member *FakeJniEnv::member(const void *id) const {
  auto n = reinterpret_cast<std::uintptr_t>(id);
  if (n < kFirstMemberId || (n - kFirstMemberId) % 16 != 0) return nullptr;
  size_t index = (n - kFirstMemberId) / 16;
  return index < members_.size() ? &members_[index] : nullptr;
}

const void *FakeJniEnv::member_id(const std::string &class_name, const std::string &name,
                                  const std::string &signature, bool is_static, bool is_field) {
  size_t index = 0;
  for (; index < members_.size(); ++index) {
    const Member &m = members_[index];
    if (m.class_name == class_name && m.name == name && m.signature == signature &&
        m.is_static == is_static && m.is_field == is_field)
      break;
  }
  if (index == members_.size())
    members_.push_back(Member{class_name, name, signature, is_static, is_field});
  return reinterpret_cast<const void *>(kFirstMemberId + 16 * index);
}

}  // namespace zelkor::testing
