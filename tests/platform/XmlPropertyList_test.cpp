#include "platform/XmlPropertyList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace steward {
namespace {

const char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string plist(const std::string& body) { return kHead + body + "\n</plist>\n"; }

ValueRef read(const std::string& text, std::string* error = nullptr,
              Mutability m = Mutability::kImmutable) {
  std::string ignored;
  return readXMLPropertyList(text, m, error ? error : &ignored);
}

// The reason a document is refused; empty when it is read.
std::string refusal(const std::string& text) {
  std::string error;
  return read(text, &error) ? std::string() : error;
}

std::string write(const ValueRef& value) {
  std::string out, error;
  EXPECT_TRUE(writeXMLPropertyList(value, &out, &error)) << error;
  return out;
}

ValueRef roundTrip(const ValueRef& value) {
  std::string error;
  ValueRef back = read(write(value), &error);
  EXPECT_TRUE(back) << error;
  return back;
}

ValueRef nested(std::size_t levels) {
  ValueRef value = makeString("bottom");
  for (std::size_t i = 0; i < levels; ++i) {
    auto array = makeMutableArray();
    array->addObject(value);
    value = array;
  }
  return value;
}

TEST(XmlPropertyList, WriterProducesTheStandardLayout) {
  auto inner = makeMutableArray();
  inner->addObject(makeInteger(-7));
  inner->addObject(makeBoolean(true));
  inner->addObject(makeMutableDictionary());
  auto root = makeMutableDictionary();
  root->setObject(makeString("a < b & c > d"), "zeta");  // insertion order, not sorted
  root->setObject(inner, "alpha");
  root->setObject(makeReal(0.5), "real");
  root->setObject(makeData(std::string_view("\x00\x01\x02", 3)), "data");
  root->setObject(makeDate(0.25), "date");
  root->setObject(makeString(""), "empty");
  root->setObject(makeMutableArray(), "none");
  EXPECT_EQ(write(root),
            std::string(kHead) +
                "<dict>\n"
                "\t<key>zeta</key>\n"
                "\t<string>a &lt; b &amp; c &gt; d</string>\n"
                "\t<key>alpha</key>\n"
                "\t<array>\n"
                "\t\t<integer>-7</integer>\n"
                "\t\t<true/>\n"
                "\t\t<dict/>\n"
                "\t</array>\n"
                "\t<key>real</key>\n"
                "\t<real>0.5</real>\n"
                "\t<key>data</key>\n"
                "\t<data>AAEC</data>\n"
                "\t<key>date</key>\n"
                "\t<date>2001-01-01T00:00:00.25Z</date>\n"
                "\t<key>empty</key>\n"
                "\t<string></string>\n"
                "\t<key>none</key>\n"
                "\t<array/>\n"
                "</dict>\n"
                "</plist>\n");
  EXPECT_EQ(write(makeBoolean(false)), std::string(kHead) + "<false/>\n</plist>\n");
}

TEST(XmlPropertyList, EveryKindSurvivesARoundTripInOrder) {
  auto root = makeMutableDictionary();
  root->setObject(makeString("text"), "s");
  root->setObject(makeInteger(42), "i");
  root->setObject(makeReal(2.5), "r");
  root->setObject(makeReal(3.0), "whole real");
  root->setObject(makeBoolean(false), "b");
  root->setObject(makeData(std::string(200, '\xff')), "d");
  root->setObject(makeDate(712345678), "t");
  root->setObject(nested(3), "a");
  ValueRef back = roundTrip(root);
  ASSERT_TRUE(isEqual(back, root));
  auto dict = as<Dictionary>(back);
  EXPECT_EQ(dict->allKeys(), root->allKeys());
  // Kinds are kept: a whole real stays a real, a boolean is no integer.
  EXPECT_EQ(dict->objectForKey("whole real")->kind(), ValueKind::kReal);
  EXPECT_EQ(dict->objectForKey("b")->kind(), ValueKind::kBoolean);
}

TEST(XmlPropertyList, MutabilityChoosesTheFlavours) {
  std::string text = plist(
      "<dict><key>a</key><array><string>s</string><data>AA==</data></array></dict>");
  auto flavours = [&](Mutability m) {
    std::string error;
    auto dict = as<Dictionary>(read(text, &error, m));
    EXPECT_TRUE(dict) << error;
    auto array = as<Array>(dict->objectForKey("a"));
    return std::vector<bool>{dict->isMutable(), array->isMutable(),
                             array->objectAtIndex(0)->isMutable(),
                             array->objectAtIndex(1)->isMutable()};
  };
  EXPECT_EQ(flavours(Mutability::kImmutable), (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(flavours(Mutability::kMutableContainers),
            (std::vector<bool>{true, true, false, false}));
  EXPECT_EQ(flavours(Mutability::kMutableContainersAndLeaves),
            (std::vector<bool>{true, true, true, true}));
  EXPECT_TRUE(as<MutableString>(
      as<Array>(as<Dictionary>(read(text, nullptr, Mutability::kMutableContainersAndLeaves))
                    ->objectForKey("a"))
          ->objectAtIndex(0)));
}

TEST(XmlPropertyList, TextKeepsUnicodeEntitiesAndLineEnds) {
  std::string astral = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF0\x90\x8D\x88";
  auto dict = makeMutableDictionary();
  dict->setObject(makeString(astral), astral);  // keys too
  dict->setObject(makeString("cr\r\nlf\ttab ]]> \x7f"), "controls");
  EXPECT_TRUE(isEqual(roundTrip(dict), dict));

  ValueRef s = read(plist("<string>&lt;&gt;&amp;&quot;&apos;&#65;&#x1F600;"
                          "<![CDATA[<raw>]]><!-- note -->!</string>"));
  ASSERT_TRUE(s);
  EXPECT_EQ(as<String>(s)->str(), "<>&\"'A\xF0\x9F\x98\x80<raw>!");
  // A document in another encoding comes out as UTF-8.
  s = read("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><string>\xE9</string></plist>");
  ASSERT_TRUE(s);
  EXPECT_EQ(as<String>(s)->str(), "\xC3\xA9");
}

TEST(XmlPropertyList, IntegersCoverInt64AndNothingMore) {
  auto integer = [](const std::string& text) {
    auto value = as<Integer>(read(plist("<integer>" + text + "</integer>")));
    return value ? value->value() : -1;
  };
  EXPECT_EQ(integer("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(integer("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(integer("+17"), 17);
  EXPECT_EQ(integer("0x7fffffffffffffff"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(integer("-0X10"), -16);
  EXPECT_EQ(integer(" 5\n"), 5);
  for (const char* bad : {"9223372036854775808", "-9223372036854775809", "0x8000000000000000",
                          "", "1.5", "12a", "0x", "--1", "+-1", "1 2", "0x-1"})
    EXPECT_NE(refusal(plist(std::string("<integer>") + bad + "</integer>")), "") << bad;
  EXPECT_EQ(refusal(plist("<integer>9223372036854775808</integer>")),
            "line 4, column 29: integer \"9223372036854775808\" is not a 64-bit integer");
  // Long junk is cut short in the message, on a character boundary.
  EXPECT_EQ(refusal("<plist><integer>" + std::string(39, '1') + "\xC3\xA9" + std::string(1000, '2') +
                    "</integer></plist>"),
            "line 1, column 1057: integer \"" + std::string(39, '1') + "...\" is not a 64-bit integer");

  for (std::int64_t i : {std::numeric_limits<std::int64_t>::min(), std::int64_t{0},
                         std::numeric_limits<std::int64_t>::max()}) {
    auto back = as<Integer>(roundTrip(makeInteger(i)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->value(), i);
  }
}

TEST(XmlPropertyList, RealsRoundTripExactly) {
  for (double d : {0.1, -0.0, 1e308, -2.5e-300, 5e-324, 123456789.125,
                   std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()}) {
    auto back = as<Real>(roundTrip(makeReal(d)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->value(), d);
    EXPECT_EQ(std::signbit(back->value()), std::signbit(d));
  }
  EXPECT_TRUE(std::isnan(as<Real>(roundTrip(makeReal(std::nan(""))))->value()));
  EXPECT_EQ(write(makeReal(0.1)), std::string(kHead) + "<real>0.1</real>\n</plist>\n");
  EXPECT_EQ(as<Real>(read(plist("<real>+1E3</real>")))->value(), 1000.0);
  EXPECT_EQ(as<Real>(read(plist("<real>-inf</real>")))->value(),
            -std::numeric_limits<double>::infinity());
  for (const char* bad : {"", "1.2.3", "abc", "1e400", "0x10", "++1", "1,5"})
    EXPECT_NE(refusal(plist(std::string("<real>") + bad + "</real>")), "") << bad;
}

TEST(XmlPropertyList, DatesKeepFractionsAndCalendar) {
  auto date = [](const std::string& text) {
    auto value = as<Date>(read(plist("<date>" + text + "</date>")));
    return value ? value->secondsSinceReference() : std::nan("");
  };
  EXPECT_EQ(date("2001-01-01T00:00:00Z"), 0.0);
  EXPECT_EQ(date("2001-01-01T00:00:01.5Z"), 1.5);
  EXPECT_EQ(date("2000-12-31T23:59:59.9Z"), -0.1);
  EXPECT_EQ(date("2024-02-29T12:00:00Z"), 730900800.0);
  EXPECT_EQ(date("1970-01-01T00:00:00Z"), -Date::kUnixEpochOffset);
  for (const char* bad : {"2023-02-29T00:00:00Z", "2001-13-01T00:00:00Z",
                          "2001-01-01T24:00:00Z", "2001-01-01T00:00:00", "2001-01-01T00:00:00.Z",
                          "2001-01-01 00:00:00Z", "2001-01-01T00:00:00+01:00", "01-01-01T00:00Z",
                          "2001-1-01T00:00:00Z"})
    EXPECT_NE(refusal(plist(std::string("<date>") + bad + "</date>")), "") << bad;

  for (double d : {0.0, 0.25, -0.1, -1e-9, 1e-300, 712345678.123456, -31622400.5,
                   -63145526400.0, 252423993599.75}) {
    auto back = as<Date>(roundTrip(makeDate(d)));
    ASSERT_TRUE(back) << d;
    EXPECT_EQ(back->secondsSinceReference(), d);
  }
  EXPECT_EQ(write(makeDate(-0.1)),
            std::string(kHead) + "<date>2000-12-31T23:59:59.9Z</date>\n</plist>\n");
  EXPECT_EQ(write(makeDate(-63145526400.0)),
            std::string(kHead) + "<date>0000-01-01T00:00:00Z</date>\n</plist>\n");
}

TEST(XmlPropertyList, DataIsBase64WithLineBreaks) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes.push_back(static_cast<char>(i * 7));
  std::string text = write(makeData(bytes));
  // 100 bytes are 136 characters: one full line of 76 and one of 60.
  EXPECT_NE(text.find("<data>\n"), std::string::npos);
  EXPECT_NE(text.find("\n</data>\n"), std::string::npos);
  auto back = as<Data>(read(text));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->view(), bytes);

  auto data = [](const std::string& base64) {
    auto value = as<Data>(read(plist("<data>" + base64 + "</data>")));
    return value ? std::string(value->view()) : std::string("(refused)");
  };
  EXPECT_EQ(data("\n\tSGVs\r\n bG8=\n"), "Hello");
  EXPECT_EQ(data("SGk="), "Hi");
  EXPECT_EQ(data("SA=="), "H");
  EXPECT_EQ(data(""), "");
  for (const char* bad : {"SGVsbG8", "SGk", "S===", "SA==SA==", "SG=k", "SGk*", "SGVs bG8==="})
    EXPECT_EQ(data(bad), "(refused)") << bad;
}

TEST(XmlPropertyList, EmptyFormsAndOptionalParts) {
  auto dict = as<Dictionary>(read(
      "<plist><dict><key>a</key><dict/><key>b</key><array/><key>c</key><string/>"
      "<key></key><array></array></dict></plist>"));
  ASSERT_TRUE(dict);
  EXPECT_EQ(dict->count(), 4u);
  EXPECT_EQ(as<Dictionary>(dict->objectForKey("a"))->count(), 0u);
  EXPECT_EQ(as<Array>(dict->objectForKey("b"))->count(), 0u);
  EXPECT_EQ(as<String>(dict->objectForKey("c"))->str(), "");
  EXPECT_TRUE(as<Array>(dict->objectForKey("")));
  // Version attribute of any value, comments and whitespace are fine.
  EXPECT_TRUE(read("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- c -->\n<plist version=\"0.9\">\n"
                   "  <!-- c --> <true/>\n</plist>\n<!-- trailing -->\n"));
}

TEST(XmlPropertyList, NestingStopsAtTheLimit) {
  std::string error;
  ValueRef deepest = nested(kMaxXmlNestingDepth);
  ValueRef back = read(write(deepest), &error);
  EXPECT_TRUE(isEqual(back, deepest)) << error;

  std::string tooDeep = "<plist>";
  for (std::size_t i = 0; i <= kMaxXmlNestingDepth; ++i) tooDeep += "<array>";
  EXPECT_EQ(refusal(tooDeep), "line 1, column 3592: containers nested deeper than 512 levels");
  // Far deeper input fails the same way, without exhausting the stack.
  std::string hostile = "<plist>";
  for (int i = 0; i < 200000; ++i) hostile += "<dict><key>k</key>";
  EXPECT_NE(refusal(hostile), "");

  std::string out = "unchanged";
  EXPECT_FALSE(writeXMLPropertyList(nested(kMaxXmlNestingDepth + 1), &out, &error));
  EXPECT_EQ(error, "containers nested deeper than 512 levels (or a container holds itself)");
  EXPECT_EQ(out, "unchanged");
  auto cycle = makeMutableArray();
  cycle->addObject(makeInteger(1));
  cycle->addObject(cycle);
  EXPECT_FALSE(writeXMLPropertyList(cycle, &out, &error));
  cycle->removeAllObjects();  // break the cycle so the array is freed
}

TEST(XmlPropertyList, StructuralMistakesAreRefused) {
  EXPECT_EQ(refusal(""), "line 1, column 1: no element found");
  EXPECT_EQ(refusal("<plist><string>a</plist>"),
            "line 1, column 19: mismatched tag");
  EXPECT_EQ(refusal("<plist></plist>"), "line 1, column 8: <plist> holds no value");
  EXPECT_EQ(refusal("<dict></dict>"), "line 1, column 1: the root element is not <plist>");
  EXPECT_EQ(refusal("<plist><integer>1</integer><integer>2</integer></plist>"),
            "line 1, column 28: more than one root value");
  EXPECT_EQ(refusal("<plist><dict><key>a</key></dict></plist>"),
            "line 1, column 26: key \"a\" has no value");
  EXPECT_EQ(refusal("<plist><dict><key>a</key><key>b</key><true/></dict></plist>"),
            "line 1, column 26: key \"a\" has no value");
  EXPECT_EQ(refusal("<plist><dict><true/></dict></plist>"),
            "line 1, column 14: value without a key in a dictionary");
  EXPECT_EQ(refusal("<plist><array><key>a</key></array></plist>"),
            "line 1, column 15: <key> outside a dictionary");
  EXPECT_EQ(refusal("<plist><dict><key>a</key><true/><key>a</key><false/></dict></plist>"),
            "line 1, column 53: a key appears twice in one dictionary");
  EXPECT_EQ(refusal("<plist><array><set/></array></plist>"),
            "line 1, column 15: unknown element \"set\"");
  EXPECT_EQ(refusal("<plist><string>a<b/></string></plist>"),
            "line 1, column 17: element \"b\" inside a value");
  EXPECT_EQ(refusal("<plist><array>x<true/></array></plist>"),
            "line 1, column 15: text outside a value");
  EXPECT_EQ(refusal("<plist>x<true/></plist>"), "line 1, column 8: text outside a value");
  EXPECT_EQ(refusal("<plist><true>x</true></plist>"),
            "line 1, column 15: <true/> and <false/> hold no text");
  EXPECT_EQ(refusal("<plist><true/></plist><plist/>"),
            "line 1, column 23: junk after document element");
  EXPECT_EQ(refusal("<plist><plist><true/></plist></plist>"),
            "line 1, column 8: <plist> inside <plist>");
  EXPECT_EQ(refusal("<!DOCTYPE html><plist><true/></plist>"),
            "line 1, column 15: document type is \"html\", not plist");
  EXPECT_EQ(refusal("<plist><string>\xC3</string></plist>"),
            "line 1, column 16: not well-formed (invalid token)");
  // Mutable containers take the other path through dictionaries.
  std::string error;
  EXPECT_FALSE(read("<plist><dict><key>a</key><true/><key>a</key><false/></dict></plist>",
                    &error, Mutability::kMutableContainers));
  EXPECT_EQ(error, "line 1, column 53: a key appears twice in one dictionary");
}

TEST(XmlPropertyList, EntityDeclarationsAndExternalEntitiesAreRefused) {
  std::string laughs =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n"
      "<!ENTITY lol \"lol\">\n"
      "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
      "]>\n<plist><string>&lol3;</string></plist>\n";
  EXPECT_EQ(refusal(laughs), "line 2, column 17: declarations inside DOCTYPE are not allowed");

  std::string external =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE plist [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>\n"
      "<plist><string>&xxe;</string></plist>\n";
  EXPECT_EQ(refusal(external), "line 2, column 17: declarations inside DOCTYPE are not allowed");

  // With an external DTD the reference is left undefined; it must not pass.
  std::string undefined =
      "<!DOCTYPE plist SYSTEM \"file:///etc/passwd\">\n<plist><string>&passwd;</string></plist>";
  EXPECT_EQ(refusal(undefined), "line 2, column 16: undefined entity &passwd;");
  EXPECT_EQ(refusal("<plist><string>&passwd;</string></plist>"),
            "line 1, column 16: undefined entity");
}

TEST(XmlPropertyList, StreamingInPiecesMatchesWholeReading) {
  auto root = makeMutableArray();
  for (int i = 0; i < 50; ++i) {
    auto record = makeMutableDictionary();
    record->setObject(makeString("name \xE2\x82\xAC " + std::to_string(i)), "name");
    record->setObject(makeData(std::string(60, static_cast<char>(i))), "blob");
    root->addObject(record);
  }
  std::string text = write(root);
  XmlPropertyListReader reader(Mutability::kImmutable);
  std::string error;
  for (char c : text) ASSERT_TRUE(reader.feed(std::string_view(&c, 1), &error)) << error;
  EXPECT_TRUE(isEqual(reader.finish(&error), root)) << error;

  XmlPropertyListReader failing(Mutability::kImmutable);
  EXPECT_FALSE(failing.feed("<plist><oops/>", &error));
  std::string again;
  EXPECT_FALSE(failing.feed("</plist>", &again));
  EXPECT_FALSE(failing.finish(&again));
  EXPECT_EQ(again, error);
}

TEST(XmlPropertyList, WriterRefusesWhatXmlCannotCarry) {
  auto refusedFor = [](const ValueRef& value) {
    std::string out, error;
    EXPECT_FALSE(writeXMLPropertyList(value, &out, &error));
    return error;
  };
  EXPECT_EQ(refusedFor(nullptr), "there is no value to write");
  auto dict = makeMutableDictionary();
  dict->setObject(std::make_shared<ForeignValue>("a socket"), "k");
  EXPECT_EQ(refusedFor(dict), "not a property value: a socket");
  EXPECT_EQ(refusedFor(makeString("bad \xC3")), "string is not valid UTF-8");
  EXPECT_EQ(refusedFor(makeString("\xC0\x80")), "string is not valid UTF-8");  // overlong
  EXPECT_EQ(refusedFor(makeString("\xED\xA0\x80")), "string is not valid UTF-8");  // surrogate
  EXPECT_EQ(refusedFor(makeString("\xF4\x90\x80\x80")), "string is not valid UTF-8");
  EXPECT_EQ(refusedFor(makeString(std::string("nul\0", 4))),
            "string holds a character that XML 1.0 cannot carry");
  EXPECT_EQ(refusedFor(makeString("bell\a")),
            "string holds a character that XML 1.0 cannot carry");
  EXPECT_EQ(refusedFor(makeString("\xEF\xBF\xBE")),
            "string holds a character that XML 1.0 cannot carry");
  auto badKey = makeMutableDictionary();
  badKey->setObject(makeInteger(1), "\xFF");
  EXPECT_EQ(refusedFor(badKey), "key is not valid UTF-8");
  EXPECT_EQ(refusedFor(makeDate(-63145526400.5)), "date is outside the years 0000 to 9999");
  EXPECT_EQ(refusedFor(makeDate(252423993600.0)), "date is outside the years 0000 to 9999");
  EXPECT_EQ(refusedFor(makeDate(1e12)), "date is outside the years 0000 to 9999");
  EXPECT_EQ(refusedFor(makeDate(std::nan(""))), "date is outside the years 0000 to 9999");
}

TEST(XmlPropertyList, RecognizesXmlByItsStart) {
  EXPECT_TRUE(looksLikeXMLPropertyList("<?xml version=\"1.0\"?>"));
  EXPECT_TRUE(looksLikeXMLPropertyList("\xEF\xBB\xBF\n  <!DOCTYPE plist"));
  EXPECT_TRUE(looksLikeXMLPropertyList("<plist>"));
  EXPECT_FALSE(looksLikeXMLPropertyList("<0a0b>"));  // old-style data
  EXPECT_FALSE(looksLikeXMLPropertyList("{ a = b; }"));
  EXPECT_FALSE(looksLikeXMLPropertyList("bplist00"));
}

}  // namespace
}  // namespace steward
