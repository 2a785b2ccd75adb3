#include "platform/BundleLoader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <string_view>

namespace steward {

namespace {

constexpr const char* kPrincipalClassFunction = "steward_principal_class";

// "NAME" of ".../NAME.bundle", ignoring trailing slashes.
std::string_view bundleName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  std::size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  std::size_t dot = path.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? path : path.substr(0, dot);
}

}  // namespace

std::unique_ptr<Bundle> Bundle::bundleWithPath(const std::string& path) {
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return nullptr;
  }
  std::string code = path + "/" + std::string(bundleName(path)) + ".so";
  return std::unique_ptr<Bundle>(new Bundle(std::move(code)));
}

bool Bundle::load() {
  if (!handle_) handle_ = dlopen(codePath_.c_str(), RTLD_NOW | RTLD_LOCAL);
  return handle_ != nullptr;
}

const void* Bundle::principalClass() const {
  if (!handle_) return nullptr;
  using PrincipalClassFunction = const void* (*)();
  auto function = reinterpret_cast<PrincipalClassFunction>(
      dlsym(handle_, kPrincipalClassFunction));
  return function ? function() : nullptr;
}

}  // namespace steward
