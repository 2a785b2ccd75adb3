#include "platform/XmlPropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

const std::string kHead = std::string(kXmlPropertyListProlog) + "<plist version=\"1.0\">\n";

std::string plist(const std::string& body) { return kHead + body + "\n</plist>\n"; }

// The reason a document is refused; empty when it is read.
std::string refusal(const std::string& text, Mutability m = Mutability::kImmutable) {
  std::string error;
  return readXMLPropertyList(text, m, &error) ? std::string() : error;
}

ValueRef read(const std::string& text) { return readXMLPropertyList(text, Mutability::kImmutable, nullptr); }

std::string write(const ValueRef& value) {
  std::string out, error;
  EXPECT_TRUE(writeXMLPropertyList(value, &out, &error)) << error;
  return out;
}

std::string writeRefusal(const ValueRef& value) {
  std::string out = "unchanged", error;
  EXPECT_FALSE(writeXMLPropertyList(value, &out, &error));
  EXPECT_EQ(out, "unchanged");
  return error;
}

ValueRef nested(std::size_t levels, ValueRef value = makeString("bottom")) {
  for (std::size_t i = 0; i < levels; ++i) value = arrayOf({value});
  return value;
}

TEST(XmlPropertyList, WriterProducesTheStandardLayout) {
  auto root = dictionaryOf({{"zeta", makeString("a < b & c > d")},  // insertion order
                            {"alpha", arrayOf({makeInteger(-7), makeBoolean(true),
                                               makeMutableDictionary()})},
                            {"real", makeReal(0.5)},
                            {"data", makeData(std::string_view("\x00\x01\x02", 3))},
                            {"date", makeDate(0.75)},
                            {"empty", makeString("")},
                            {"none", makeMutableArray()}});
  EXPECT_EQ(write(root), kHead +
                             "<dict>\n\t<key>zeta</key>\n\t<string>a &lt; b &amp; c &gt; d</string>\n"
                             "\t<key>alpha</key>\n\t<array>\n\t\t<integer>-7</integer>\n\t\t<true/>\n"
                             "\t\t<dict/>\n\t</array>\n\t<key>real</key>\n\t<real>0.5</real>\n"
                             "\t<key>data</key>\n\t<data>AAEC</data>\n"
                             "\t<key>date</key>\n\t<date>2001-01-01T00:00:00Z</date>\n"
                             "\t<key>empty</key>\n\t<string></string>\n"
                             "\t<key>none</key>\n\t<array/>\n</dict>\n</plist>\n");
  EXPECT_EQ(write(makeBoolean(false)), kHead + "<false/>\n</plist>\n");
}

// A leaf element's text and the value it reads as: forms other writers use
// (hexadecimal, signs, white space, dates with fractions); one refused text
// per check.
TEST(XmlPropertyList, LeavesReadTheirTextOrAreRefused) {
  const std::pair<std::string, ValueRef> readable[] = {
      {"<integer>-0X10</integer>", makeInteger(-16)},
      {"<integer> +5\n</integer>", makeInteger(5)},
      {"<real>+1E3</real>", makeReal(1000.0)},
      {"<data>\n\tSGVs\r\n bG8=\n</data>", makeData("Hello")},
      {"<date>2001-01-01T00:00:01.5Z</date>", makeDate(1.5)},
      {"<date>2000-12-31T23:59:59.9Z</date>", makeDate(-0.1)}};
  for (const auto& [text, value] : readable) EXPECT_TRUE(isEqual(read(plist(text)), value)) << text;
  const std::pair<std::string, std::vector<const char*>> refused[] = {
      {"integer", {"-9223372036854775809", "12a"}},
      {"real", {"1e400", "+-1"}},
      {"date", {"2023-02-29T00:00:00Z", "2001-01-01 00:00:00Z", "2001-01-01T00:00:00.Z"}},
      {"data", {"SGk", "S===", "SG=k", "SGk*"}}};
  for (const auto& [element, texts] : refused)
    for (const std::string text : texts)
      EXPECT_NE(refusal(plist("<" + element + ">" + text + "</" + element + ">")), "") << text;
  EXPECT_EQ(refusal(plist("<integer>9223372036854775808</integer>")),
            "line 4, column 29: integer \"9223372036854775808\" is not a 64-bit integer");
  // Long junk is cut short in the message, on a character boundary.
  EXPECT_EQ(refusal("<plist><integer>" + std::string(39, '1') + "\xC3\xA9" + std::string(1000, '2') +
                    "</integer></plist>"),
            "line 1, column 1057: integer \"" + std::string(39, '1') + "...\" is not a 64-bit integer");
}

