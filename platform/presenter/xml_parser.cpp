#include "xml_parser.h"

#include <cstdint>
#include <cstring>

namespace presenter {
namespace {

// Deeper nesting than this is not a real document; recursion stays far from the stack's end.
constexpr int kMaxDepth = 256;
// Elements per document: bounds memory well below what the 32-bit server can hold.
constexpr size_t kMaxElements = 1000000;
constexpr size_t kMaxAttributes = 256;

const char kXmlNs[] = "http://www.w3.org/XML/1998/namespace";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) {
  return !IsSpace(c) && c != '/' && c != '>' && c != '=' && c != '<' && c != '"' && c != '\'' && c != '\0';
}

void AppendUtf8(std::string& o, uint32_t c) {
  if (c < 0x80) {
    o += char(c);
  } else if (c < 0x800) {
    o += char(0xC0 | c >> 6);
    o += char(0x80 | (c & 63));
  } else if (c < 0x10000) {
    o += char(0xE0 | c >> 12);
    o += char(0x80 | (c >> 6 & 63));
    o += char(0x80 | (c & 63));
  } else {
    o += char(0xF0 | c >> 18);
    o += char(0x80 | (c >> 12 & 63));
    o += char(0x80 | (c >> 6 & 63));
    o += char(0x80 | (c & 63));
  }
}

struct RawAttribute {
  std::string qname, value;
};

class Parser {
 public:
  explicit Parser(const std::string& s) : s_(s) {}

  bool Document(XmlNode& root, std::string& error) {
    if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) p_ = 3;
    bool ok = SkipMisc() && (p_ < s_.size() || Fail("no root element")) && Element(root, 0);
    if (ok) {
      ok = SkipMisc();
      if (ok && p_ < s_.size()) ok = Fail("content after the root element");
    }
    if (!ok) error = "XML error at byte " + std::to_string(errorAt_) + ": " + why_;
    return ok;
  }

 private:
  // Namespace declarations in scope: (prefix, uri), innermost last.
  std::vector<std::pair<std::string, std::string>> scope_;
  const std::string& s_;
  size_t p_ = 0;
  size_t elements_ = 0;
  size_t errorAt_ = 0;
  std::string why_;

  bool Fail(const char* why) {
    errorAt_ = p_;
    why_ = why;
    return false;
  }
  bool StartsWith(const char* lit) const { return s_.compare(p_, strlen(lit), lit) == 0; }
  bool SkipPast(const char* lit) {
    const size_t q = s_.find(lit, p_);
    if (q == std::string::npos) return Fail("unterminated markup");
    p_ = q + strlen(lit);
    return true;
  }

  // Whitespace, comments, processing instructions and a document type declaration between
  // elements. Stops at the next element or at the end of the text.
  bool SkipMisc() {
    for (;;) {
      while (p_ < s_.size() && IsSpace(s_[p_])) p_++;
      if (p_ >= s_.size()) return true;
      if (StartsWith("<?")) {
        if (!SkipPast("?>")) return false;
      } else if (StartsWith("<!--")) {
        if (!SkipPast("-->")) return false;
      } else if (StartsWith("<!DOCTYPE")) {
        // An internal subset in brackets may contain '>'; entity declarations are never used.
        int bracket = 0;
        for (;; p_++) {
          if (p_ >= s_.size()) return Fail("unterminated document type declaration");
          if (s_[p_] == '[') bracket++;
          if (s_[p_] == ']') bracket--;
          if (s_[p_] == '>' && bracket <= 0) break;
        }
        p_++;
      } else if (s_[p_] == '<') {
        return true;
      } else {
        return Fail("text outside the root element");
      }
    }
  }

  bool Decode(size_t b, size_t e, std::string& out) {
    for (size_t i = b; i < e; i++) {
      if (s_[i] != '&') {
        out += s_[i];
        continue;
      }
      const size_t semi = s_.find(';', i);
      if (semi == std::string::npos || semi >= e || semi - i > 16) {
        p_ = i;
        return Fail("unterminated entity reference");
      }
      const std::string ent = s_.substr(i + 1, semi - i - 1);
      if (ent == "lt") out += '<';
      else if (ent == "gt") out += '>';
      else if (ent == "amp") out += '&';
      else if (ent == "quot") out += '"';
      else if (ent == "apos") out += '\'';
      else if (ent.size() >= 2 && ent[0] == '#') {
        const bool hex = ent[1] == 'x';
        const size_t digits = hex ? 2 : 1;
        uint32_t c = 0;
        bool ok = ent.size() > digits;
        for (size_t k = digits; ok && k < ent.size(); k++) {
          const char ch = ent[k];
          int v = ch >= '0' && ch <= '9' ? ch - '0'
                  : hex && ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                  : hex && ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
          ok = v >= 0 && c <= 0x10FFFF;
          c = c * (hex ? 16 : 10) + uint32_t(v < 0 ? 0 : v);
        }
        if (!ok || c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
          p_ = i;
          return Fail("invalid character reference");
        }
        AppendUtf8(out, c);
      } else {
        p_ = i;
        return Fail("unknown entity");
      }
      i = semi;
    }
    return true;
  }

  std::string Lookup(const std::string& prefix) const {
    if (prefix == "xml") return kXmlNs;
    for (size_t i = scope_.size(); i-- > 0;)
      if (scope_[i].first == prefix) return scope_[i].second;
    return std::string();
  }

  static void Split(const std::string& qname, std::string& prefix, std::string& local) {
    const size_t c = qname.find(':');
    if (c == std::string::npos) {
      prefix.clear();
      local = qname;
    } else {
      prefix = qname.substr(0, c);
      local = qname.substr(c + 1);
    }
  }

