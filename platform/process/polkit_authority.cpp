#include "platform/process/polkit_authority.h"

#include <dlfcn.h>
#include <polkit/polkit.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {
namespace {

constexpr const char* kLibrary = "libpolkit-gobject-1.so.0";
// What pkexec checks for a program that no action names.
constexpr const char* kExecAction = "org.freedesktop.policykit.exec";
constexpr const char* kExecPathKey = "org.freedesktop.policykit.exec.path";
constexpr const char* kExecArgv1Key = "org.freedesktop.policykit.exec.argv1";

using std::chrono::milliseconds;
constexpr milliseconds kQuickDefault = std::chrono::seconds(10);
constexpr milliseconds kInteractiveDefault = std::chrono::minutes(5);
std::atomic<milliseconds::rep> quick_for_testing{0};
std::atomic<milliseconds::rep> interactive_for_testing{0};

milliseconds QuickLimit() {
  const milliseconds::rep set = quick_for_testing.load();
  return set > 0 ? milliseconds(set) : kQuickDefault;
}
milliseconds InteractiveLimit() {
  const milliseconds::rep set = interactive_for_testing.load();
  return set > 0 ? milliseconds(set) : kInteractiveDefault;
}

// The calls we make, found in the library once it is loaded.
struct Polkit {
  decltype(&polkit_authority_get_sync) authority_get_sync;
  decltype(&polkit_authority_enumerate_actions_sync) enumerate_actions_sync;
  decltype(&polkit_action_description_get_action_id) action_id;
  decltype(&polkit_action_description_get_annotation) annotation;
  decltype(&polkit_action_description_get_implicit_active) implicit_active;
  decltype(&polkit_unix_process_new_for_owner) unix_process_new_for_owner;
  decltype(&polkit_authority_check_authorization_sync) check_authorization_sync;
  decltype(&polkit_authorization_result_get_is_authorized) is_authorized;
  decltype(&polkit_authorization_result_get_dismissed) dismissed;
  decltype(&polkit_authorization_result_get_is_challenge) is_challenge;
  decltype(&g_cancellable_new) cancellable_new;
  decltype(&g_cancellable_cancel) cancellable_cancel;
  decltype(&g_dbus_error_quark) dbus_error_quark;
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
        Find(library, "polkit_action_description_get_implicit_active", &p.implicit_active) &&
        Find(library, "polkit_unix_process_new_for_owner", &p.unix_process_new_for_owner) &&
        Find(library, "polkit_authority_check_authorization_sync", &p.check_authorization_sync) &&
        Find(library, "polkit_authorization_result_get_is_authorized", &p.is_authorized) &&
        Find(library, "polkit_authorization_result_get_dismissed", &p.dismissed) &&
        Find(library, "polkit_authorization_result_get_is_challenge", &p.is_challenge) &&
        Find(library, "g_cancellable_new", &p.cancellable_new) &&
        Find(library, "g_cancellable_cancel", &p.cancellable_cancel) &&
        Find(library, "g_dbus_error_quark", &p.dbus_error_quark) &&
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

// "10 seconds", "1 minute", "250 ms".
std::string Spoken(milliseconds limit) {
  const auto count = limit.count();
  auto in = [](long long n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
  };
  if (count > 0 && count % 60000 == 0) return in(count / 60000, "minute");
  if (count > 0 && count % 1000 == 0) return in(count / 1000, "second");
  return std::to_string(count) + " ms";
}

// Cancels one call to the daemon when its time is up, from a thread of its own: the library's
// calls block, and a cancelled one returns at once.
class Deadline {
 public:
  Deadline(const Polkit& p, milliseconds limit)
      : p_(p), limit_(limit), cancellable_(p.cancellable_new()) {
    if (!cancellable_) return;
    try {
      watcher_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (cv_.wait_for(lock, limit_, [this] { return over_; })) return;
        expired_ = true;
        p_.cancellable_cancel(cancellable_);
      });
    } catch (...) {  // no thread: no bound, so no question either
    }
  }
  ~Deadline() {
    Finish();
    if (cancellable_) p_.object_unref(cancellable_);
  }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  // Null when no watcher could be started.
  GCancellable* cancellable() const { return watcher_.joinable() ? cancellable_ : nullptr; }
  // Ends the watch; true when the time ran out first.
  bool Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      over_ = true;
    }
    cv_.notify_one();
    if (watcher_.joinable()) watcher_.join();
    return expired_;
  }
  std::string Reason() const { return "polkit did not answer within " + Spoken(limit_); }

 private:
  const Polkit& p_;
  const milliseconds limit_;
  GCancellable* const cancellable_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool over_ = false;
  bool expired_ = false;
  std::thread watcher_;
};

