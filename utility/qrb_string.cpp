#include "utility/qrb_string.h"

#include <openssl/evp.h>

#include <cstring>

#include "platform/files/io.h"
#include "platform/text/mac_roman.h"
#include "platform/text/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

std::int32_t MacOSXVersion = 0;

namespace QRBString {
namespace {

// Versions above this one (10.3.15) read and write through the strict UTF-8 path.
constexpr std::int32_t kNewerFileCalls = 0x103F;

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LittleMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigMark = "\xFE\xFF";

std::optional<std::string> Utf8Contents(std::string bytes, const std::string& path,
                                        std::string* err) {
  if (bytes.starts_with(kUtf8Mark)) bytes.erase(0, kUtf8Mark.size());
  if (!platform::IsValidUtf8(bytes)) {
    if (err) *err = path + ": not UTF-8 text";
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::string> Utf16Contents(std::string_view bytes, bool big_endian,
                                         const std::string& path, std::string* err) {
  auto text = platform::Utf16ToUtf8(bytes.substr(2), big_endian);
  if (!text && err) *err = path + ": not UTF-16 text";
  return text;
}

// The first byte at or after `p` that may begin a line terminator: LF, CR, or the lead bytes
// of U+0085 (C2 85) and of U+2028 / U+2029 (E2 80 A8 / A9). `end` when there is none.
const char* NextTerminatorCandidate(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i c2 = _mm_set1_epi8(static_cast<char>(0xC2));
  const __m128i e2 = _mm_set1_epi8(static_cast<char>(0xE2));
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                _mm_or_si128(_mm_cmpeq_epi8(v, c2), _mm_cmpeq_epi8(v, e2)));
    if (int mask = _mm_movemask_epi8(hits)) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\n' || c == '\r' || c == 0xC2 || c == 0xE2) return p;
  }
  return end;
}

// The length of the line terminator at `p` (a candidate), or 0 when there is none.
std::size_t TerminatorLength(const char* p, const char* end) {
  auto at = [&](std::size_t i) { return p + i < end ? static_cast<unsigned char>(p[i]) : 0; };
  switch (at(0)) {
    case '\n':
      return 1;
    case '\r':
      return at(1) == '\n' ? 2 : 1;
    case 0xC2:
      return at(1) == 0x85 ? 2 : 0;
    default:  // 0xE2
      return at(1) == 0x80 && (at(2) == 0xA8 || at(2) == 0xA9) ? 3 : 0;
  }
}

}  // namespace

std::optional<std::string> stringReadingFromFile(const std::string& path, std::string* err) {
  std::optional<std::string> bytes = platform::ReadWholeFile(path, err);
  if (!bytes) return std::nullopt;
  if (MacOSXVersion <= kNewerFileCalls) {
    if (bytes->starts_with(kUtf16LittleMark)) return Utf16Contents(*bytes, false, path, err);
    if (bytes->starts_with(kUtf16BigMark)) return Utf16Contents(*bytes, true, path, err);
  }
  return Utf8Contents(std::move(*bytes), path, err);
}

bool writeToPath(const std::string& s, const std::string& path, std::string* err) {
  // Both version paths write UTF-8; only reading differs.
  if (!platform::IsValidUtf8(s)) {
    if (err) *err = path + ": the text is not UTF-8";
    return false;
  }
  return platform::ReplaceFileAtomically(path, s, err);
}

std::optional<std::string> macDecodedString(const std::string& s) {
  std::optional<std::string> roman = platform::Utf8ToMacRoman(s);
  if (!roman || !platform::IsValidUtf8(*roman)) return std::nullopt;
  return roman;
}

std::optional<std::string> macEncodedString(const std::string& s) {
  if (!platform::IsValidUtf8(s)) return std::nullopt;
  return platform::MacRomanToUtf8(s);
}

std::string md5Hash(const std::string& s) {
  const void* zero = std::memchr(s.data(), 0, s.size());
  std::size_t length = zero ? static_cast<const char*>(zero) - s.data() : s.size();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_length = 0;
  if (EVP_Digest(s.data(), length, digest, &digest_length, EVP_md5(), nullptr) != 1 ||
      digest_length != 16) {
    return {};
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(32);
  for (unsigned i = 0; i < digest_length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 0xF]);
  }
  return hex;
}

std::string stringByDeletingFirstPathComponent(const std::string& s) {
  std::vector<std::string_view> components;
  for (std::size_t pos = 0; pos < s.size();) {
    std::size_t slash = s.find('/', pos);
    if (slash == std::string::npos) slash = s.size();
    if (slash > pos) components.emplace_back(s.data() + pos, slash - pos);
    pos = slash + 1;
  }
  if (components.size() < 2) return s;
  std::string out = s.front() == '/' ? "/" : "";
  out.reserve(s.size());
  for (std::size_t i = 1; i < components.size(); ++i) {
    if (i > 1) out.push_back('/');
    out.append(components[i]);
  }
  if (s.back() == '/') out.push_back('/');
  return out;
}

std::vector<std::string> componentsSeparatedByLineSeparators(std::string_view s) {
  std::vector<std::string> lines;
  if (s.empty()) return lines;
  const char* end = s.data() + s.size();
  const char* line = s.data();
  for (const char* p = line;;) {
    p = NextTerminatorCandidate(p, end);
    if (p == end) break;
    std::size_t length = TerminatorLength(p, end);
    if (length == 0) {
      ++p;
      continue;
    }
    lines.emplace_back(line, p - line);
    p += length;
    line = p;
  }
  lines.emplace_back(line, end - line);
  return lines;
}

}  // namespace QRBString
