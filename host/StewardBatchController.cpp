#include "host/StewardBatchController.h"

#include <dirent.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "host/CallerIdentity.h"
#include "host/ContextStore.h"
#include "host/Entry.h"
#include "host/ExceptionGuard.h"
#include "host/RecordedDispatch.h"
#include "host/StewardBundle.h"
#include "host/SystemLog.h"
#include "platform/Archiver.h"
#include "platform/BundleLoader.h"
#include "platform/Format.h"

namespace steward {

namespace {

// "<directory>/<name>.bundle"
std::string bundlePath(const std::string& directory, std::string_view name) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  return path.append(name).append(".bundle");
}

// The name without its path extension.
std::string_view withoutExtension(std::string_view name) {
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// A bundle is named by one path component: a name from a request must not
// lead the loader to code outside the bundle directory.
bool isPlainName(const StringRef& name) {
  return name && !name->str().empty() && name->str() != "." && name->str() != ".." &&
         name->str().find('/') == std::string::npos;
}

bool isOwn(const StringRef& name, const StringRef& callerName) {
  return name && callerName && name->str() == callerName->str();
}

DictionaryRef errorReply(const char* code) {
  auto reply = makeMutableDictionary();
  reply->setObject(makeString(code), "error");
  return reply;
}

// A new instance of a bundle's principal class, dropped with it; the
// bundle's code stays loaded.
class BundleInstance {
 public:
  // None when the bundle cannot be opened or loaded, names no class, or the
  // class makes no instance.
  static std::unique_ptr<BundleInstance> make(const StringRef& launchPath) {
    if (!launchPath) return nullptr;
    std::unique_ptr<Bundle> bundle = Bundle::bundleWithPath(launchPath->str());
    if (!bundle || !bundle->load()) return nullptr;
    auto* type = static_cast<const StewardBundleClass*>(bundle->principalClass());
    if (!type || !type->make || !type->drop) return nullptr;
    void* instance = type->make();
    if (!instance) return nullptr;
    return std::unique_ptr<BundleInstance>(new BundleInstance(type, instance));
  }
  ~BundleInstance() { type_->drop(instance_); }
  BundleInstance(const BundleInstance&) = delete;
  BundleInstance& operator=(const BundleInstance&) = delete;

  const StewardBundleClass& type() const { return *type_; }
  void* instance() const { return instance_; }

 private:
  BundleInstance(const StewardBundleClass* type, void* instance)
      : type_(type), instance_(instance) {}

  const StewardBundleClass* type_;
  void* instance_;
};

// Names the bundle in a crash report while it is alive.
class BundleLabel {
 public:
  explicit BundleLabel(const StringRef& name) : text_(name ? name->str() : "") {
    current_bundle_label = name ? text_.c_str() : nullptr;
  }
  ~BundleLabel() { current_bundle_label = nullptr; }
  BundleLabel(const BundleLabel&) = delete;
  BundleLabel& operator=(const BundleLabel&) = delete;

 private:
  std::string text_;
};

// An item's parameters, built in order up to the first missing value.
MutableDictionaryRef itemParameters(const DictionaryRef& item,
                                    const std::string& launchPathDir,
                                    const StringRef& callerName) {
  auto parameters = makeMutableDictionary();
  ValueRef request = item->objectForKey("request");
  if (!request) return parameters;
  parameters->setObject(request, "request");
  StringRef name = as<String>(item->objectForKey("name"));
  if (!name) return parameters;
  parameters->setObject(name, "name");
  parameters->setObject(makeString(bundlePath(launchPathDir, name->str())),
                        "launchPath");
  if (callerName) parameters->setObject(callerName, "callerName");
  return parameters;
}

}  // namespace

DictionaryRef StewardBatchController::processBatchInput(
    const DictionaryRef& request, const std::string&,
    const std::string& launchPathDir, const StringRef& callerName) {
  ValueRef value = request->objectForKey("requestsArray");
  if (!value) return makeMutableDictionary();
  // Malformed batches are left to the entry's outer guard: no reply.
  ArrayRef items = as<Array>(value);
  if (!items) throw std::invalid_argument("requestsArray is not an array");
  MutableArrayRef responses = makeMutableArray();
  for (const ValueRef& element : items->objects()) {
    DictionaryRef item = as<Dictionary>(element);
    if (!item) throw std::invalid_argument("batch item is not a dictionary");
    MutableDictionaryRef parameters =
        itemParameters(item, launchPathDir, callerName);
    {
      BundleLabel label(as<String>(parameters->objectForKey("name")));
      processInputWithParameters(parameters);
    }
    MutableDictionaryRef entry = item->mutableCopy();
    entry->removeObjectForKey("request");
    entry->setObject(parameters->objectForKey("response"), "response");
    responses->addObject(entry);
  }
  auto reply = makeMutableDictionary();
  if (responses->count() > 0) reply->setObject(responses, "responsesArray");
  return reply;
}

void StewardBatchController::processInputWithParameters(
    const MutableDictionaryRef& parameters) {
  DictionaryRef request = as<Dictionary>(parameters->objectForKey("request"));
  StringRef name = as<String>(parameters->objectForKey("name"));
  bool own = isOwn(name, as<String>(parameters->objectForKey("callerName")));
  std::unique_ptr<BundleInstance> bundle;
  // The dispatcher answers a request of another kind as one without a
  // command; a bundle is only ever handed a dictionary.
  if (own && !request) request = makeMutableDictionary();
  if (!own) {
    if (request && isPlainName(name)) {
      bundle = BundleInstance::make(as<String>(parameters->objectForKey("launchPath")));
    }
    if (!bundle) {
      parameters->setObject(errorReply("CANNOT_LOAD_BUNDLE_ERR"), "response");
      return;
    }
  }
  int lockFileFD = -1;
  MutableDictionaryRef context = get_and_lock_context(name->str(), &lockFileFD);
  add_user_to_context(context);
  DictionaryRef reply = replyGuarded([&]() -> DictionaryRef {
    if (own) return dispatch_recorded(request, context, lockFileFD);
    if (!bundle->type().doProcessInput) return errorReply("CANNOT_RUN_BUNDLE_ERR");
    return bundle->type().doProcessInput(bundle->instance(), request, context,
                                         lockFileFD);
  });
  remove_user_from_context(context);
  set_and_unlock_context(&lockFileFD, &context);
  parameters->setObject(reply ? reply : errorReply("UNEXPECTED_COMMAND"),
                        "response");
}

void StewardBatchController::processBatchArgs(int argc, char** argv,
                                              const std::string& launchPathDir,
                                              const StringRef& callerName) {
  DIR* directory = opendir(launchPathDir.c_str());
  if (!directory) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(directory)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(withoutExtension(name));
  }
  closedir(directory);

