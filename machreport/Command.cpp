#include "machreport/Command.h"

#include "machreport/Sources.h"
#include "platform/XmlPropertyList.h"

namespace steward::machreport {

namespace {

constexpr const char* kUsage =
    "usage: machreport [-detailLevel 0|1|-1] [-xml] [-root DIR]\n";

struct Options {
  Detail detail = Detail::kUsual;
  bool xml = false;
  std::string root = "/";
};

bool parseOptions(const std::vector<std::string>& arguments, Options* options) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    bool hasValue = i + 1 < arguments.size();
    if (argument == "-xml") {
      options->xml = true;
    } else if (argument == "-detailLevel" && hasValue) {
      const std::string& level = arguments[++i];
      if (level == "0")
        options->detail = Detail::kBasic;
      else if (level == "1")
        options->detail = Detail::kUsual;
      else if (level == "-1")
        options->detail = Detail::kFull;
      else
        return false;
    } else if (argument == "-root" && hasValue && !arguments[i + 1].empty()) {
      options->root = arguments[++i];
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int runMachreport(const std::vector<std::string>& arguments, std::string* out,
                  std::string* err) {
  Options options;
  if (!parseOptions(arguments, &options)) {
    *err = kUsage;
    return kExitUsage;
  }
  std::vector<Section> sections =
      collectProfile(FileTree(options.root), options.detail);
  if (!options.xml) {
    *out = formatText(sections);
    return 0;
  }
  std::string error;
  // Every value went through printable(), so the writer has nothing to refuse.
  if (!writeXMLPropertyList(toPropertyList(sections), out, &error)) {
    *err = "machreport: " + error + "\n";
    return 1;
  }
  return 0;
}

}  // namespace steward::machreport
