// Crashes in the middle of a request.
#include <signal.h>
#include <unistd.h>

#include "host/StewardBundle.h"

namespace {

class Crasher : public steward::StewardBundle {
 public:
  steward::DictionaryRef doProcessInput(const steward::DictionaryRef&,
                                        const steward::MutableDictionaryRef&,
                                        int&) override {
    kill(getpid(), SIGSEGV);
    return nullptr;
  }
};

}  // namespace

STEWARD_PRINCIPAL_CLASS(Crasher)
