// Writing a property list as XML in the usual layout. An explicit stack instead of recursion, so
// that no nesting depth can exhaust the call stack.
#include <vector>

#include "platform/plist/file.h"
#include "platform/plist/scalar_text.h"
#include "platform/plist/xml_text.h"

namespace platform {

namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr std::string_view kFooter = "</plist>\n";

// Walks a tree depth first without recursion: `visit(value, depth)` for every value, `key(text,
// depth)` before each dictionary value, `close(container, depth)` after a container's last value.
template <typename Visit, typename Key, typename Close>
void Walk(const Value& root, Visit visit, Key key, Close close) {
  struct Open {
    const Value* value;
    std::size_t next;
  };
  std::vector<Open> stack;
  auto begin = [&](const Value& v, std::size_t depth) {
    visit(v, depth);
    if ((v.IsArray() && !v.array().empty()) || (v.IsDictionary() && !v.dictionary().empty()))
      stack.push_back({&v, 0});
  };
  begin(root, 0);
  while (!stack.empty()) {
    Open& top = stack.back();
    const std::size_t depth = stack.size();
    if (top.value->IsArray() && top.next < top.value->array().size()) {
      begin(top.value->array()[top.next++], depth);
    } else if (top.value->IsDictionary() && top.next < top.value->dictionary().size()) {
      const auto& [k, v] = top.value->dictionary().entries()[top.next++];
      key(k, depth);
      begin(v, depth);
    } else {
      const Value* done = top.value;
      stack.pop_back();
      close(*done, depth - 1);
    }
  }
}

// The size of the XML form, exact but for escaped characters (counted as one) and long
// fractions of dates: enough to make room once for almost every file.
std::size_t EstimatedSize(const Value& root) {
  std::size_t n = kHeader.size() + kFooter.size();
  Walk(
      root,
      [&](const Value& v, std::size_t depth) {
        n += depth + 20;  // indentation, tags, line end
        switch (v.kind()) {
          case Value::Kind::kString:
            n += v.string().size();
            break;
          case Value::Kind::kData: {
            std::size_t groups = (v.data().bytes.size() + 2) / 3;
            n += groups * 4 + (groups / 8 + 2) * (depth + 1) + depth;
            break;
          }
          case Value::Kind::kInteger:
          case Value::Kind::kReal:
          case Value::Kind::kDate:
            n += 24;
            break;
          default:
            break;
        }
      },
      [&](const std::string& k, std::size_t depth) { n += depth + 12 + k.size(); },
      [&](const Value&, std::size_t depth) { n += depth + 9; });
  return n;
}

class XmlWriter {
 public:
  // With a sink, the text goes to it in pieces of about kPiece bytes as it is made.
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  explicit XmlWriter(std::string* out, const XmlSink* sink = nullptr) : out_(out), sink_(sink) {}

  bool Write(const Value& root) {
    Walk(
        root,
        [this](const Value& v, std::size_t depth) {
          Begin(v, depth);
          Flush(kPiece);
        },
        [this](const std::string& key, std::size_t depth) {
          Indent(depth);
          out_->append("<key>");
          AppendEscaped(key);
          out_->append("</key>\n");
        },
        [this](const Value& v, std::size_t depth) {
          Indent(depth);
          out_->append(v.IsArray() ? "</array>\n" : "</dict>\n");
        });
    return ok_;
  }

  // Hands what was made to the sink once it holds at least `at_least` bytes.
  void Flush(std::size_t at_least) {
    if (sink_ == nullptr || out_->size() < at_least || out_->empty()) return;
    ok_ = ok_ && (*sink_)(*out_);
    out_->clear();
  }

 private:
  void Indent(std::size_t n) { out_->append(n, '\t'); }

  void AppendEscaped(std::string_view s) { plist_text::AppendEscaped(s, out_); }

  // Writes a scalar or an empty container whole, or the opening tag of a container.
  void Begin(const Value& v, std::size_t indent) {
    Indent(indent);
    switch (v.kind()) {
      case Value::Kind::kString:
        out_->append("<string>");
        AppendEscaped(v.string());
        out_->append("</string>\n");
        return;
      case Value::Kind::kInteger:
        out_->append("<integer>");
        plist_text::AppendInteger(v.integer(), out_);
        out_->append("</integer>\n");
        return;
      case Value::Kind::kReal:
        out_->append("<real>");
        plist_text::AppendReal(v.real(), out_);
        out_->append("</real>\n");
        return;
      case Value::Kind::kDate:
        out_->append("<date>");
        plist_text::AppendDate(v.date().seconds_since_2001, out_);
        out_->append("</date>\n");
        return;
      case Value::Kind::kBoolean:
        out_->append(v.boolean() ? "<true/>\n" : "<false/>\n");
        return;
      case Value::Kind::kData: {
        out_->append("<data>\n");
        // Lines of 76 characters, less 8 for each level of indentation.
        std::size_t line = indent * 8 + 16 < 76 ? (76 - indent * 8) / 4 * 4 : 16;
        tabs_.assign(indent, '\t');
        plist_text::AppendBase64Lines(v.data().bytes, line, tabs_, out_);
        Indent(indent);
        out_->append("</data>\n");
        return;
      }
      case Value::Kind::kArray:
        out_->append(v.array().empty() ? "<array/>\n" : "<array>\n");
        return;
      case Value::Kind::kDictionary:
        out_->append(v.dictionary().empty() ? "<dict/>\n" : "<dict>\n");
        return;
    }
  }

  std::string* out_;
  const XmlSink* sink_;
  bool ok_ = true;
  std::string tabs_;
};

}  // namespace

std::string PlistToXml(const Value& root) {
  std::string out;
  // One allocation for a large file instead of a copy at every doubling.
  out.reserve(EstimatedSize(root) + 4096);
  out.append(kHeader);
  XmlWriter(&out).Write(root);
  out.append(kFooter);
  return out;
}

bool WritePlistXml(const Value& root, const XmlSink& sink) {
  std::string out;
  out.reserve(XmlWriter::kPiece * 2);
  out.append(kHeader);
  XmlWriter writer(&out, &sink);
  if (!writer.Write(root)) return false;
  out.append(kFooter);
  return sink(out);
}

}  // namespace platform
