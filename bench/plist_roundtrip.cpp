// libplist's own round trip of a property list: read (XML or binary), write as XML.
//   plist_roundtrip INPUT [OUTPUT]     (OUTPUT defaults to INPUT, replaced in place)
// The baseline against which configtool's edit of a large property list is timed
// (bench/compare-configtool.sh).
#include <plist/plist.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool ReadAll(const char* path, std::string* out) {
  FILE* f = std::fopen(path, "rbe");
  if (f == nullptr) return false;
  char buf[1 << 16];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out->append(buf, n);
  bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

bool WriteAll(const char* path, const char* data, std::size_t size) {
  FILE* f = std::fopen(path, "wbe");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s INPUT [OUTPUT]\n", argv[0]);
    return 2;
  }
  const char* out_path = argc == 3 ? argv[2] : argv[1];
  std::string in;
  if (!ReadAll(argv[1], &in) || in.size() > UINT32_MAX) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  plist_t root = nullptr;
  plist_from_memory(in.data(), static_cast<std::uint32_t>(in.size()), &root);
  if (root == nullptr) {
    std::fprintf(stderr, "%s: not a property list\n", argv[1]);
    return 1;
  }
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(root, &xml, &length);
  plist_free(root);
  bool ok = xml != nullptr && WriteAll(out_path, xml, length);
  std::free(xml);
  if (!ok) {
    std::fprintf(stderr, "%s: cannot write\n", out_path);
    return 1;
  }
  return 0;
}
