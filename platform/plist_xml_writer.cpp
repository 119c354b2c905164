// Writing a property list as XML in the usual layout. An explicit stack instead of recursion, so
// that no nesting depth can exhaust the call stack.
#include <vector>

#include "platform/plist_file.h"
#include "platform/plist_scalar_text.h"

namespace platform {

namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

class XmlWriter {
 public:
  explicit XmlWriter(std::string* out) : out_(out) {}

  void Write(const Value& root) {
    Begin(root, 0);
    while (!stack_.empty()) {
      Open& top = stack_.back();
      const std::size_t indent = stack_.size();
      if (top.value->IsArray() && top.next < top.value->array().size()) {
        Begin(top.value->array()[top.next++], indent);
      } else if (top.value->IsDictionary() && top.next < top.value->dictionary().size()) {
        const auto& [key, value] = top.value->dictionary().entries()[top.next++];
        Element(indent, "<key>", key, true);
        Begin(value, indent);
      } else {
        Indent(indent - 1);
        out_->append(top.value->IsArray() ? "</array>\n" : "</dict>\n");
        stack_.pop_back();
      }
    }
  }

 private:
  struct Open {
    const Value* value;
    std::size_t next;
  };

  void Indent(std::size_t n) { out_->append(n, '\t'); }

  // A carriage return goes as a character reference: XML readers turn a raw one (and CR LF)
  // into a line feed, so the text would come back changed.
  void AppendEscaped(std::string_view s) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      const char c = s[i];
      if (c != '&' && c != '<' && c != '>' && c != '\r') continue;
      out_->append(s.substr(run, i - run));
      out_->append(c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : "&#13;");
      run = i + 1;
    }
    out_->append(s.substr(run));
  }

  // `tag` is the element's name in angle brackets, as in "<key>".
  void Element(std::size_t indent, std::string_view tag, std::string_view text, bool escape) {
    Indent(indent);
    out_->append(tag);
    if (escape)
      AppendEscaped(text);
    else
      out_->append(text);
    out_->append("</", 2).append(tag.substr(1)).push_back('\n');
  }

  // Writes a scalar or an empty container whole, or the opening tag of a container.
  void Begin(const Value& v, std::size_t indent) {
    switch (v.kind()) {
      case Value::Kind::kString:
        return Element(indent, "<string>", v.string(), true);
      case Value::Kind::kInteger:
        return Element(indent, "<integer>", plist_text::FormatInteger(v.integer()), false);
      case Value::Kind::kReal:
        return Element(indent, "<real>", plist_text::FormatReal(v.real()), false);
      case Value::Kind::kDate:
        return Element(indent, "<date>", plist_text::FormatDate(v.date().seconds_since_2001),
                       false);
      case Value::Kind::kBoolean:
        Indent(indent);
        out_->append(v.boolean() ? "<true/>\n" : "<false/>\n");
        return;
      case Value::Kind::kData: {
        Indent(indent);
        out_->append("<data>\n");
        // Lines of 76 characters, less 8 for each level of indentation.
        std::size_t line = indent * 8 + 16 < 76 ? (76 - indent * 8) / 4 * 4 : 16;
        plist_text::AppendBase64Lines(v.data().bytes, line, std::string(indent, '\t'), out_);
        Indent(indent);
        out_->append("</data>\n");
        return;
      }
      case Value::Kind::kArray:
      case Value::Kind::kDictionary: {
        const bool array = v.IsArray();
        Indent(indent);
        if (array ? v.array().empty() : v.dictionary().empty()) {
          out_->append(array ? "<array/>\n" : "<dict/>\n");
          return;
        }
        out_->append(array ? "<array>\n" : "<dict>\n");
        stack_.push_back({&v, 0});
        return;
      }
    }
  }

  std::string* out_;
  std::vector<Open> stack_;
};

}  // namespace

std::string PlistToXml(const Value& root) {
  std::string out(kHeader);
  XmlWriter(&out).Write(root);
  out.append("</plist>\n");
  return out;
}

}  // namespace platform
