// configtool's property-list edit judged by readers nobody here wrote: every file it writes must
// read the same in Python's plistlib and pass xmllint; every file it refuses stays byte for byte.
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/test_support.h"

namespace {

using test_support::ReadFile;
using test_support::RunResult;
using test_support::WriteFile;

// The value of "Label" and, as Python's repr, the rest of the dictionary; or "unreadable".
constexpr char kPlistlibReads[] =
    "import plistlib, sys\n"
    "try:\n"
    "    d = plistlib.load(open(sys.argv[1], 'rb'))\n"
    "    print(repr(d.pop('Label', None)), repr(d), end='')\n"
    "except Exception:\n"
    "    print('unreadable', end='')\n";
// Writes the dictionary that argv[2] spells in Python as a binary property list.
constexpr char kBinaryFrom[] =
    "import datetime, plistlib, sys\n"
    "plistlib.dump(eval(sys.argv[2]), open(sys.argv[1], 'wb'), fmt=plistlib.FMT_BINARY,\n"
    "              sort_keys=False)\n";

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// An XML property list whose dictionary holds "Label" = "old" and then `rest`.
std::string Xml(const std::string& rest, const std::string& declaration = kDeclaration) {
  return declaration + "<plist version=\"1.0\"><dict><key>Label</key><string>old</string>" + rest +
         "</dict></plist>\n";
}

struct Case {
  std::string what;
  std::string input;   // the file; for a binary list, the Python dictionary it is made from
  std::string before;  // plistlib's reading of the rest (see kPlistlibReads) before the edit
  std::string after;   // and after; for a refused file, the reason in configtool's message
};

class ConfigtoolPlistReaders : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"/usr/bin/python3", "/usr/bin/xmllint"})
      if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is needed (python3, libxml2-utils)";
  }
  // Writes the case's file.
  void Make(const Case& c) {
    if (!c.input.starts_with("{")) {
      WriteFile(file_, c.input);
      return;
    }
    RunResult r = test_support::Run({"/usr/bin/python3", "-c", kBinaryFrom, file_, c.input});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  std::string Plistlib() {
    return test_support::Run({"/usr/bin/python3", "-c", kPlistlibReads, file_}).out;
  }
  RunResult Edit() { return test_support::Run({CONFIGTOOL_PATH, file_, "Label", "new"}); }

  test_support::TempDir dir_;
  const std::string file_ = dir_.File("tftp.plist");
};

