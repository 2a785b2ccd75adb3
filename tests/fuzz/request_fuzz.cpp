// Request bytes through the request path as the entry runs it, for an
// administrator: context loaded and locked, command run, reply made, context
// saved. A non-empty request gets a reply dictionary unless an exception
// leaves the request cycle (the entry's outer guard takes it), and the saved
// context reads back without the caller. The commands change the machine, so
// this runs only on the private root of tests/fuzz/sandboxed.sh.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "host/CallerIdentity.h"
#include "host/ContextStore.h"
#include "host/Entry.h"
#include "CommonLib/WholeFile.h"
#include "platform/Archiver.h"
#include "platform/XmlPropertyList.h"

using namespace steward;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The sandbox's shutdown is a stand-in: nothing real can be reached.
  std::string shutdown;
  if (!std::getenv("STEWARD_FUZZ_SANDBOX") || !readWholeFile("/usr/sbin/shutdown", &shutdown) ||
      shutdown.find("# stand-in\n") == std::string::npos) {
    std::fprintf(stderr, "run this through tests/fuzz/sandboxed.sh\n");
    std::exit(2);
  }
  setenv("REMOTE_USER", "alice", 1);
  setenv("SCRIPT_FILENAME", "/usr/lib/stewardd/bin/steward_info", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<std::string> input(std::in_place, reinterpret_cast<const char*>(data), size);
  int lockFileFD = -1;
  MutableDictionaryRef context = get_and_lock_context("steward_info", &lockFileFD);
  if (!add_user_to_context(context)) std::abort();
  std::string output, error;
  bool thrown = false;  // as by a malformed batch: the entry logs it and answers nothing
  try {
    output = answer_request(input, "steward_info", context, lockFileFD);
  } catch (...) {
    thrown = true;
  }
  if (size > 0 && !thrown &&
      !as<Dictionary>(readXMLPropertyList(output, Mutability::kImmutable, &error)))
    std::abort();
  remove_user_from_context(context);
  set_and_unlock_context(&lockFileFD, &context);
  std::string saved;
  auto stored = readWholeFile(context_file_path("steward_info"), &saved)
                    ? as<Dictionary>(unarchiveObjectWithData(saved)) : nullptr;
  if (!stored || stored->objectForKey("_user_")) std::abort();
  return 0;
}
