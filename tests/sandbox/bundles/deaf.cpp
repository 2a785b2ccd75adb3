// A principal class whose instances respond to neither operation.
#include "host/StewardBundle.h"

namespace {

int instances = 0;

const steward::StewardBundleClass kDeaf = {
    [] { return static_cast<void*>(&++instances); },
    [](void*) { --instances; },
    nullptr,
    nullptr,
};

}  // namespace

extern "C" const void* steward_principal_class() { return &kDeaf; }
