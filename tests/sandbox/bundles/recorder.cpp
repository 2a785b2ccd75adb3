// Counts its runs in its context and answers with what it was given.
#include "host/StewardBundle.h"

namespace {

using namespace steward;

class Recorder : public StewardBundle {
 public:
  DictionaryRef doProcessInput(const DictionaryRef& request,
                               const MutableDictionaryRef& context,
                               int&) override {
    IntegerRef before = as<Integer>(context->objectForKey("runs"));
    auto runs = makeInteger(before ? before->value() + 1 : 1);
    context->setObject(runs, "runs");
    auto reply = makeMutableDictionary();
    reply->setObject(request->objectForKey("command"), "asked");
    reply->setObject(runs, "runs");
    if (ValueRef user = context->objectForKey("_user_")) {
      reply->setObject(user, "user");
    }
    return reply;
  }
  int doProcessArgs(int argc, char** argv, const MutableDictionaryRef& context,
                    int&) override {
    MutableArrayRef arguments = makeMutableArray();
    for (int i = 0; i < argc; ++i) arguments->addObject(makeString(argv[i]));
    context->setObject(arguments, "argv");
    return 0;
  }
};

}  // namespace

STEWARD_PRINCIPAL_CLASS(Recorder)
