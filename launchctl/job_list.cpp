#include "launchctl/job_list.h"

#include <algorithm>

namespace launchctl {
namespace {

// The value of a marker line `# KEY="VALUE"`, or nothing when the line is another.
std::optional<std::string> MarkerValue(const std::string& line, const std::string& key) {
  const std::string head = "# " + key + "=\"";
  if (!line.starts_with(head) || line.size() < head.size() + 1 || line.back() != '"')
    return std::nullopt;
  return line.substr(head.size(), line.size() - head.size() - 1);
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::optional<LoadedJob> ReadMarker(const std::string& unit_text) {
  if (!unit_text.starts_with(kMarker)) return std::nullopt;
  LoadedJob job;
  bool labelled = false;
  std::size_t start = unit_text.find('\n');
  while (start != std::string::npos && start + 1 < unit_text.size()) {
    const std::size_t end = unit_text.find('\n', start + 1);
    const std::string line = unit_text.substr(start + 1, end - start - 1);
    if (!line.starts_with("#")) break;  // the marker ends at the first line that is no comment
    if (auto v = MarkerValue(line, "Label")) {
      job.label = *v;
      labelled = true;
    } else if (auto d = MarkerValue(line, "Definition")) {
      job.definition = *d;
    } else if (auto p = MarkerValue(line, "Program")) {
      job.program = *p;
    } else if (auto a = MarkerValue(line, "Argument")) {
      job.arguments.push_back(*a);
    }
    start = end;
  }
  if (!labelled) return std::nullopt;
  if (job.program.empty() && !job.arguments.empty()) job.program = job.arguments.front();
  return job;
}

std::vector<LoadedJob> GroupByLabel(const std::vector<UnitFile>& units) {
  std::vector<LoadedJob> jobs;
  for (const UnitFile& unit : units) {
    std::optional<LoadedJob> read = ReadMarker(unit.text);
    if (!read) continue;
    auto it = std::find_if(jobs.begin(), jobs.end(),
                           [&](const LoadedJob& j) { return j.label == read->label; });
    if (it == jobs.end()) it = jobs.insert(jobs.end(), *read);
    if (std::find(it->units.begin(), it->units.end(), unit.name) == it->units.end())
      it->units.push_back(unit.name);
    if (unit.name.ends_with(".service")) it->service = unit.name;
  }
  std::sort(jobs.begin(), jobs.end(),
            [](const LoadedJob& a, const LoadedJob& b) { return a.label < b.label; });
  return jobs;
}

std::string DescribeJob(const LoadedJob& job, const JobState& state) {
  std::string out = "{\n";
  out += "\t\"Label\" = " + Quoted(job.label) + ";\n";
  out += "\t\"LastExitStatus\" = " + std::to_string(state.last_exit_status) + ";\n";
  if (state.pid) out += "\t\"PID\" = " + std::to_string(*state.pid) + ";\n";
  out += "\t\"Program\" = " + Quoted(job.program) + ";\n";
  if (!job.arguments.empty()) {
    out += "\t\"ProgramArguments\" = (\n";
    for (const std::string& a : job.arguments) out += "\t\t" + Quoted(a) + ";\n";
    out += "\t);\n";
  }
  return out + "};\n";
}

std::string ListLine(const LoadedJob& job, const JobState& state) {
  return (state.pid ? std::to_string(*state.pid) : "-") + "\t" +
         std::to_string(state.last_exit_status) + "\t" + job.label + "\n";
}

}  // namespace launchctl
