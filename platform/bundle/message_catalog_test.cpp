#include "platform/bundle/message_catalog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "tests/desktop/desktop_testing.h"
#include "tests/test_support.h"

namespace platform {
namespace {

using desktop_testing::FindProgram;
using test_support::ReadFile;
using test_support::Run;
using test_support::TempDir;
using test_support::WriteFile;

// Compiles `po` with msgfmt, the catalogs' real writer, in the byte order given.
std::string Compiled(const TempDir& folder, const std::string& po, const std::string& endianness,
                     const std::string& charset = "UTF-8") {
  std::string msgfmt = FindProgram("msgfmt");
  if (msgfmt.empty()) return "";
  std::string header = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=" + charset +
                       "\\n\"\n\"Plural-Forms: nplurals=2; plural=(n != 1);\\n\"\n\n";
  std::string source = folder.File("catalog.po"), target = folder.File("catalog.mo");
  if (!WriteFile(source, header + po)) return "";
  if (Run({msgfmt, "--endianness=" + endianness, "-o", target, source}).status != 0) return "";
  return ReadFile(target);
}

constexpr char kPo[] =
    "msgid \"errInvalidRAEPwd\"\nmsgstr \"The password for %@ cannot hold a colon.\"\n"
    "msgid \"file\"\nmsgid_plural \"files\"\nmsgstr[0] \"Datei\"\nmsgstr[1] \"Dateien\"\n"
    "msgctxt \"menu\"\nmsgid \"Open\"\nmsgstr \"Öffnen (Menü)\"\n"
    "msgid \"Close\"\nmsgstr \"Schließen\"\n"
    "msgid \"untranslated\"\nmsgstr \"\"\n";

TEST(MessageCatalog, FindsWhatMsgfmtWroteInEitherByteOrder) {
  for (const char* endianness : {"little", "big"}) {
    SCOPED_TRACE(endianness);
    TempDir folder;
    std::string bytes = Compiled(folder, kPo, endianness);
    ASSERT_FALSE(bytes.empty()) << "msgfmt is missing or refused the catalog";
    std::string err;
    std::optional<MessageCatalog> catalog = MessageCatalog::Parse(bytes, &err);
    ASSERT_TRUE(catalog) << err;
    struct Case {
      std::string key;
      std::optional<std::string> text;
    } cases[] = {
        {"errInvalidRAEPwd", "The password for %@ cannot hold a colon."},
        {"file", "Datei"},  // a plural entry gives its first form
        {"files", std::nullopt},
        {"Close", "Schließen"},
        {"Open", std::nullopt},  // only with its context
        {"menu\x04Open", std::nullopt},
        {"untranslated", std::nullopt},  // msgfmt leaves it out
        {"", std::nullopt},              // never the header
        {"close", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(catalog->Find(c.key), c.text) << c.key;
    EXPECT_EQ(catalog->size(), 3u);
  }
}

TEST(MessageCatalog, RefusesWhatIsNoUsableCatalog) {
  TempDir folder;
  std::string good = Compiled(folder, kPo, "little");
  ASSERT_FALSE(good.empty());
  std::string latin1 = Compiled(folder,
                                "msgid \"Close\"\nmsgstr \"Schlie\xDF"
                                "en\"\n",
                                "little", "ISO-8859-1");
  ASSERT_FALSE(latin1.empty());
  // The originals' table (at word 3) moved past the end; a string's offset (the first entry's
  // second word) past the end; the revision's major number 2.
  std::string table_outside = good, string_outside = good, revision = good;
  table_outside[12] = '\xff';
  table_outside[13] = '\xff';
  std::uint32_t originals;
  std::memcpy(&originals, good.data() + 12, 4);
  string_outside[originals + 4 + 2] = '\x7f';
  revision[6] = 2;
  struct Case {
    const char* name;
    std::string bytes;
    std::string reason;
  } cases[] = {
      {"empty", "", "not a message catalog"},
      {"a header only", good.substr(0, 27), "not a message catalog"},
      {"text", std::string("msgid \"a\"\nmsgstr \"b\"\n") + std::string(40, ' '),
       "not a message catalog"},
      {"cut short", good.substr(0, good.size() / 2), "a string lies outside the catalog"},
      {"table outside", table_outside, "a string lies outside the catalog"},
      {"string outside", string_outside, "a string lies outside the catalog"},
      {"revision 2", revision, "an unknown catalog revision"},
      {"Latin-1", latin1, "its texts are in ISO-8859-1, not UTF-8"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_FALSE(MessageCatalog::Parse(c.bytes, &err)) << c.name;
    EXPECT_EQ(err, c.reason) << c.name;
  }
}

TEST(MessageCatalog, ReadsOnlyARegularFileOfBoundedSize) {
  TempDir folder;
  std::string good = Compiled(folder, kPo, "little");
  ASSERT_FALSE(good.empty());
  ASSERT_TRUE(WriteFile(folder.File("good.mo"), good));
  // Sparse: refused by its size before a byte is read.
  int fd = open(folder.File("huge.mo").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kMaxMessageCatalogSize) + 1), 0);
  close(fd);
  ASSERT_EQ(mkfifo(folder.File("fifo.mo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.File("folder.mo").c_str(), 0700), 0);
  struct Case {
    std::string name;
    bool read;
    std::string reason;  // the end of the reason
  } cases[] = {
      {"good.mo", true, ""},
      {"huge.mo", false, "larger than a message catalog may be"},
      {"fifo.mo", false, "not a regular file"},  // without waiting for a writer
      {"folder.mo", false, "Is a directory"},
      {"missing.mo", false, "No such file or directory"},
  };
  for (const Case& c : cases) {
    std::string err;
    std::optional<MessageCatalog> catalog = MessageCatalog::Read(folder.File(c.name), &err);
    EXPECT_EQ(catalog.has_value(), c.read) << c.name;
    if (c.read) {
      EXPECT_EQ(catalog->Find("Close"), "Schließen");
    } else {
      EXPECT_EQ(err.rfind(folder.File(c.name) + ": ", 0), 0u) << err;
      EXPECT_TRUE(err.ends_with(c.reason)) << err;
    }
  }
}

}  // namespace
}  // namespace platform
