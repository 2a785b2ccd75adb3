#include "CommonLib/ConfigurationParser.h"

#include <errno.h>

#include <gtest/gtest.h>

#include "platform/PropertyList.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ValueBuilders.h"

namespace steward {
namespace {

// "<process>: <rest>", as the parser logs it.
std::string logged(const std::string& rest) {
  return std::string(program_invocation_short_name) + ": " + rest;
}

TEST(ConfigurationParser, TextBecomesTypedValuesAndBack) {
  ScratchDirectory dir;
  dir.write("types.strings", "/* how values are written */\n"
            "\"ports\" = \"Array Integer ,\"; \"list\" = \"Array Integer\";\n"
            "\"flags\" = \"Array Boolean\"; \"reals\" = \"Array Real ,\";\n"
            "\"enabled\" = \"Boolean\"; \"power\" = \"Boolean on off\";\n"
            "\"odd\" = \"Boolean on\"; \"ratio\" = \"Real\";\n"
            "\"count\" = \"Integer\"; \"name\" = \"String\";\n");
  ConfigurationParser parser(dir.path("config.plist"), dir.path("types.strings"));
  const std::tuple<const char*, const char*, ValueRef> cases[] = {
      {"ports", " 1, 2 ,3 ", arrayOf({makeInteger(1), makeInteger(2), makeInteger(3)})},
      {"list", "1  2", arrayOf({makeInteger(1), makeInteger(0), makeInteger(2)})},
      {"flags", "yes no", arrayOf({makeString("yes"), makeString("no")})},
      {"enabled", "True", makeBoolean(true)}, {"enabled", "yes", makeBoolean(true)},
      {"enabled", "1", makeBoolean(true)}, {"enabled", "on", makeBoolean(false)},
      {"power", "ON", makeBoolean(true)}, {"power", "off", makeBoolean(false)},
      {"power", "maybe", makeBoolean(false)},
      {"odd", "on", makeString("on")},  // two words are no Boolean declaration
      {"ratio", "0.1", makeReal(0.1f)}, {"count", "42abc", makeInteger(42)},
      {"count", "none", makeInteger(0)}, {"count", "-99999999999", makeInteger(INT32_MIN)},
      {"other", "  padded\t", makeString("padded")},
  };
  for (const auto& [key, text, value] : cases)
    EXPECT_TRUE(isEqual(parser.objectForKey(key, text), value)) << key << text;
  EXPECT_TRUE(parser.objectForKey("ports", "1")->isMutable());

  // Reals are written in the shortest text that reads back to the value.
  const std::tuple<const char*, ValueRef, const char*> written[] = {
      {"ports", arrayOf({makeInteger(1), makeInteger(2), makeInteger(3)}), "1,2,3"},
      {"enabled", makeBoolean(true), "yes"}, {"power", makeBoolean(false), "off"},
      {"count", makeInteger(-7), "-7"}, {"ratio", makeReal(0.1f), "0.1"},
      {"ratio", makeReal(3.14159265358979), "3.14159265358979"},
      {"reals", arrayOf({makeReal(0.1f), makeReal(2.5), makeReal(1e300), makeReal(0.1)}),
       "0.1,2.5,1e+300,0.1"},
  };
  for (const auto& [key, value, text] : written)
    EXPECT_EQ(textOf(parser.stringForKey(key, value)), text) << text;
  // The value itself where no text is made.
  ValueRef value = makeString(" kept ");
  for (const char* key : {"other", "name", "ports"})
    EXPECT_EQ(parser.stringForKey(key, value), value) << key;
}

TEST(ConfigurationParser, FailuresAreLoggedAndCollected) {
  LogCapture capture;
  ScratchDirectory dir;
  std::string missing = dir.path("missing.plist");
  ConfigurationParser parser(missing);
  EXPECT_EQ(parser.readStatus(), ConfigurationParserFileNotFound);
  EXPECT_EQ(parser.globalError(), "readFile: File " + missing + " not found");
  EXPECT_EQ(parser.errors()->count(), 0u);

  dir.write("garbage.plist", "<plist><dict><key>a</key></dict></plist>");
  parser.setFile(dir.path("garbage.plist"));
  EXPECT_FALSE(parser.readFile());
  EXPECT_EQ(parser.readStatus(), ConfigurationParserInvalidPlist);
  EXPECT_EQ(parser.globalError(), "multiple_errors");
  EXPECT_TRUE(isEqual(parser.errors(),
                      arrayOf({makeString("readFile: File " + missing + " not found"),
                               makeString("readFile: File " + dir.path("garbage.plist") +
                                          " is not a valid plist")})));

  // Writing where a directory stands fails for no cause the file shows.
  parser.setFile(dir.path(""));
  EXPECT_FALSE(parser.writeFile());
  EXPECT_EQ(parser.writeStatus(), ConfigurationParserOtherError);
  parser.setFile(std::nullopt);
  EXPECT_FALSE(parser.writeFile());
  EXPECT_EQ(parser.writeStatus(), ConfigurationParserNoFilePath);

  dir.write("bad.strings", "\"unterminated = ;");
  parser.setTypesDictionaryFromStringsFile(dir.path("bad.strings"));
  EXPECT_FALSE(parser.typesDictionary());
  EXPECT_EQ(parser.errors()->count(), 5u);

  EXPECT_EQ(capture.texts(), std::vector<std::string>(
      {logged("readFile File " + missing + " not found"),
       logged("readFile File " + dir.path("garbage.plist") + " is not a valid plist"),
       logged("writeFile Couldn't read file " + dir.path("") + " - unknown error"),
       logged("writeFile File path not specified"),
       logged("setTypesDictionaryFromStringsFile File " + dir.path("bad.strings") +
              " is not a valid strings file")}));
  EXPECT_EQ(capture.lines().at(0).priority, 11);
  EXPECT_EQ(capture.lines().at(4).priority, 12);
}

TEST(ConfigurationParser, DefaultsFillInWhatIsMissingAndAreWrittenBack) {
  ScratchDirectory dir;
  auto n = [](int value) { return makeInteger(value); };
  auto id = [](const char* value) { return makeString(value); };
  std::string config = dir.path("populated.plist");
  auto onDisk = [&] {
    return propertyListFromFile(config, Mutability::kImmutable, nullptr, nullptr);
  };
  dir.write("defaults.plist", xmlOf(dictionaryOf(
      {{"net", dictionaryOf({{"a", n(2)}, {"b", n(3)}})},
       {"records", arrayOf({dictionaryOf({{"_id_", id("x")}, {"p", n(9)}, {"q", n(1)}}),
                            dictionaryOf({{"_id_", id("y")}})})},
       {"top", makeString("t")}})));
  // A missing file is made of the defaults; its absence stays reported.
  ConfigurationParser created(config, std::nullopt, dir.path("defaults.plist"), true);
  EXPECT_EQ(created.globalError(), "readFile: File " + config + " not found");
  EXPECT_TRUE(isEqual(onDisk(), created.defaultsDictionary()));

  // Present values win, nested dictionaries and records are filled in.
  dir.write("populated.plist", xmlOf(dictionaryOf(
      {{"net", dictionaryOf({{"a", n(1)}})},
       {"records", arrayOf({dictionaryOf({{"_id_", id("x")}, {"p", n(1)}})})},
       {"top", makeString("mine")}})));
  ConfigurationParser merged(config, std::nullopt, dir.path("defaults.plist"), true);
  auto expected = dictionaryOf(
      {{"net", dictionaryOf({{"a", n(1)}, {"b", n(3)}})},
       {"records", arrayOf({dictionaryOf({{"_id_", id("x")}, {"p", n(1)}, {"q", n(1)}}),
                            dictionaryOf({{"_id_", id("y")}})})},
       {"top", makeString("mine")}});
  EXPECT_TRUE(isEqual(merged.dictionary(), expected));
  EXPECT_TRUE(isEqual(onDisk(), expected));
  EXPECT_FALSE(merged.populateMissingParametersInDictionary(merged.dictionary(),
                                                            merged.defaultsDictionary()));

  // Nothing to add, or a file that does not parse: the file is not touched.
  std::string before = dir.read("populated.plist");
  for (const std::string& text : {before + "\n", std::string("<plist><dict><key>host</key>\n")}) {
    dir.write("populated.plist", text);
    ConfigurationParser untouched(config, std::nullopt, dir.path("defaults.plist"), true);
    EXPECT_EQ(dir.read("populated.plist"), text);
  }
}

}  // namespace
}  // namespace steward