// A fraction is dropped toward the earlier second, before 2001 too.
TEST(XmlPropertyList, DatesAreWrittenInWholeSeconds) {
  const std::pair<double, const char*> written[] = {
      {0.5, "2001-01-01T00:00:00Z"},           {-0.1, "2000-12-31T23:59:59Z"},
      {-1e-9, "2000-12-31T23:59:59Z"},         {712345678.999, "2023-07-29T17:47:58Z"},
      {-63145526400.0, "0000-01-01T00:00:00Z"}, {252423993599.75, "9999-12-31T23:59:59Z"}};
  for (const auto& [seconds, text] : written)
    EXPECT_EQ(write(makeDate(seconds)), plist(std::string("<date>") + text + "</date>"));
}

TEST(XmlPropertyList, DataIsBase64InLinesOf76) {
  EXPECT_EQ(write(makeData(std::string(57, '\0'))), plist("<data>" + std::string(76, 'A') + "</data>"));
  EXPECT_EQ(write(arrayOf({makeData(std::string(60, '\0'))})),
            plist("<array>\n\t<data>\n\t" + std::string(76, 'A') + "\n\tAAAA\n\t</data>\n</array>"));
}

// Empty forms run in the plistlib differential test.
TEST(XmlPropertyList, EntitiesAndOptionalParts) {
  EXPECT_TRUE(read("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- c -->\n<plist version=\"0.9\">\n"
                   "  <!-- c --> <true/>\n</plist>\n<!-- trailing -->\n"));
  EXPECT_TRUE(isEqual(read(plist("<string>&lt;&gt;&amp;&quot;&apos;&#65;&#x1F600;"
                                 "<![CDATA[<raw>]]><!-- note -->!</string>")),
                      makeString("<>&\"'A\xF0\x9F\x98\x80<raw>!")));
  EXPECT_TRUE(looksLikeXMLPropertyList("\xEF\xBB\xBF\n  <!DOCTYPE plist"));
}

// The writer refuses exactly what the reader refuses: an empty container
// is a level too.
TEST(XmlPropertyList, NestingLimitIsTheSameForReaderAndWriter) {
  const std::string tooDeepToWrite =
      "containers nested deeper than 512 levels (or a container holds itself)";
  for (ValueRef bottom : {ValueRef(makeMutableArray()), ValueRef(makeMutableDictionary())}) {
    ValueRef deepest = nested(kMaxXmlNestingDepth - 1, bottom);
    EXPECT_TRUE(isEqual(read(write(deepest)), deepest));
    EXPECT_EQ(writeRefusal(arrayOf({deepest})), tooDeepToWrite);
  }
  EXPECT_TRUE(read(write(nested(kMaxXmlNestingDepth))));
  EXPECT_EQ(writeRefusal(nested(kMaxXmlNestingDepth + 1)), tooDeepToWrite);
  std::string tooDeep = "<plist>";
  for (std::size_t i = 0; i <= kMaxXmlNestingDepth; ++i) tooDeep += "<array>";
  EXPECT_EQ(refusal(tooDeep), "line 1, column 3592: containers nested deeper than 512 levels");
  auto cycle = makeMutableArray();
  cycle->addObject(cycle);
  EXPECT_NE(writeRefusal(cycle), "");
  cycle->removeAllObjects();  // break the cycle so the array is freed
}

