#include "platform/bundle/bundle.h"

#include <fcntl.h>
#include <libintl.h>
#include <sys/stat.h>

#include <map>
#include <mutex>

#include "platform/bundle/message_catalog.h"
#include "platform/files/path_steps.h"
#include "platform/plist/file.h"

namespace platform {

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A name that stays inside the folder it is looked up in.
bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::string ExecutablePath() {
  std::string buffer = ReadLinkAt(AT_FDCWD, "/proc/self/exe");
  constexpr std::string_view kDeleted = " (deleted)";
  if (buffer.ends_with(kDeleted)) buffer.resize(buffer.size() - kDeleted.size());
  return buffer;
}

// The main bundle and the folder a host named, shared by all threads.
std::mutex main_mutex;
std::shared_ptr<const Bundle> main_bundle;
std::string named_folder;

// gettext binds a text domain to one folder for the whole process.
std::mutex gettext_mutex;

// The key of a bundle's info dictionary naming its development region.
constexpr std::string_view kDevelopmentRegionKey = "CFBundleDevelopmentRegion";
constexpr std::string_view kDefaultDevelopmentRegion = "en";

}  // namespace

// The development language's catalogs by text domain (nullopt: none usable), each read once.
struct Bundle::DevelopmentCatalogs {
  std::mutex mutex;
  std::map<std::string, std::optional<MessageCatalog>, std::less<>> by_domain;
};

Bundle::Bundle(std::string folder)
    : folder_(std::move(folder)), development_(std::make_shared<DevelopmentCatalogs>()) {
  std::string path = folder_ + "/Info.plist";
  struct stat st;
  if (stat(path.c_str(), &st) != 0 && errno == ENOENT) return;
  std::string err;
  std::optional<Value> root = ReadPlistFile(path, &err);
  if (!root) {
    info_error_ = path + ": " + err;
  } else if (!root->IsDictionary()) {
    info_error_ = path + ": the root is not a dictionary";
  } else {
    info_ = std::move(root->dictionary());
  }
}

std::string Bundle::resourcePath() const {
  return folder_ + "/Resources";
}

const Value* Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  return info_.Find(key);
}

std::optional<std::string> Bundle::infoString(std::string_view key) const {
  const Value* v = info_.Find(key);
  if (!v || !v->IsString()) return std::nullopt;
  return v->string();
}

std::optional<std::string> Bundle::pathForResource(std::string_view name,
                                                   std::string_view type) const {
  std::string file(name);
  if (!type.empty()) {
    if (type.front() == '.') type.remove_prefix(1);
    file += '.';
    file += type;
  }
  if (!IsPlainFileName(name) || !IsPlainFileName(file)) return std::nullopt;
  std::string path = resourcePath() + "/" + file;
  if (!IsRegularFile(path)) return std::nullopt;
  return path;
}

std::string Bundle::localizedStringForKey(std::string_view key, std::string_view value,
                                          std::string_view table) const {
  std::string fallback(value.empty() ? key : value);
  std::string domain(table.empty() ? kDefaultStringsTable : table);
  // An empty key would fetch the catalog's header entry.
  if (key.empty() || key.find('\0') != std::string_view::npos || !IsPlainFileName(domain)) {
    return fallback;
  }
  std::string folder = folder_ + "/locale";
  std::string msgid(key);
  std::lock_guard<std::mutex> lock(gettext_mutex);
  const char* bound = bindtextdomain(domain.c_str(), nullptr);
  if (bound == nullptr || folder != bound) bindtextdomain(domain.c_str(), folder.c_str());
  bind_textdomain_codeset(domain.c_str(), "UTF-8");
  const char* text = dgettext(domain.c_str(), msgid.c_str());
  // gettext hands back the key itself when no catalog of the locale holds it.
  if (text != nullptr && text != msgid.c_str()) return text;
  return developmentText(domain, key).value_or(fallback);
}

std::string Bundle::developmentRegion() const {
  std::optional<std::string> region = infoString(kDevelopmentRegionKey);
  if (!region || region->empty()) return std::string(kDefaultDevelopmentRegion);
  return *region;
}

std::optional<std::string> Bundle::developmentText(const std::string& domain,
                                                   std::string_view key) const {
  std::lock_guard<std::mutex> lock(development_->mutex);
  auto it = development_->by_domain.find(domain);
  if (it == development_->by_domain.end()) {
    std::string region = developmentRegion();
    std::string underscored = region;
    for (char& c : underscored) c = c == '-' ? '_' : c;
    std::string language = region.substr(0, region.find_first_of("_-.@"));
    std::optional<MessageCatalog> catalog;
    for (const std::string& name : {region, underscored, language}) {
      if (!IsPlainFileName(name)) continue;
      std::string path = folder_ + "/locale/" + name + "/LC_MESSAGES/" + domain + ".mo";
      if (!IsRegularFile(path)) continue;
      // A catalog that cannot be used is passed over, as gettext passes over one.
      catalog = MessageCatalog::Read(path, nullptr);
      if (catalog) break;
    }
    it = development_->by_domain.emplace(domain, std::move(catalog)).first;
  }
  if (!it->second) return std::nullopt;
  return it->second->Find(key);
}

std::string MainBundleFolderFor(const std::string& executable) {
  auto [folder, name] = SplitPath(executable);
  auto [prefix, base] = SplitPath(folder);
  if (base == "bin" || base == "sbin") {
    std::string shared = prefix == "/" ? std::string() : prefix;
    shared += "/share/" + name;
    if (IsRegularFile(shared + "/Info.plist")) return shared;
  }
  return folder;
}

std::shared_ptr<const Bundle> MainBundle() {
  std::lock_guard<std::mutex> lock(main_mutex);
  if (!main_bundle) {
    std::string folder =
        named_folder.empty() ? MainBundleFolderFor(ExecutablePath()) : named_folder;
    main_bundle = std::make_shared<const Bundle>(std::move(folder));
  }
  return main_bundle;
}

void SetMainBundlePath(std::string folder) {
  std::lock_guard<std::mutex> lock(main_mutex);
  named_folder = std::move(folder);
  main_bundle.reset();
}

}  // namespace platform
