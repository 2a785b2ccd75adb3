// What a tool bundle's code offers the batch controller. A bundle's
// principal class is described by a StewardBundleClass that the code's
// exported `steward_principal_class` answers: how to make and drop an
// instance, and the operations its instances respond to. Classes derived
// from StewardBundle get their description from STEWARD_PRINCIPAL_CLASS.
//
// Bundle code runs inside the tool's process and uses the tool's own
// property values: it is linked against nothing of ours and finds those
// symbols in the executable.
#pragma once

#include "platform/PropertyValue.h"

namespace steward {

class StewardBundle {
 public:
  virtual ~StewardBundle() = default;

  // The reply to one request of a batch; none by default.
  virtual DictionaryRef doProcessInput(const DictionaryRef& request,
                                       const MutableDictionaryRef& context,
                                       int& lockFileFD) {
    (void)request, (void)context, (void)lockFileFD;
    return nullptr;
  }
  // Handles a relay run's arguments; 0 by default.
  virtual int doProcessArgs(int argc, char** argv,
                            const MutableDictionaryRef& context,
                            int& lockFileFD) {
    (void)argc, (void)argv, (void)context, (void)lockFileFD;
    return 0;
  }
};

struct StewardBundleClass {
  void* (*make)();
  void (*drop)(void* instance);
  // None where the instances do not respond to the operation.
  DictionaryRef (*doProcessInput)(void* instance, const DictionaryRef& request,
                                  const MutableDictionaryRef& context,
                                  int& lockFileFD);
  int (*doProcessArgs)(void* instance, int argc, char** argv,
                       const MutableDictionaryRef& context, int& lockFileFD);
};

// The description of a class derived from StewardBundle.
template <class T>
const StewardBundleClass* principalClassOf() {
  static const StewardBundleClass description = {
      [] { return static_cast<void*>(static_cast<StewardBundle*>(new T)); },
      [](void* instance) { delete static_cast<StewardBundle*>(instance); },
      [](void* instance, const DictionaryRef& request,
         const MutableDictionaryRef& context, int& lockFileFD) {
        return static_cast<StewardBundle*>(instance)->doProcessInput(
            request, context, lockFileFD);
      },
      [](void* instance, int argc, char** argv,
         const MutableDictionaryRef& context, int& lockFileFD) {
        return static_cast<StewardBundle*>(instance)->doProcessArgs(
            argc, argv, context, lockFileFD);
      },
  };
  return &description;
}

}  // namespace steward

// Names T as the principal class of the bundle whose code this is.
#define STEWARD_PRINCIPAL_CLASS(T)                              \
  extern "C" const void* steward_principal_class() {            \
    return ::steward::principalClassOf<T>();                    \
  }
