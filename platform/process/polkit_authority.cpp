#include "platform/process/polkit_authority.h"

#include <dlfcn.h>
#include <polkit/polkit.h>
#include <unistd.h>

#include <cstring>

namespace platform {
namespace {

constexpr const char* kLibrary = "libpolkit-gobject-1.so.0";
// What pkexec checks for a program that no action names.
constexpr const char* kExecAction = "org.freedesktop.policykit.exec";
constexpr const char* kExecPathKey = "org.freedesktop.policykit.exec.path";
constexpr const char* kExecArgv1Key = "org.freedesktop.policykit.exec.argv1";

// The calls we make, found in the library once it is loaded.
struct Polkit {
  decltype(&polkit_authority_get_sync) authority_get_sync;
  decltype(&polkit_authority_enumerate_actions_sync) enumerate_actions_sync;
  decltype(&polkit_action_description_get_action_id) action_id;
  decltype(&polkit_action_description_get_annotation) annotation;
  decltype(&polkit_unix_process_new_for_owner) unix_process_new_for_owner;
  decltype(&polkit_authority_check_authorization_sync) check_authorization_sync;
  decltype(&polkit_authorization_result_get_is_authorized) is_authorized;
  decltype(&polkit_authorization_result_get_dismissed) dismissed;
  decltype(&g_object_unref) object_unref;
  decltype(&g_list_free_full) list_free_full;
  decltype(&g_error_free) error_free;
};

template <typename F>
bool Find(void* library, const char* name, F* function) {
  *function = reinterpret_cast<F>(dlsym(library, name));
  return *function != nullptr;
}

// The library's calls, or null when it is not installed. Loaded once and kept: GLib's type
// system cannot be unloaded.
const Polkit* LoadPolkit() {
  static const Polkit* loaded = []() -> const Polkit* {
    void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library) return nullptr;
    static Polkit p;
    bool found =
        Find(library, "polkit_authority_get_sync", &p.authority_get_sync) &&
        Find(library, "polkit_authority_enumerate_actions_sync", &p.enumerate_actions_sync) &&
        Find(library, "polkit_action_description_get_action_id", &p.action_id) &&
        Find(library, "polkit_action_description_get_annotation", &p.annotation) &&
        Find(library, "polkit_unix_process_new_for_owner", &p.unix_process_new_for_owner) &&
        Find(library, "polkit_authority_check_authorization_sync", &p.check_authorization_sync) &&
        Find(library, "polkit_authorization_result_get_is_authorized", &p.is_authorized) &&
        Find(library, "polkit_authorization_result_get_dismissed", &p.dismissed) &&
        Find(library, "g_object_unref", &p.object_unref) &&
        Find(library, "g_list_free_full", &p.list_free_full) &&
        Find(library, "g_error_free", &p.error_free);
    return found ? &p : nullptr;
  }();
  return loaded;
}

// Holds one reference to a GObject of the library.
class Ref {
 public:
  Ref(const Polkit& p, void* object) : p_(p), object_(object) {}
  ~Ref() {
    if (object_) p_.object_unref(object_);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  template <typename T>
  T* as() const {
    return static_cast<T*>(object_);
  }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  const Polkit& p_;
  void* object_;
};

PolkitAnswer Unavailable(const Polkit& p, GError* error, std::string* why) {
  if (why) *why = error ? error->message : "polkit gave no answer";
  if (error) p.error_free(error);
  return PolkitAnswer::kUnavailable;
}

// The action pkexec checks when it is asked to run `program`: the first that names the program
// in its exec.path annotation and does not restrict the first argument, else the generic one.
std::string ActionFor(const Polkit& p, PolkitAuthority* authority, const std::string& program) {
  std::string action = kExecAction;
  GError* error = nullptr;
  GList* actions = p.enumerate_actions_sync(authority, nullptr, &error);
  if (error) p.error_free(error);
  for (GList* l = actions; l; l = l->next) {
    auto* description = static_cast<PolkitActionDescription*>(l->data);
    const char* path = p.annotation(description, kExecPathKey);
    if (!path || program != path || p.annotation(description, kExecArgv1Key)) continue;
    action = p.action_id(description);
    break;
  }
  p.list_free_full(actions, p.object_unref);
  return action;
}

}  // namespace

PolkitAnswer AskPolkitToRun(const std::string& program, bool allow_interaction, std::string* why) {
  const Polkit* loaded = LoadPolkit();
  if (!loaded) {
    if (why) *why = std::string(kLibrary) + " is not installed";
    return PolkitAnswer::kUnavailable;
  }
  const Polkit& p = *loaded;
  GError* error = nullptr;
  Ref authority(p, p.authority_get_sync(nullptr, &error));
  if (!authority) return Unavailable(p, error, why);

  const std::string action = ActionFor(p, authority.as<PolkitAuthority>(), program);
  // This process, named with its owner so that a later change of the pid's owner cannot
  // borrow the answer.
  Ref subject(p, p.unix_process_new_for_owner(getpid(), 0, getuid()));
  // No details: polkit takes them only from root or the action's owner (pkexec, set-user-ID,
  // gives the program and its command line).
  Ref result(
      p, p.check_authorization_sync(
             authority.as<PolkitAuthority>(), subject.as<PolkitSubject>(), action.c_str(), nullptr,
             allow_interaction ? POLKIT_CHECK_AUTHORIZATION_FLAGS_ALLOW_USER_INTERACTION
                               : POLKIT_CHECK_AUTHORIZATION_FLAGS_NONE,
             nullptr, &error));
  if (!result) return Unavailable(p, error, why);
  auto* answer = result.as<PolkitAuthorizationResult>();
  if (p.is_authorized(answer)) return PolkitAnswer::kGranted;
  return p.dismissed(answer) ? PolkitAnswer::kDismissed : PolkitAnswer::kRefused;
}

}  // namespace platform
