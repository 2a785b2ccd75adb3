// The test bundles; BUNDLE_<name> picks one.
#include <stdexcept>

#include "host/StewardBundle.h"

// A named namespace: the bundles' own names must not meet the tool's, while
// the principal-class functions keep their C names.
namespace test_bundle {

using namespace steward;

#if defined(BUNDLE_recorder)
// Counts its runs in its context and answers with what it was given.
class Recorder : public StewardBundle {
 public:
  DictionaryRef doProcessInput(const DictionaryRef& request,
                               const MutableDictionaryRef& context, int&) override {
    IntegerRef before = as<Integer>(context->objectForKey("runs"));
    auto runs = makeInteger(before ? before->value() + 1 : 1);
    context->setObject(runs, "runs");
    auto reply = makeMutableDictionary();
    reply->setObject(request->objectForKey("command"), "asked");
    reply->setObject(runs, "runs");
    if (ValueRef user = context->objectForKey("_user_")) reply->setObject(user, "user");
    return reply;
  }
  int doProcessArgs(int argc, char** argv, const MutableDictionaryRef& context, int&) override {
    MutableArrayRef arguments = makeMutableArray();
    for (int i = 0; i < argc; ++i) arguments->addObject(makeString(argv[i]));
    context->setObject(arguments, "argv");
    return 0;
  }
};
STEWARD_PRINCIPAL_CLASS(Recorder)
#elif defined(BUNDLE_thrower)
class Thrower : public StewardBundle {
 public:
  DictionaryRef doProcessInput(const DictionaryRef&, const MutableDictionaryRef&, int&) override {
    throw std::runtime_error("thrower gave up");
  }
  int doProcessArgs(int, char**, const MutableDictionaryRef&, int&) override {
    throw std::runtime_error("thrower gave up");
  }
};
STEWARD_PRINCIPAL_CLASS(Thrower)
#elif defined(BUNDLE_silent)
// The base class's answers: no reply, nothing done.
class Silent : public StewardBundle {};
STEWARD_PRINCIPAL_CLASS(Silent)
#elif defined(BUNDLE_deaf)
// Instances that respond to neither operation.
int instances = 0;
const StewardBundleClass kDeaf = {
    [] { return static_cast<void*>(&++instances); }, [](void*) { --instances; }, nullptr, nullptr};
extern "C" const void* steward_principal_class() { return &kDeaf; }
#elif defined(BUNDLE_classless)
extern "C" const void* steward_principal_class() { return nullptr; }
#elif defined(BUNDLE_recurser)
// Overflows the stack.
long depth(volatile char* previous, long remaining) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(previous ? previous[0] + 1 : 0);
  return remaining == 0 ? frame[0] : depth(frame, remaining - 1) + frame[1];
}
class Recurser : public StewardBundle {
 public:
  DictionaryRef doProcessInput(const DictionaryRef&, const MutableDictionaryRef&, int&) override {
    (void)depth(nullptr, 1L << 40);
    return nullptr;
  }
};
STEWARD_PRINCIPAL_CLASS(Recurser)
#endif

}  // namespace test_bundle
