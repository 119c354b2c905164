#include "platform/apps/workspace.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <map>
#include <memory>

#include "platform/apps/process_identity.h"
#include "platform/apps/x_windows.h"

namespace platform {

namespace {

struct UnrefObject {
  void operator()(void* object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GDesktopAppInfo, UnrefObject>;

AppInfo FindEntry(std::string_view id) {
  if (!IsDesktopEntryId(id)) return nullptr;
  std::string file = std::string(id) + ".desktop";
  return AppInfo(g_desktop_app_info_new(file.c_str()));
}

Dictionary ApplicationDictionary(const std::string& id, pid_t pid) {
  Dictionary application;
  application.Set(kApplicationBundleIdentifierKey, id);
  std::string name = id;
  std::optional<std::string> path;
  if (AppInfo entry = FindEntry(id)) {
    if (const char* entry_name = g_app_info_get_name(G_APP_INFO(entry.get()))) name = entry_name;
    if (const char* file = g_desktop_app_info_get_filename(entry.get())) path = file;
  }
  application.Set(kApplicationNameKey, std::move(name));
  if (path) application.Set(kApplicationPathKey, std::move(*path));
  if (pid > 0) application.Set(kApplicationProcessIdentifierKey, Integer::FromSigned(pid));
  return application;
}

// Walks the calling user's processes in ascending order of pid and hands each one that has an
// application to visit(psn, id), until visit returns false.
template <typename Visit>
void WalkApplicationProcesses(Visit visit) {
  ProcessSerialNumber psn{kNoProcess, kNoProcess};
  while (GetNextProcess(&psn) == noErr) {
    std::optional<Dictionary> info =
        ProcessInformationCopyDictionary(&psn, kProcessDictionaryIncludeAllInformationMask);
    const Value* id = info ? info->Find(kProcessBundleIdentifierKey) : nullptr;
    if (id != nullptr && id->IsString() && !visit(psn, id->string())) return;
  }
}

}  // namespace

bool Workspace::launchAppWithBundleIdentifier(std::string_view id,
                                              NSWorkspaceLaunchOptions /*options*/,
                                              std::string* err) {
  if (!IsDesktopEntryId(id)) {
    *err = "\"" + std::string(id) + "\" is no application ID";
    return false;
  }
  AppInfo entry = FindEntry(id);
  if (!entry) {
    *err = "no application " + std::string(id) + " is installed";
    return false;
  }
  GAppLaunchContext* context = g_app_launch_context_new();
  GError* error = nullptr;
  bool launched = g_app_info_launch(G_APP_INFO(entry.get()), nullptr, context, &error);
  g_object_unref(context);
  if (!launched) {
    *err = error ? error->message : "the launch failed";
    if (error) g_error_free(error);
  }
  return launched;
}

std::optional<std::string> Workspace::absolutePathForAppBundleWithIdentifier(std::string_view id) {
  AppInfo entry = FindEntry(id);
  if (!entry) return std::nullopt;
  const char* file = g_desktop_app_info_get_filename(entry.get());
  if (file == nullptr) return std::nullopt;
  return std::string(file);
}

Array Workspace::launchedApplications() {
  std::vector<std::pair<std::string, pid_t>> found;  // in order of their lowest pids
  std::map<std::string, bool, std::less<>> seen;
  WalkApplicationProcesses([&](const ProcessSerialNumber& psn, const std::string& id) {
    if (seen.emplace(id, true).second) found.emplace_back(id, static_cast<pid_t>(psn.lowLongOfPSN));
    return true;
  });
  Array applications;
  for (const auto& [id, pid] : found) applications.emplace_back(ApplicationDictionary(id, pid));
  return applications;
}

std::optional<Dictionary> Workspace::activeApplication() {
  std::unique_ptr<XConnection> x = XConnection::Open();
  if (!x) return std::nullopt;
  std::optional<ActiveWindow> active = FindActiveWindow(*x);
  if (!active) return std::nullopt;
  if (active->pid && !ClientRunsHere(*x, active->window)) active->pid.reset();
  if (active->pid) {
    OwnedFd dir = OpenProcessFolder(*active->pid);
    if (dir.valid()) {
      if (std::optional<std::string> id = ProcessApplicationId(dir.get(), *active->pid)) {
        return ApplicationDictionary(*id, *active->pid);
      }
    }
  }
  if (active->application_id) {
    std::string id = *active->application_id;
    if (id.ends_with(".desktop")) id.resize(id.size() - 8);
    if (IsDesktopEntryId(id)) return ApplicationDictionary(id, active->pid.value_or(0));
  }
  return std::nullopt;
}

std::vector<ProcessSerialNumber> Workspace::processesOfApplication(std::string_view id,
                                                                   std::size_t most) {
  std::vector<ProcessSerialNumber> processes;
  if (most == 0 || !IsDesktopEntryId(id)) return processes;
  WalkApplicationProcesses([&](const ProcessSerialNumber& psn, const std::string& found) {
    if (found == id) processes.push_back(psn);
    return processes.size() < most;
  });
  return processes;
}

}  // namespace platform
