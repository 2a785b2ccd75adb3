// Tool bundles: a directory NAME.bundle whose code is the shared object
// NAME.bundle/NAME.so. The code names its principal class by exporting the
// C function `steward_principal_class`, which answers the class or none.
// Code once loaded stays loaded for the life of the process.
#pragma once

#include <memory>
#include <string>

namespace steward {

class Bundle {
 public:
  // The bundle at `path`; none when no directory stands there.
  [[nodiscard]] static std::unique_ptr<Bundle> bundleWithPath(
      const std::string& path);

  Bundle(const Bundle&) = delete;
  Bundle& operator=(const Bundle&) = delete;

  // Loads the bundle's code; false when it is missing or does not load.
  [[nodiscard]] bool load();
  // What the loaded code's `steward_principal_class` answers; none before a
  // successful load or when the code names no class.
  const void* principalClass() const;

 private:
  explicit Bundle(std::string codePath) : codePath_(std::move(codePath)) {}

  std::string codePath_;
  void* handle_ = nullptr;  // never closed
};

}  // namespace steward