// The reason polkit gave no answer to a call under `deadline` that failed with `error` (freed).
PolkitAnswer Unavailable(const Polkit& p, Deadline& deadline, GError* error, std::string* why) {
  std::string reason;
  if (deadline.Finish())
    reason = deadline.Reason();
  else if (error && error->domain == p.dbus_error_quark() &&
           (error->code == G_DBUS_ERROR_SERVICE_UNKNOWN ||
            error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER))
    reason = "polkit is not running";
  else
    reason = std::string("polkit cannot be asked: ") + (error ? error->message : "no answer");
  if (why) *why = reason;
  if (error) p.error_free(error);
  return PolkitAnswer::kUnavailable;
}

// The action pkexec checks when it is asked to run `program`: the first that names the program
// in its exec.path annotation and does not restrict the first argument, else the generic one.
struct Action {
  std::string id = kExecAction;
  // Its default for an active session asks for a password that polkit does not keep
  // (auth_self, auth_admin): an authentication of ours would serve us alone, and pkexec would
  // ask again.
  bool asks_each_time = false;
};

// Nothing when the daemon did not answer in time; an error answer leaves the generic action.
std::optional<Action> ActionFor(const Polkit& p, PolkitAuthority* authority,
                                const std::string& program, std::string* why) {
  Action action;
  GError* error = nullptr;
  Deadline deadline(p, QuickLimit());
  if (!deadline.cancellable()) {
    if (why) *why = "polkit cannot be asked: no thread to bound the wait";
    return std::nullopt;
  }
  GList* actions = p.enumerate_actions_sync(authority, deadline.cancellable(), &error);
  if (error) {
    if (deadline.Finish()) {
      Unavailable(p, deadline, error, why);
      return std::nullopt;
    }
    p.error_free(error);
  }
  PolkitActionDescription* generic = nullptr;
  PolkitActionDescription* named = nullptr;
  for (GList* l = actions; l && !named; l = l->next) {
    auto* description = static_cast<PolkitActionDescription*>(l->data);
    if (action.id == p.action_id(description)) generic = description;
    const char* path = p.annotation(description, kExecPathKey);
    if (!path || program != path || p.annotation(description, kExecArgv1Key)) continue;
    named = description;
  }
  if (PolkitActionDescription* found = named ? named : generic) {
    action.id = p.action_id(found);
    const PolkitImplicitAuthorization active = p.implicit_active(found);
    action.asks_each_time =
        active == POLKIT_IMPLICIT_AUTHORIZATION_AUTHENTICATION_REQUIRED ||
        active == POLKIT_IMPLICIT_AUTHORIZATION_ADMINISTRATOR_AUTHENTICATION_REQUIRED;
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
  PolkitAuthority* made = nullptr;
  {
    Deadline deadline(p, QuickLimit());
    if (deadline.cancellable()) made = p.authority_get_sync(deadline.cancellable(), &error);
    if (!made) return Unavailable(p, deadline, error, why);
  }
  Ref authority(p, made);

  const std::optional<Action> action = ActionFor(p, authority.as<PolkitAuthority>(), program, why);
  if (!action) return PolkitAnswer::kUnavailable;
  // An authentication polkit does not keep is left to pkexec, which would ask for it again:
  // polkit is only asked whether it says yes or no without one.
  if (action->asks_each_time) allow_interaction = false;
  // This process, named with its owner so that a later change of the pid's owner cannot
  // borrow the answer. The real user: pkexec, set-user-ID, asks about its caller the same way.
  Ref subject(p, p.unix_process_new_for_owner(getpid(), 0, getuid()));
  // No details: polkit takes them only from root or the action's owner (pkexec, set-user-ID,
  // gives the program and its command line).
  Deadline deadline(p, allow_interaction ? InteractiveLimit() : QuickLimit());
  Ref result(
      p, deadline.cancellable()
             ? p.check_authorization_sync(
                   authority.as<PolkitAuthority>(), subject.as<PolkitSubject>(), action->id.c_str(),
                   nullptr,
                   allow_interaction ? POLKIT_CHECK_AUTHORIZATION_FLAGS_ALLOW_USER_INTERACTION
                                     : POLKIT_CHECK_AUTHORIZATION_FLAGS_NONE,
                   deadline.cancellable(), &error)
             : nullptr);
  if (!result) return Unavailable(p, deadline, error, why);
  auto* answer = result.as<PolkitAuthorizationResult>();
  if (p.is_authorized(answer)) return PolkitAnswer::kGranted;
  if (p.dismissed(answer)) return PolkitAnswer::kDismissed;
  if (!p.is_challenge(answer)) return PolkitAnswer::kRefused;
  return action->asks_each_time ? PolkitAnswer::kPkexecAsks : PolkitAnswer::kNeedsInteraction;
}

void SetPolkitTimeoutsForTesting(std::chrono::milliseconds quick,
                                 std::chrono::milliseconds interactive) {
  quick_for_testing.store(quick.count());
  interactive_for_testing.store(interactive.count());
}

}  // namespace platform
