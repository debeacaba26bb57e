// A small non-validating XML parser for package parts: elements, attributes, character data,
// the predefined and numeric entities, CDATA, comments and processing instructions. Namespace
// prefixes are resolved through the xmlns declarations in scope. A document type declaration is
// skipped, never expanded. Limits on depth and size keep hostile input bounded.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace presenter {

struct XmlAttribute {
  std::string ns;     // namespace URI, empty for unprefixed attributes
  std::string name;   // local name
  std::string value;  // entities decoded (UTF-8)
};

struct XmlNode {
  std::string ns;    // namespace URI
  std::string name;  // local name
  std::vector<XmlAttribute> attributes;
  std::vector<XmlNode> children;
  std::string text;  // character data directly inside this element (UTF-8)

  // First child element with this local name, or null.
  const XmlNode* Child(const char* name) const;
  // Follows a path of child names.
  const XmlNode* At(std::initializer_list<const char*> path) const;
  // Attribute value by local name and namespace URI (empty: unprefixed), or `fallback`.
  std::string Attr(const char* name, const char* ns = "", const char* fallback = "") const;
  bool HasAttr(const char* name, const char* ns = "") const;
  // Calls `visit` on this node and every descendant, depth first.
  void Walk(const std::function<void(const XmlNode&)>& visit) const;
};

// Parses a whole document; false with an error text (naming the byte offset) when malformed.
bool ParseXml(const std::string& text, XmlNode& root, std::string& error);

}  // namespace presenter
