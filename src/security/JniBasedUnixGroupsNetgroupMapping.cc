// JniBasedUnixGroupsNetgroupMapping.cc -- the users of a netgroup, listed
// through the system library's netgroup enumeration, as a Java String[].
//
// setnetgrent/getnetgrent/endnetgrent share one enumeration state per
// process, so callers serialise listings; nothing else here is shared.  The
// names are copied because getnetgrent's strings last only until its next
// call; all of them are read before any Java object is made, so the array
// is made once, with its final length.
//
// NewStringUTF takes modified UTF-8 only, and the JVM does what it likes
// with anything else (HotSpot silently drops or mangles characters), while
// the name service hands out whatever bytes its files hold.  So each name is
// copied in modified UTF-8: well-formed UTF-8 keeps its characters, those
// outside the Basic Multilingual Plane becoming surrogate pairs as in Java;
// each ill-formed part becomes U+FFFD, as Java's own UTF-8 decoder does.
#include <jni.h>
#include <netdb.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "jni_helpers.h"

namespace {

// One kept user name; the list is built at the head, newest first.
struct listElement {
  char *string;
  listElement *next;
};

struct UserList {
  listElement *userListHead = nullptr;
  int userListSize = 0;
};

constexpr char STRING_CLASS[] = "java/lang/String";
constexpr char IO_EXCEPTION[] = "java/io/IOException";
constexpr char NULL_POINTER_EXCEPTION[] = "java/lang/NullPointerException";
constexpr char NO_SUCH_NETGROUP[] =
    "no netgroup of this name is known or some other error occurred";

// Writes code unit u (0x800 to 0xFFFF) as three bytes of modified UTF-8.
// out may be null: then only the length counts.
size_t put3(char *out, uint32_t u) {
  if (out != nullptr) {
    out[0] = static_cast<char>(0xE0 | u >> 12);
    out[1] = static_cast<char>(0x80 | (u >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (u & 0x3F));
  }
  return 3;
}

constexpr uint32_t kReplacement = 0xFFFD;

// The NUL-terminated bytes s in modified UTF-8, written to out (with a NUL)
// unless out is null; returns the length without the NUL.  Ill-formed input
// is replaced part by part as the JDK's decoder does it, which is Unicode's
// recommended practice but for surrogates: a lead byte and as many following
// bytes as fit a well-formed sequence, or else one byte, become one U+FFFD;
// a surrogate encoded in three bytes becomes one U+FFFD too.  Well-formed
// sequences of up to three bytes are valid modified UTF-8 already and are
// copied.
size_t to_modified_utf8(const char *s, char *out) {
  const auto *in = reinterpret_cast<const unsigned char *>(s);
  size_t n = 0;
  while (*in != 0) {
    const unsigned lead = *in;
    if (lead < 0x80) {
      if (out != nullptr) out[n] = static_cast<char>(lead);
      ++n;
      ++in;
      continue;
    }
    // Continuation bytes needed, and the range of the first one (Unicode
    // table 3-7: no overlong forms, nothing past U+10FFFF; surrogates are
    // caught once decoded).
    unsigned need = 0, lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      if (lead == 0xE0) lo = 0xA0;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    }
    uint32_t cp = lead & (0x3Fu >> need);
    unsigned got = 0;
    while (need != 0 && got < need) {
      const unsigned b = in[1 + got];  // the NUL ends the text and fails here
      if (b < (got == 0 ? lo : 0x80) || b > (got == 0 ? hi : 0xBF)) break;
      cp = cp << 6 | (b & 0x3F);
      ++got;
    }
    if (need == 0 || got < need || (cp >= 0xD800 && cp <= 0xDFFF)) {
      n += put3(out != nullptr ? out + n : nullptr, kReplacement);
      in += 1 + got;
    } else if (need < 3) {
      if (out != nullptr) memcpy(out + n, in, 1 + need);
      n += 1 + need;
      in += 1 + need;
    } else {
      cp -= 0x10000;
      n += put3(out != nullptr ? out + n : nullptr, 0xD800 + (cp >> 10));
      n += put3(out != nullptr ? out + n : nullptr, 0xDC00 + (cp & 0x3FF));
      in += 4;
    }
  }
  if (out != nullptr) out[n] = '\0';
  return n;
}

// Copies the user of every triple that has one.  False when a node or a name
// copy cannot be allocated; what was linked so far stays on the list for the
// caller to free.
bool collect_users(UserList *users) {
  char *host = nullptr;
  char *user = nullptr;
  char *domain = nullptr;
  while (getnetgrent(&host, &user, &domain) != 0) {
    if (user == nullptr) continue;
    auto *node = static_cast<listElement *>(malloc(sizeof(listElement)));
    if (node == nullptr) return false;
    // Linked before the name is copied, so a failed copy leaves a node with
    // a null name that the common exit frees like any other.
    node->string = nullptr;
    node->next = users->userListHead;
    users->userListHead = node;
    node->string = static_cast<char *>(malloc(to_modified_utf8(user, nullptr) + 1));
    if (node->string == nullptr) return false;
    to_modified_utf8(user, node->string);
    ++users->userListSize;
  }
  return true;
}

void free_users(UserList *users) {
  listElement *node = users->userListHead;
  while (node != nullptr) {
    listElement *next = node->next;
    if (node->string != nullptr) free(node->string);
    free(node);
    node = next;
  }
  users->userListHead = nullptr;
  users->userListSize = 0;
}

// The array of the users, head first, so in the reverse of the order in
// which getnetgrent delivered them.  Null when the host cannot make the
// class, the array or a string, or raises while storing one.
jobjectArray make_array(JNIEnv *env, const UserList &users) {
  jclass string_class = env->FindClass(STRING_CLASS);
  if (string_class == nullptr) return nullptr;
  jobjectArray jusers = env->NewObjectArray(users.userListSize, string_class, nullptr);
  if (jusers == nullptr) return nullptr;
  int index = 0;
  for (const listElement *node = users.userListHead; node != nullptr; node = node->next) {
    jstring juser = env->NewStringUTF(node->string);
    if (juser == nullptr) return nullptr;
    env->SetObjectArrayElement(jusers, index++, juser);
    // The array holds the string now.  Without this a large netgroup would
    // run past the local references the JVM guarantees a native frame.
    env->DeleteLocalRef(juser);
    // A store cannot fail here (the index is in range, the element a
    // String), but should the host raise anyway, the next NewStringUTF
    // would be a call JNI forbids, and the array is incomplete.
    if (env->ExceptionCheck()) return nullptr;
  }
  return jusers;
}

using zelkor::kOutOfMemoryError;
using zelkor::raise_out_of_memory;
using zelkor::throw_new;

}  // namespace

