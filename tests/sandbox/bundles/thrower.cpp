// Both operations throw.
#include <stdexcept>

#include "host/StewardBundle.h"

namespace {

using namespace steward;

class Thrower : public StewardBundle {
 public:
  DictionaryRef doProcessInput(const DictionaryRef&, const MutableDictionaryRef&,
                               int&) override {
    throw std::runtime_error("thrower gave up");
  }
  int doProcessArgs(int, char**, const MutableDictionaryRef&, int&) override {
    throw std::runtime_error("thrower gave up");
  }
};

}  // namespace

STEWARD_PRINCIPAL_CLASS(Thrower)
