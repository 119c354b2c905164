#include "configtool/config_edits.h"

#include <malloc.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "configtool/grant_rules.h"
#include "configtool/text_file_edit.h"
#include "platform/files/edited_file.h"
#include "platform/files/io.h"
#include "platform/plist/file.h"
#include "platform/plist/value.h"
#include "platform/text/utf8.h"
#include "utility/qrb_array.h"

std::string configFile;
std::string paramName;
std::string newValue;
std::string oldValue;

namespace {

using configtool::EditResult;
using platform::Array;
using platform::Value;

constexpr char kInsecureFlag[] = "-i";
constexpr char kSecureFlag[] = "-s";
constexpr char kFixedMessage[] = "Fixed tftpd insecure mode";

// One line for standard error: a hostile path must not be able to start a second line.
std::string ErrorLine(std::string message) {
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = '?';
  }
  return "configtool: " + message + "\n";
}

// The file could not be edited and was left as it was; the run still counts as done.
EditResult LeftAlone(const char* out, const std::string& why) {
  return {out, ErrorLine(why + "; the file is left unchanged"), 0};
}

// A failure that keeps the edit from being made or saved: nothing on standard output.
EditResult Failed(const std::string& why) {
  return {"", ErrorLine(why), 1};
}

// A result a granted user may not have (grant_rules.h); nothing is written.
EditResult Refused(const std::string& why) {
  return Failed(configFile + ": refused: " + why + "; the file is left unchanged");
}

// What the property-list edits leave under the key, checked for a granted user.
std::string CheckDictEdit(const Value* value) {
  if (!configtool::forGrantedUser) return "";
  if (value == nullptr) return "no " + paramName + " in the file";
  return configtool::CheckProgramArguments(*value);
}

// How long a run waits for another process's lock on the file before it gives up: anyone who
// can read the file can lock it.
constexpr std::chrono::seconds kLockWait(10);

// The configuration file, opened once and locked against other runs for as long as it lives;
// nullopt on failure, with `result` holding what to report. A FIFO or device would block or
// never end: only a regular file (or a link to one) is edited.
std::optional<platform::EditedFile> OpenConfigFile(const char* unchanged_out, EditResult* result) {
  std::string err;
  platform::EditedFile::Failure failure;
  std::optional<platform::EditedFile> file =
      platform::EditedFile::Open(configFile, kLockWait, &failure, &err);
  if (!file) {
    *result = failure == platform::EditedFile::Failure::kUnusable ? LeftAlone(unchanged_out, err)
                                                                  : Failed(err);
  }
  return file;
}

// The property list's root dictionary, locked against other runs for as long as `file` lives;
// null on failure, with `result` holding what to report. The tree is kept until the process
// ends, on purpose: the run is over right after the edit, and taking a large property list
// apart value by value would cost more than the edit itself.
// A later call frees the earlier Value tree.
Value* ReadDictionary(const char* unchanged_out, std::optional<platform::EditedFile>* file,
                      EditResult* result) {
  static auto* loaded = new std::optional<Value>();
  loaded->reset();
  *file = OpenConfigFile(unchanged_out, result);
  if (!*file) return nullptr;
  // Blocks of up to 32 MiB (a binary file read whole, large arrays) come from the heap rather
  // than from mappings of their own, so that once freed their pages, already touched, take the
  // values that follow instead of going back to the kernel and faulting in again.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  std::string err;
  // Refused before it is read: a file that size is not worth reading only to refuse it.
  if (static_cast<std::uint64_t>((*file)->status().st_size) >= platform::kMaxPlistFileSize) {
    *result = LeftAlone(unchanged_out, configFile + ": the file is 4 GiB or larger");
    return nullptr;
  }
  // Read through the locked descriptor, an XML file a block at a time.
  std::string read_err;
  const platform::EditedFile& edited = **file;
  *loaded = platform::ReadPlistFrom(
      [&](std::uint64_t offset, char* buf, std::size_t size) {
        return edited.ReadAt(offset, buf, size, &read_err);
      },
      static_cast<std::uint64_t>(edited.status().st_size), &err,
      platform::ReaderTree::kKeepUntilExit);
  if (!*loaded) {
    // A file that is no property list is left alone, as the edit found it; a read that failed
    // or memory that ran out is the run's failure, not the file's.
    const bool failed = !read_err.empty() || err == platform::kPlistNoMemory;
    err = read_err.empty() ? configFile + ": " + err : read_err;
    *result = failed ? Failed(err + "; the file is left unchanged") : LeftAlone(unchanged_out, err);
    return nullptr;
  }
  if (!(*loaded)->IsDictionary()) {
    *result = LeftAlone(unchanged_out, configFile + ": the property list is not a dictionary");
    return nullptr;
  }
  return &**loaded;
}