extern "C" {

JNIEXPORT jobjectArray JNICALL
Java_org_tarvik_zelkor_security_JniBasedUnixGroupsNetgroupMapping_getUsersForNetgroupJNI(
    JNIEnv *env, jobject /*jobj*/, jstring jgroup) {
  // GetStringUTFChars has no defined behaviour for null (HotSpot crashes).
  if (jgroup == nullptr) {
    throw_new(env, NULL_POINTER_EXCEPTION, "netgroup name is null");
    return nullptr;
  }
  const char *cgroup = env->GetStringUTFChars(jgroup, nullptr);
  if (cgroup == nullptr) {
    // The host's exception stays; should it have raised none (JNI allows
    // that), the caller must still not take the null for a result.
    raise_out_of_memory(env, nullptr);
    return nullptr;
  }

  const char *errorType = nullptr;
  const char *errorMessage = nullptr;
  UserList users;
  jobjectArray jusers = nullptr;

  if (setnetgrent(cgroup) != 1) {
    errorType = IO_EXCEPTION;
    errorMessage = NO_SUCH_NETGROUP;
  } else if (!collect_users(&users)) {
    errorType = kOutOfMemoryError;
  } else if ((jusers = make_array(env, users)) == nullptr) {
    // The host has thrown an exception of its own, or returned null without
    // one, as JNI allows.  The caller gets the listing's OutOfMemoryError
    // either way, and JNI forbids the FindClass and ThrowNew that raise it
    // while an exception is pending, so it goes now.  ExceptionClear does
    // nothing when none is pending.
    env->ExceptionClear();
    errorType = kOutOfMemoryError;
  }

  // The common exit, for every path past GetStringUTFChars.
  env->ReleaseStringUTFChars(jgroup, cgroup);
  // Every path here has called setnetgrent; a failed one may still have
  // left state behind.
  endnetgrent();
  free_users(&users);
  if (errorType != nullptr) {
    throw_new(env, errorType, errorMessage);
    return nullptr;
  }
  return jusers;
}

}  // extern "C"
