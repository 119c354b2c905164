#include "launchctl/job.h"

namespace launchctl {
namespace {

using platform::Dictionary;
using platform::Value;

// Reads the keys of one dictionary, stopping at the first of the wrong type.
class Reader {
 public:
  Reader(const Dictionary& dict, std::string where, std::string* err)
      : dict_(dict), where_(std::move(where)), err_(err) {}

  bool ok() const { return ok_; }

  // Each leaves *out alone when the key is missing.
  void String(const char* key, std::optional<std::string>* out) {
    if (const Value* v = Get(key, Value::Kind::kString, "a string")) *out = v->string();
  }
  void Boolean(const char* key, bool* out) {
    if (const Value* v = Get(key, Value::Kind::kBoolean, "a boolean")) *out = v->boolean();
  }
  void Boolean(const char* key, std::optional<bool>* out) {
    if (const Value* v = Get(key, Value::Kind::kBoolean, "a boolean")) *out = v->boolean();
  }
  void Integer(const char* key, std::optional<std::int64_t>* out) {
    const Value* v = Get(key, Value::Kind::kInteger, "an integer");
    if (v == nullptr) return;
    if (!v->AsInteger()) Fail(key, "an integer of at most 2^63-1");
    *out = v->AsInteger();
  }
  void Strings(const char* key, std::vector<std::string>* out) {
    const Value* v = Get(key, Value::Kind::kArray, "an array of strings");
    if (v == nullptr) return;
    for (const Value& item : v->array()) {
      if (!item.IsString()) return Fail(key, "an array of strings");
      out->push_back(item.string());
    }
  }
  // The value under the key when it has the kind; null when missing or (after Fail) not.
  const Value* Get(const char* key, Value::Kind kind, const char* what) {
    if (!ok_) return nullptr;
    const Value* v = dict_.Find(key);
    if (v == nullptr) return nullptr;
    if (v->kind() != kind) {
      Fail(key, what);
      return nullptr;
    }
    return v;
  }
  void Fail(const std::string& key, const std::string& what) {
    if (!ok_) return;
    ok_ = false;
    *err_ = "The value of " + where_ + key + " is not " + what;
  }

 private:
  const Dictionary& dict_;
  std::string where_;  // "" or "Sockets:NAME:" for a listener
  std::string* err_;
  bool ok_ = true;
};

bool ReadListener(const std::string& name, const Value& v, Job* job, std::string* err) {
  if (!v.IsDictionary()) {
    *err = "The value of Sockets:" + name + " is not a dictionary or an array of dictionaries";
    return false;
  }
  Reader r(v.dictionary(), "Sockets:" + name + ":", err);
  Listener l;
  l.name = name;
  std::optional<std::string> type, node, family;
  r.String("SockType", &type);
  r.String("SockNodeName", &node);
  r.String("SockFamily", &family);
  r.Boolean("SockPassive", &l.passive);
  if (const Value* s = v.dictionary().Find("SockServiceName"); s != nullptr && r.ok()) {
    if (s->IsString()) {
      l.service = s->string();
    } else if (s->AsInteger()) {
      l.service = std::to_string(*s->AsInteger());
    } else {
      r.Fail("SockServiceName", "a string or an integer");
    }
  }
  if (!r.ok()) return false;
  if (type && *type != "stream" && *type != "dgram") {
    r.Fail("SockType", "\"stream\" or \"dgram\"");
    return false;
  }
  if (family && *family != "IPv4" && *family != "IPv6" && *family != "IPv4v6") {
    r.Fail("SockFamily", "\"IPv4\", \"IPv6\" or \"IPv4v6\"");
    return false;
  }
  l.datagram = type && *type == "dgram";
  l.node = node;
  l.family = family.value_or("");
  job->sockets.push_back(std::move(l));
  return true;
}

bool ReadSockets(const Value& v, Job* job, std::string* err) {
  if (!v.IsDictionary()) {
    *err = "The value of Sockets is not a dictionary";
    return false;
  }
  for (const auto& [name, listeners] : v.dictionary().entries()) {
    if (!listeners.IsArray()) {
      if (!ReadListener(name, listeners, job, err)) return false;
      continue;
    }
    for (const Value& one : listeners.array())
      if (!ReadListener(name, one, job, err)) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> LabelFromPlist(const platform::Value& root, std::string* err) {
  if (!root.IsDictionary()) {
    *err = "The job definition is not a dictionary";
    return std::nullopt;
  }
  Reader r(root.dictionary(), "", err);
  std::optional<std::string> label;
  r.String("Label", &label);
  if (!r.ok()) return std::nullopt;
  if (!label || label->empty()) {
    *err = "The job definition has no Label";
    return std::nullopt;
  }
  return label;
}

std::optional<Job> JobFromPlist(const platform::Value& root, std::string* err) {
  std::optional<std::string> label = LabelFromPlist(root, err);
  if (!label) return std::nullopt;
  const Dictionary& dict = root.dictionary();
  Job job;
  job.label = *label;
  Reader r(dict, "", err);
  r.String("Program", &job.program);
  r.Strings("ProgramArguments", &job.program_arguments);
  r.Boolean("Disabled", &job.disabled);
  r.Boolean("RunAtLoad", &job.run_at_load);
  r.Boolean("KeepAlive", &job.keep_alive);
  r.String("UserName", &job.user_name);
  r.String("GroupName", &job.group_name);
  r.Boolean("InitGroups", &job.init_groups);
  r.String("WorkingDirectory", &job.working_directory);
  r.String("RootDirectory", &job.root_directory);
  r.Integer("Umask", &job.umask);
  r.Integer("Nice", &job.nice);
  r.String("StandardInPath", &job.standard_in_path);
  r.String("StandardOutPath", &job.standard_out_path);
  r.String("StandardErrorPath", &job.standard_error_path);
  if (const Value* env = r.Get("EnvironmentVariables", Value::Kind::kDictionary, "a dictionary")) {
    for (const auto& [name, value] : env->dictionary().entries()) {
      if (!value.IsString()) {
        r.Fail("EnvironmentVariables:" + name, "a string");
        break;
      }
      job.environment.emplace_back(name, value.string());
    }
  }
  if (const Value* inetd = r.Get("inetdCompatibility", Value::Kind::kDictionary, "a dictionary")) {
    Reader ri(inetd->dictionary(), "inetdCompatibility:", err);
    bool wait = false;
    ri.Boolean("Wait", &wait);
    if (!ri.ok()) return std::nullopt;
    job.inetd_wait = wait;
  }
  if (!r.ok()) return std::nullopt;
  if (const Value* sockets = dict.Find("Sockets"))
    if (!ReadSockets(*sockets, &job, err)) return std::nullopt;
  return job;
}

}  // namespace launchctl
