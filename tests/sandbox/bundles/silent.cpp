// The base class's answers: no reply, nothing done.
#include "host/StewardBundle.h"

namespace {
class Silent : public steward::StewardBundle {};
}  // namespace

STEWARD_PRINCIPAL_CLASS(Silent)