TEST_F(ConfigtoolPlistReaders, WrittenFilesReadTheSameElsewhere) {
  const Case cases[] = {
      {"CR LF in text", Xml("<key>k</key><string>a\r\nb</string>"), "{'k': 'a\\nb'}",
       "{'k': 'a\\nb'}"},
      {"a lone CR", Xml("<key>k</key><string>a\rb</string>"), "{'k': 'a\\nb'}", "{'k': 'a\\nb'}"},
      {"CR LF in a key", Xml("<key>k\r\n</key><string>v</string>"), "{'k\\n': 'v'}",
       "{'k\\n': 'v'}"},
      {"CR in CDATA", Xml("<key>k</key><string><![CDATA[a\r\nb]]></string>"), "{'k': 'a\\nb'}",
       "{'k': 'a\\nb'}"},
      {"a CR written as a reference", Xml("<key>k</key><string>a&#13;&#xD;b</string>"),
       "{'k': 'a\\r\\rb'}", "{'k': 'a\\r\\rb'}"},
      {"a CR from a binary list", "{'Label': 'old', 'k': 'a\\r\\nb'}", "{'k': 'a\\r\\nb'}",
       "{'k': 'a\\r\\nb'}"},
      {"a comment in a string", Xml("<key>k</key><string>a<!--c-->b</string>"), "{'k': 'ab'}",
       "{'k': 'ab'}"},
      {"a processing instruction in a key", Xml("<key>k<?p x?>2</key><string>v</string>"),
       "{'k2': 'v'}", "{'k2': 'v'}"},
      {"markup in numbers and data",
       Xml("<key>i</key><integer>1<!--c-->2</integer><key>r</key><real>1.<?p?>5</real>"
           "<key>t</key><date>2001-01-01T00:00:00<!---->Z</date><key>d</key>"
           "<data>QU<!--c-->JD&#13;</data><key>n</key><integer>&#52;2</integer>"),
       "{'i': 12, 'r': 1.5, 't': datetime.datetime(2001, 1, 1, 0, 0), 'd': b'ABC', 'n': 42}",
       "{'i': 12, 'r': 1.5, 't': datetime.datetime(2001, 1, 1, 0, 0), 'd': b'ABC', 'n': 42}"},
      {"US-ASCII",
       Xml("<key>k</key><string>&#xE9;]]&gt;</string>",
           "<?xml version='1.0' encoding='US-ASCII' standalone='yes'?>"),
       "{'k': '\xC3\xA9]]>'}", "{'k': '\xC3\xA9]]>'}"},
      // Whole seconds, rounded down: a fraction makes the file unreadable to other readers.
      {"a fraction of a second in XML", Xml("<key>t</key><date>2001-01-01T12:00:00.5Z</date>"),
       "unreadable", "{'t': datetime.datetime(2001, 1, 1, 12, 0)}"},
      {"a fraction of a second from a binary list",
       "{'Label': 'old', 't': datetime.datetime(1999, 12, 31, 23, 59, 59, 500000)}",
       "{'t': datetime.datetime(1999, 12, 31, 23, 59, 59, 500000)}",
       "{'t': datetime.datetime(1999, 12, 31, 23, 59, 59)}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Make(c);
    const std::string before = Plistlib();
    EXPECT_EQ(before, c.before == "unreadable" ? c.before : "'old' " + c.before);
    RunResult r = Edit();
    EXPECT_EQ(r.out + r.err, "1");
    EXPECT_EQ(Plistlib(), "'new' " + c.after);
    RunResult lint = test_support::Run({"/usr/bin/xmllint", "--noout", file_});
    EXPECT_EQ(lint.status, 0) << lint.err;
  }
}

TEST_F(ConfigtoolPlistReaders, RefusedFilesAreLeftAsTheyAre) {
  const std::string binary = "configtool: " + file_ + ": not a valid property list: ";
  const Case cases[] = {
      {"a control character from a binary list", "{'Label': 'old', 'k': 'a\\x01b'}", "",
       "a string holding U+0001, a character XML cannot carry"},
      {"a control character in a binary key", "{'Label': 'old', 'k\\x1f': 'v'}", "",
       "a string holding U+001F, a character XML cannot carry"},
      {"U+FFFE from a binary list", "{'Label': 'old', 'k': '\\ufffe'}", "",
       "a string holding U+FFFE, a character XML cannot carry"},
      {"a raw control character", Xml("<key>k</key><string>\x01</string>"), "",
       "the character U+0001, which XML does not allow (line 2)"},
      {"a reference to one", Xml("<key>k</key><string>&#x1;</string>"), "",
       "a reference to U+0001, a character XML does not allow (line 2)"},
      {"one in a key", Xml("<key>&#8;</key><string>v</string>"), "",
       "a reference to U+0008, a character XML does not allow (line 2)"},
      {"U+FFFE", Xml("<key>k</key><string>&#xFFFE;</string>"), "",
       "a reference to U+FFFE, a character XML does not allow (line 2)"},
      {"text after </plist>", Xml("") + "\ntext", "",
       "text after the end of the property list (line 4)"},
      {"]]> in text", Xml("<key>k</key><string>a]]>b</string>"), "", "\"]]>\" in text (line 2)"},
      {"-- in a comment", Xml("<!-- a -- b -->"), "", "\"--\" inside a comment (line 2)"},
      {"space before the declaration", " " + Xml(""), "",
       "an XML declaration that is not at the start of the file (line 1)"},
      {"a comment before it", "<!---->" + Xml(""), "",
       "an XML declaration that is not at the start of the file (line 1)"},
      {"two declarations", kDeclaration + Xml(""), "",
       "an XML declaration that is not at the start of the file (line 2)"},
      {"a declaration later on", Xml("<?xml version=\"1.0\"?>"), "",
       "an XML declaration that is not at the start of the file (line 2)"},
      {"a repeated attribute", "<plist version=\"1\" version=\"1\"><dict/></plist>", "",
       "the attribute version given twice (line 1)"},
      {"&#X41;", Xml("<key>k</key><string>&#X41;</string>"), "",
       "the reference &#X41; (hexadecimal ones begin with a lower-case x) (line 2)"},
      {"an unknown standalone", Xml("", "<?xml version=\"1.0\" standalone=\"maybe\"?>\n"), "",
       "malformed XML declaration: standalone is neither \"yes\" nor \"no\" (line 1)"},
      {"US-ASCII that is not",
       Xml("<key>k</key><string>\xC3\xA9</string>",
           "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n"),
       "", "a byte that is not ASCII in a file declared US-ASCII (line 2)"},
      {"a bare &", Xml("<key>k</key><string>a & b</string>"), "",
       "an '&' that starts no reference (write it as &amp;) (line 2)"},
      {"UTF-16", std::string("\xFF\xFE<\0?\0x\0m\0l\0", 12), "",
       "the file is in UTF-16 (only UTF-8 is read) (line 1)"},
      {"a value without a key", Xml("<string>v</string>"), "", "a value without a key (line 2)"},
      {"two values in <plist>", "<plist>\n<dict/>\n<dict/></plist>", "",
       "more than one value in <plist> (line 3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Make(c);
    const std::string before = ReadFile(file_);
    RunResult r = Edit();
    EXPECT_EQ(r.out, "0");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, binary + c.after + "; the file is left unchanged\n");
    EXPECT_EQ(ReadFile(file_), before);
  }
}

}  // namespace
