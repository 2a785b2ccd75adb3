// Arguments (the input's lines up to an empty one) and variables (a name byte,
// a length byte, the data): a run refuses in one line or none, prints "name
// TAB value" lines, writes only BootOrder and BootNext, and the boot device
// it shows, given back, stays first.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "nvram/Nvram.h"
#include "tests/nvram/FakeFirmware.h"

using steward::nvram::Nvram;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const char* const names[] = {"BootOrder", "BootNext", "Boot0000", "Boot0001"};
  static const std::string root = "/tmp/nvram_fuzz/";
  std::filesystem::create_directories(root);
  std::string_view in(reinterpret_cast<const char*>(bytes), size);
  std::vector<std::string> arguments;
  while (!in.empty() && in[0] != '\n') {
    std::size_t end = std::min(in.find('\n'), in.size());
    arguments.emplace_back(in.substr(0, end));
    in.remove_prefix(std::min(end + 1, in.size()));
  }
  steward::FakeFirmwareVariables firmware;
  for (in.remove_prefix(std::min<std::size_t>(1, in.size())); in.size() >= 2;) {
    std::size_t length = std::min<std::size_t>(static_cast<unsigned char>(in[1]), in.size() - 2);
    firmware.variables[names[in[0] & 3]] = {7, std::string(in.substr(2, length))};
    in.remove_prefix(2 + length);
  }
  auto before = firmware.variables;
  auto run = [&](const std::vector<std::string>& arguments, std::string* out) {
    std::string err;
    int status = Nvram(firmware, root, root + "lock").run(arguments, out, &err);
    bool oneLine = std::count(err.begin(), err.end(), '\n') == 1 && err.back() == '\n';
    if (status == 0 ? !err.empty() : !oneLine) std::abort();
    return status;
  };
  std::string out;
  run(arguments, &out);
  auto control = [](char c) { return (c >= 0 && c < 0x20 && c != '\t' && c != '\n') || c == 0x7f; };
  if (std::count(out.begin(), out.end(), '\t') != std::count(out.begin(), out.end(), '\n') ||
      std::any_of(out.begin(), out.end(), control))
    std::abort();
  for (const auto& [name, variable] : firmware.variables) {
    bool same = before.count(name) && before[name].data == variable.data;
    if (!same && name != "BootOrder" && name != "BootNext") std::abort();
  }
  std::string shown, again;
  if (run({"boot-device"}, &shown) != 0) return 0;
  std::string value = shown.substr(shown.find('\t') + 1, shown.size() - shown.find('\t') - 2);
  if (run({"boot-device=" + value, "boot-device"}, &again) != 0 || again != shown) std::abort();
  return 0;
}