TEST(XmlPropertyList, MistakesAreRefusedWithTheirPlace) {
  const std::pair<const char*, const char*> cases[] = {
      {"<plist></plist>", "line 1, column 8: <plist> holds no value"},
      {"<dict></dict>", "line 1, column 1: the root element is not <plist>"},
      {"<plist><true/><false/></plist>", "line 1, column 15: more than one root value"},
      {"<plist><dict><key>a</key></dict></plist>", "line 1, column 26: key \"a\" has no value"},
      {"<plist><dict><key>a</key><key>b</key><true/></dict></plist>",
       "line 1, column 26: key \"a\" has no value"},
      {"<plist><dict><true/></dict></plist>", "line 1, column 14: value without a key in a dictionary"},
      {"<plist><array><key>a</key></array></plist>", "line 1, column 15: <key> outside a dictionary"},
      {"<plist><array><set/></array></plist>", "line 1, column 15: unknown element \"set\""},
      {"<plist><string>a<b/></string></plist>", "line 1, column 17: element \"b\" inside a value"},
      {"<plist><array>x<true/></array></plist>", "line 1, column 15: text outside a value"},
      {"<plist><true>x</true></plist>", "line 1, column 15: <true/> and <false/> hold no text"},
      {"<plist><plist><true/></plist></plist>", "line 1, column 8: <plist> inside <plist>"},
      {"<!DOCTYPE html><plist><true/></plist>", "line 1, column 15: document type is \"html\", not plist"},
      // No entity is ever declared, expanded or fetched.
      {"<!DOCTYPE plist [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><plist/>",
       "line 1, column 17: declarations inside DOCTYPE are not allowed"},
      {"<!DOCTYPE plist SYSTEM \"file:///etc/passwd\"><plist><string>&p;</string></plist>",
       "line 1, column 60: undefined entity &p;"},
      {"<plist><string>&p;</string></plist>", "line 1, column 16: undefined entity"},  // expat's own
  };
  for (const auto& [text, reason] : cases) EXPECT_EQ(refusal(text), reason) << text;
  const char* twice = "<plist><dict><key>a</key><true/><key>a</key><false/></dict></plist>";
  for (Mutability m : {Mutability::kImmutable, Mutability::kMutableContainers})
    EXPECT_EQ(refusal(twice, m), "line 1, column 53: a key appears twice in one dictionary");
}

// Reading in pieces matches reading whole (the fuzzer's invariant); once a
// piece fails, the reader keeps the first reason.
TEST(XmlPropertyList, AFailedStreamStaysFailed) {
  std::string error, again;
  XmlPropertyListReader failing(Mutability::kImmutable);
  EXPECT_FALSE(failing.feed("<plist><oops/>", &error));
  EXPECT_FALSE(failing.feed("</plist>", &again));
  EXPECT_FALSE(failing.finish(&again));
  EXPECT_EQ(again, error);
}

TEST(XmlPropertyList, WriterRefusesWhatXmlCannotCarry) {
  const std::string notUtf8 = "string is not valid UTF-8",
                    notXml = "string holds a character that XML 1.0 cannot carry",
                    badDate = "date is outside the years 0000 to 9999";
  const std::pair<ValueRef, std::string> cases[] = {
      {dictionaryOf({{"k", std::make_shared<ForeignValue>("a socket")}}), "not a property value: a socket"},
      {makeString("bad \xC3"), notUtf8},
      {makeString("\xC0\x80"), notUtf8},          // overlong
      {makeString("\xED\xA0\x80"), notUtf8},      // surrogate
      {makeString("\xF4\x90\x80\x80"), notUtf8},  // beyond U+10FFFF
      {makeString(std::string("nul\0", 4)), notXml},
      {makeString("\xEF\xBF\xBE"), notXml},
      {dictionaryOf({{"\xFF", makeInteger(1)}}), "key is not valid UTF-8"},
      {makeDate(-63145526400.5), badDate},
      {makeDate(252423993600.0), badDate},
      {makeDate(std::nan("")), badDate},
  };
  for (const auto& [value, reason] : cases) EXPECT_EQ(writeRefusal(value), reason);
}

}  // namespace
}  // namespace steward
