#include "tftp-controller/service/service_file.h"

#include <libintl.h>

#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/files/io.h"
#include "platform/text/string_format.h"
#include "tftp-controller/service/say.h"

#define _(s) gettext(s)

namespace tftpc {

namespace {

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

struct Attribute {
  std::string_view name, op, value;
};

// `name = value`, `name += value` or `name -= value`; nothing for another line.
std::optional<Attribute> AttributeOf(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos || equals == 0) return std::nullopt;
  std::size_t name_end = equals;
  std::string_view op = "=";
  if (line[equals - 1] == '+' || line[equals - 1] == '-') {
    op = line.substr(equals - 1, 2);
    --name_end;
  }
  Attribute attribute{Trim(line.substr(0, name_end)), op, Trim(line.substr(equals + 1))};
  if (attribute.name.empty() || attribute.name.find_first_of(" \t") != std::string_view::npos)
    return std::nullopt;
  return attribute;
}

}  // namespace

ServiceDefinition ReadServiceDefinition(const std::string& path) {
  ServiceDefinition definition;
  std::string err;
  const std::optional<std::string> text = platform::ReadWholeFile(path, &err);
  if (!text) {
    definition.problem = err;
    return definition;
  }
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < text->size();) {
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    std::string_view line(text->data() + at, end - at);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    at = end + 1;
  }

  enum { kOutside, kHeader, kOurs, kOther } state = kOutside;
  std::optional<std::size_t> args_line, disable_line;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    if (line.empty() || line[0] == '#') continue;
    if (state == kOutside && line.starts_with("service") &&
        (line.size() == 7 || line[7] == ' ' || line[7] == '\t')) {
      std::string_view rest = Trim(line.substr(7));
      const bool brace = rest.ends_with('{');
      if (brace) rest = Trim(rest.substr(0, rest.size() - 1));
      const bool ours = !definition.found && rest == "tftp";
      if (ours) definition.found = true;
      state = brace ? (ours ? kOurs : kOther) : (ours ? kHeader : kOther);
      continue;
    }
    if (line == "{") {
      if (state == kHeader) state = kOurs;
      continue;
    }
    if (line == "}") {
      state = kOutside;
      continue;
    }
    if (state != kOurs) continue;
    const std::optional<Attribute> attribute = AttributeOf(line);
    if (!attribute) continue;
    const bool args = attribute->name == "server_args", disable = attribute->name == "disable";
    if ((args || disable) && attribute->op != "=") {
      if (definition.problem.empty())
        definition.problem = Say(_("%@ has \"%@ %@\", which the controller does not follow; "
                                   "give the whole value after \"=\" instead."),
                                 {path, std::string(attribute->name), std::string(attribute->op)});
      continue;
    }
    if (args && !args_line) {
      args_line = i;
      definition.server_args = std::string(attribute->value);
    } else if (disable && !disable_line) {
      disable_line = i;
      definition.disabled = attribute->value != "no";
    } else if (attribute->name == "port") {
      unsigned port = 0;
      const std::string_view v = attribute->value;
      if (std::from_chars(v.data(), v.data() + v.size(), port).ptr == v.data() + v.size() &&
          port > 0 && port < 65536)
        definition.port = port;
    } else if (attribute->name == "bind" || attribute->name == "interface") {
      definition.bind = std::string(attribute->value);
    }
  }
  if (!disable_line) definition.disabled = !definition.found;
  if (!definition.problem.empty()) return definition;

  // configtool changes the first line that mentions the name, wherever it stands.
  auto first_mention = [&lines](std::string_view name) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].find(name) != std::string_view::npos) return i;
    return std::nullopt;
  };
  if (!definition.found) {
    definition.problem = Say(_("%@ holds no service named tftp."), {path});
  } else if (!args_line || definition.server_args.empty()) {
    definition.problem =
        Say(_("The tftp service in %@ has no server_args value to change."), {path});
  } else if (!disable_line) {
    definition.problem = Say(_("The tftp service in %@ has no disable line to change."), {path});
  } else {
    std::optional<std::size_t> at;
    for (auto [name, own] : {std::pair{"server_args", args_line}, {"disable", disable_line}}) {
      const std::optional<std::size_t> first = first_mention(name);
      if (first != own && (!at || *first < *at)) at = first;
    }
    if (at)
      definition.problem = Say(_("Line %@ of %@ mentions a setting of the tftp service before "
                                 "the service does; the controller would change that line. "
                                 "Remove it."),
                               {std::to_string(*at + 1), path});
  }
  return definition;
}

bool OptionsOfDefinition(const ServiceDefinition& definition, ServerOptions* options,
                         std::vector<std::string>* unknown, std::string* err) {
  const bool read = ParseServerArgs(definition.server_args, options, unknown, err);
  options->listen_address = definition.bind == "0.0.0.0" ? "" : definition.bind;
  return read;
}

}  // namespace tftpc