// Replaces the file with the XML form of `root`, written a piece at a time as it is made.
bool WriteBack(platform::EditedFile* file, const Value& root, std::string* err) {
  return file->ReplaceBy(
      [&](int fd, std::string* why) {
        return platform::WritePlistXml(
            root, [&](std::string_view piece) { return platform::WriteAllBytes(fd, piece, why); });
      },
      err);
}

}  // namespace

EditResult ChangeTextFile() {
  // Read, edit and write under the lock so that concurrent runs do not lose each other's edit.
  EditResult result;
  std::optional<platform::EditedFile> file = OpenConfigFile("0", &result);
  if (!file) return result;
  std::string err;
  // The file is read in blocks and never held whole: only the lines edited are.
  const std::optional<configtool::TextFileEdit> edit = configtool::PlanTextFileEdit(
      [&](std::uint64_t offset, char* buf, std::size_t size) {
        return file->ReadAt(offset, buf, size, &err);
      },
      paramName, oldValue, newValue);
  if (!edit) return Failed(err + "; the file is left unchanged");  // a read failed
  if (!edit->utf8) return LeftAlone("0", configFile + ": not UTF-8 text");
  if (!edit->found) return {"0", "", 0};
  if (configtool::forGrantedUser) {
    std::string why =
        configtool::CheckEditedLine(paramName, edit->lines, edit->line_end == edit->size);
    if (!why.empty()) return Refused(why);
  }
  // The line was found: the file is written back even when nothing on it was replaced.
  if (!file->ReplaceSpliced(edit->line_start, edit->lines, edit->line_end, edit->size, &err))
    return Failed(err);
  return {std::to_string(edit->count), "", 0};
}

EditResult ChangeDictFile() {
  // The file is written as XML, which has no form for most control characters, U+FFFE, U+FFFF.
  if (!platform::IsPlistString(newValue))
    return Failed("newValue holds a character that a property list cannot carry");
  EditResult result;
  std::optional<platform::EditedFile> file;
  Value* root = ReadDictionary("0", &file, &result);
  if (root == nullptr) return result;

  bool changed = false;
  Value* value = root->dictionary().Find(paramName);
  if (value != nullptr && value->IsString()) {
    oldValue = value->string();
    if (oldValue != newValue) {
      *value = Value(newValue);
      changed = true;
    }
  }
  if (value != nullptr && value->IsArray()) {
    // Only the last element is replaced, and only when it is a string: the array keeps its
    // length and an array of other things is not ours to rewrite.
    Array& array = value->array();
    if (!array.empty() && array.back().IsString()) {
      oldValue = array.back().string();
      if (oldValue != newValue) {
        array.back() = Value(newValue);
        changed = true;
      }
    }
  }
  if (!changed) return {"0", "", 0};
  if (std::string why = CheckDictEdit(value); !why.empty()) return Refused(why);
  std::string err;
  if (!WriteBack(&*file, *root, &err)) return Failed(err);
  return {"1", "", 0};
}

EditResult FixInsecureMode() {
  EditResult result;
  std::optional<platform::EditedFile> file;
  Value* root = ReadDictionary("", &file, &result);
  if (root == nullptr) return result;

  Value* value = root->dictionary().Find(paramName);
  if (value == nullptr || !value->IsArray()) return {"", "", 0};
  Array& array = value->array();
  const Value* found = QRBArray::objectWithValue(array, Value(kInsecureFlag));
  if (found == nullptr) return {"", "", 0};
  oldValue = found->string();
  const std::optional<std::size_t> index = platform::IndexOf(array, *found);
  // Every "-i" goes; one "-s" takes the place of the first.
  std::erase(array, Value(kInsecureFlag));
  array.insert(array.begin() + static_cast<std::ptrdiff_t>(*index), Value(kSecureFlag));
  if (std::string why = CheckDictEdit(value); !why.empty()) return Refused(why);

  std::string err;
  if (!WriteBack(&*file, *root, &err)) return Failed(err);
  return {kFixedMessage, "", 0};
}
