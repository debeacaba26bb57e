// The XML parser: entities, CDATA, namespaces by prefix, and malformed or hostile documents.
#include "xml_parser.h"

#include <gtest/gtest.h>

using presenter::ParseXml;
using presenter::XmlNode;

TEST(XmlParser, ReadsElementsAttributesAndText) {
  const std::string doc =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE x [ <!ENTITY e \"never expanded\"> ]>\n"
      "<!-- leading comment -->"
      "<p:root xmlns:p=\"urn:p\" xmlns:r=\"urn:r\" xmlns=\"urn:default\" a='1' r:id=\"rId7\">"
      "<p:item k=\"&lt;&amp;&gt;&quot;&apos;\">x &#65;&#x42;&#x1F600; y</p:item>"
      "<plain><![CDATA[<not markup> & ]]>tail</plain>"
      "<?pi inside?><!-- c -->"
      "<q:other xmlns:q=\"urn:q\" q:v=\"2\"/>"
      "<p:empty/>"
      "</p:root>\n<!-- trailing -->";
  XmlNode root;
  std::string error;
  ASSERT_TRUE(ParseXml(doc, root, error)) << error;
  EXPECT_EQ(root.name, "root");
  EXPECT_EQ(root.ns, "urn:p");
  EXPECT_EQ(root.Attr("a"), "1");
  EXPECT_EQ(root.Attr("id", "urn:r"), "rId7");
  EXPECT_FALSE(root.HasAttr("id"));  // the prefixed attribute is not the unprefixed one
  ASSERT_EQ(root.children.size(), 4u);
  EXPECT_EQ(root.children[0].Attr("k"), "<&>\"'");
  EXPECT_EQ(root.children[0].text, "x AB\xF0\x9F\x98\x80 y");
  EXPECT_EQ(root.Child("plain")->ns, "urn:default");
  EXPECT_EQ(root.Child("plain")->text, "<not markup> & tail");
  const XmlNode* other = root.Child("other");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->ns, "urn:q");
  EXPECT_EQ(other->Attr("v", "urn:q"), "2");
  EXPECT_NE(root.At({"empty"}), nullptr);
  EXPECT_EQ(root.At({"item", "none"}), nullptr);
}

TEST(XmlParser, RefusesMalformedDocuments) {
  struct Case {
    const char* doc;
    const char* expect;
  };
  const Case cases[] = {
      {"", "root"},
      {"text only", "outside"},
      {"<a>", "not closed"},
      {"<a></b>", "does not match"},
      {"<a><b></a></b>", "does not match"},
      {"<a x=1/>", "not quoted"},
      {"<a x=\"1/>", "unterminated attribute"},
      {"<a x/>", "without a value"},
      {"<a>&unknown;</a>", "unknown entity"},
      {"<a>&amp</a>", "unterminated entity"},
      {"<a>&#0;</a>", "character reference"},
      {"<a>&#xD800;</a>", "character reference"},
      {"<a>&#x110000;</a>", "character reference"},
      {"<a>&#99999999999;</a>", "character reference"},
      {"<a><![CDATA[x</a>", "CDATA"},
      {"<a><!-- x</a>", "unterminated"},
      {"<a/><b/>", "after the root"},
      {"<a x=\"<\"/>", "'<'"},
      {"< a/>", "without a name"},
      {"<a / >", "stray"},
  };
  for (const Case& c : cases) {
    XmlNode root;
    std::string error;
    EXPECT_FALSE(ParseXml(c.doc, root, error)) << c.doc;
    EXPECT_NE(error.find(c.expect), std::string::npos) << c.doc << ": " << error;
  }
}

TEST(XmlParser, BoundsDepthAndElementCount) {
  XmlNode root;
  std::string error;
  std::string deep;
  for (int i = 0; i < 100000; i++) deep += "<a>";
  EXPECT_FALSE(ParseXml(deep, root, error));
  EXPECT_NE(error.find("too deeply"), std::string::npos) << error;

  std::string nested;
  for (int i = 0; i < 200; i++) nested += "<a>";
  for (int i = 0; i < 200; i++) nested += "</a>";
  EXPECT_TRUE(ParseXml(nested, root, error)) << error;

  std::string wide = "<r>";
  for (int i = 0; i < 1000001; i++) wide += "<b/>";
  wide += "</r>";
  EXPECT_FALSE(ParseXml(wide, root, error));
  EXPECT_NE(error.find("too many elements"), std::string::npos) << error;
}
