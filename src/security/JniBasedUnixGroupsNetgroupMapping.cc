// JniBasedUnixGroupsNetgroupMapping.cc -- the users of a netgroup, listed
// through the system library's netgroup enumeration, as a Java String[].
//
// setnetgrent/getnetgrent/endnetgrent share one enumeration state per
// process, so callers serialise listings; nothing else here is shared.  The
// names are copied because getnetgrent's strings last only until its next
// call; all of them are read before any Java object is made, so the array
// is made once, with its final length.
#include <jni.h>
#include <netdb.h>
#include <stdlib.h>
#include <string.h>

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
constexpr char OUT_OF_MEMORY_ERROR[] = "java/lang/OutOfMemoryError";
constexpr char NULL_POINTER_EXCEPTION[] = "java/lang/NullPointerException";
constexpr char NO_SUCH_NETGROUP[] =
    "no netgroup of this name is known or some other error occurred";

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
    const size_t len = strlen(user);
    node->string = static_cast<char *>(malloc(len + 1));
    if (node->string == nullptr) return false;
    strcpy(node->string, user);
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
// class, the array or a string.
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
  }
  return jusers;
}

void throw_new(JNIEnv *env, const char *error_type, const char *error_message) {
  jclass error_class = env->FindClass(error_type);
  if (error_class == nullptr) return;  // FindClass's own exception stands
  env->ThrowNew(error_class, error_message);
  env->DeleteLocalRef(error_class);
}

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
    if (!env->ExceptionCheck()) throw_new(env, OUT_OF_MEMORY_ERROR, nullptr);
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
    errorType = OUT_OF_MEMORY_ERROR;
  } else if ((jusers = make_array(env, users)) == nullptr) {
    // The host has thrown an exception of its own, or returned null without
    // one, as JNI allows.  The caller gets the listing's OutOfMemoryError
    // either way, and JNI forbids the FindClass and ThrowNew that raise it
    // while an exception is pending, so it goes now.  ExceptionClear does
    // nothing when none is pending.
    env->ExceptionClear();
    errorType = OUT_OF_MEMORY_ERROR;
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