  MutableArrayRef arguments = makeMutableArray();
  for (int i = 0; i + 1 < argc; ++i) arguments->addObject(makeString(argv[i]));
  for (const std::string& name : names) {
    auto parameters = makeMutableDictionary();
    StringRef bundleName = makeString(name);
    parameters->setObject(bundleName, "name");
    parameters->setObject(arguments, "argvArray");
    parameters->setObject(makeString(bundlePath(launchPathDir, name)),
                          "launchPath");
    if (callerName) parameters->setObject(callerName, "callerName");
    BundleLabel label(bundleName);
    processArgsWithParameters(parameters);
  }
}

void StewardBatchController::processArgsWithParameters(
    const DictionaryRef& parameters) {
  StringRef name = as<String>(parameters->objectForKey("name"));
  StringRef launchPath = as<String>(parameters->objectForKey("launchPath"));
  bool own = isOwn(name, as<String>(parameters->objectForKey("callerName")));
  std::vector<std::string> texts;
  if (ArrayRef array = as<Array>(parameters->objectForKey("argvArray"))) {
    for (const ValueRef& argument : array->objects()) {
      StringRef text = as<String>(argument);
      texts.push_back(text ? text->str() : "");
    }
  }
  std::vector<char*> arguments;
  for (std::string& text : texts) arguments.push_back(text.data());
  arguments.push_back(nullptr);
  int argc = static_cast<int>(texts.size());
  std::string path = launchPath ? launchPath->str() : "";

  std::unique_ptr<BundleInstance> bundle;
  if (!own && !(bundle = BundleInstance::make(launchPath))) {
    log_notice(stringWithFormat(
        "[%d] error in processArgsWithParameters: could not load %s\n",
        getpid(), path));
    return;
  }
  int lockFileFD = -1;
  MutableDictionaryRef context =
      get_and_lock_context(name ? name->str() : "", &lockFileFD);
  try {
    if (own) {
      (void)is_idle_argument(argc, arguments.data(), context, lockFileFD);
    } else if (bundle->type().doProcessArgs) {
      (void)bundle->type().doProcessArgs(bundle->instance(), argc,
                                         arguments.data(), context, lockFileFD);
    } else {
      log_notice(stringWithFormat(
          "[%d] error in processArgsWithParameters: could not run %s\n",
          getpid(), path));
    }
  } catch (...) {
    if (auto description = descriptionOf(std::current_exception())) {
      log_notice(stringWithFormat(
          "[%d] exception in processArgsWithParameters: %s\n", getpid(),
          *description));
    }
  }
  set_and_unlock_context(&lockFileFD, &context);
}

bool StewardBatchController::encodeWithCoder(std::string* data) const {
  return archivedDataWithRootObject(any_, data);
}

void StewardBatchController::initWithCoder(std::string_view data) {
  any_ = unarchiveObjectWithData(data);
}

std::string StewardBatchController::description() const {
  return any_ ? stringWithFormat("%@\t\t\n", any_) : std::string();
}

}  // namespace steward