  bool Element(XmlNode& n, int depth) {
    if (depth > kMaxDepth) return Fail("elements nested too deeply");
    if (++elements_ > kMaxElements) return Fail("too many elements");
    p_++;  // '<'
    const size_t nameStart = p_;
    while (p_ < s_.size() && IsNameChar(s_[p_])) p_++;
    if (p_ == nameStart) return Fail("element without a name");
    const std::string qname = s_.substr(nameStart, p_ - nameStart);
    std::vector<RawAttribute> raw;
    bool empty = false;
    for (;;) {
      while (p_ < s_.size() && IsSpace(s_[p_])) p_++;
      if (p_ >= s_.size()) return Fail("unterminated start tag");
      if (s_[p_] == '/') {
        if (p_ + 1 >= s_.size() || s_[p_ + 1] != '>') return Fail("stray '/' in start tag");
        p_ += 2;
        empty = true;
        break;
      }
      if (s_[p_] == '>') {
        p_++;
        break;
      }
      const size_t an = p_;
      while (p_ < s_.size() && IsNameChar(s_[p_])) p_++;
      if (p_ == an) return Fail("malformed attribute");
      RawAttribute a;
      a.qname = s_.substr(an, p_ - an);
      while (p_ < s_.size() && IsSpace(s_[p_])) p_++;
      if (p_ >= s_.size() || s_[p_] != '=') return Fail("attribute without a value");
      p_++;
      while (p_ < s_.size() && IsSpace(s_[p_])) p_++;
      if (p_ >= s_.size() || (s_[p_] != '"' && s_[p_] != '\'')) return Fail("attribute value not quoted");
      const char quote = s_[p_++];
      const size_t vs = p_;
      const size_t ve = s_.find(quote, vs);
      if (ve == std::string::npos) return Fail("unterminated attribute value");
      if (s_.find('<', vs) < ve) return Fail("'<' in attribute value");
      if (!Decode(vs, ve, a.value)) return false;
      p_ = ve + 1;
      if (raw.size() >= kMaxAttributes) return Fail("too many attributes");
      raw.push_back(std::move(a));
    }

    // Namespace declarations of this element apply to its own name and attributes.
    const size_t scopeMark = scope_.size();
    for (const RawAttribute& a : raw) {
      if (a.qname == "xmlns") scope_.emplace_back(std::string(), a.value);
      else if (a.qname.compare(0, 6, "xmlns:") == 0) scope_.emplace_back(a.qname.substr(6), a.value);
    }
    std::string prefix;
    Split(qname, prefix, n.name);
    n.ns = Lookup(prefix);
    for (RawAttribute& a : raw) {
      if (a.qname == "xmlns" || a.qname.compare(0, 6, "xmlns:") == 0) continue;
      XmlAttribute x;
      Split(a.qname, prefix, x.name);
      if (!prefix.empty()) x.ns = Lookup(prefix);
      x.value = std::move(a.value);
      n.attributes.push_back(std::move(x));
    }
    const bool ok = empty || Content(n, qname, depth);
    scope_.resize(scopeMark);
    return ok;
  }

  bool Content(XmlNode& n, const std::string& qname, int depth) {
    for (;;) {
      const size_t ts = p_;
      const size_t lt = s_.find('<', p_);
      if (lt == std::string::npos) {
        p_ = s_.size();
        return Fail("element not closed");
      }
      if (lt > ts && !Decode(ts, lt, n.text)) return false;
      p_ = lt;
      if (StartsWith("</")) {
        p_ += 2;
        if (s_.compare(p_, qname.size(), qname) != 0) return Fail("end tag does not match its start tag");
        p_ += qname.size();
        while (p_ < s_.size() && IsSpace(s_[p_])) p_++;
        if (p_ >= s_.size() || s_[p_] != '>') return Fail("malformed end tag");
        p_++;
        return true;
      }
      if (StartsWith("<![CDATA[")) {
        const size_t q = s_.find("]]>", p_ + 9);
        if (q == std::string::npos) return Fail("unterminated CDATA section");
        n.text.append(s_, p_ + 9, q - p_ - 9);
        p_ = q + 3;
      } else if (StartsWith("<!--")) {
        if (!SkipPast("-->")) return false;
      } else if (StartsWith("<?")) {
        if (!SkipPast("?>")) return false;
      } else {
        n.children.emplace_back();
        if (!Element(n.children.back(), depth + 1)) return false;
      }
    }
  }
};

}  // namespace

const XmlNode* XmlNode::Child(const char* childName) const {
  for (const XmlNode& c : children)
    if (c.name == childName) return &c;
  return nullptr;
}

const XmlNode* XmlNode::At(std::initializer_list<const char*> path) const {
  const XmlNode* n = this;
  for (const char* step : path)
    if (!(n = n->Child(step))) return nullptr;
  return n;
}

std::string XmlNode::Attr(const char* attrName, const char* attrNs, const char* fallback) const {
  for (const XmlAttribute& a : attributes)
    if (a.name == attrName && a.ns == attrNs) return a.value;
  return fallback;
}

bool XmlNode::HasAttr(const char* attrName, const char* attrNs) const {
  for (const XmlAttribute& a : attributes)
    if (a.name == attrName && a.ns == attrNs) return true;
  return false;
}

void XmlNode::Walk(const std::function<void(const XmlNode&)>& visit) const {
  visit(*this);
  for (const XmlNode& c : children) c.Walk(visit);
}

bool ParseXml(const std::string& text, XmlNode& root, std::string& error) {
  root = XmlNode();
  Parser parser(text);
  return parser.Document(root, error);
}

}  // namespace presenter
