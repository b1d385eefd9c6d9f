#pragma once
// A shared library loaded with the system's dynamic loader and its entry
// points looked up by name. The library stays loaded while the object lives.
#include <string>

namespace korva::platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  // Loads the library at that exact path (no search path); IsLoaded() tells
  // whether it worked and LoadError() why not.
  explicit DynamicLibrary(const std::string& path);
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  bool IsLoaded() const { return handle_ != nullptr; }
  // The loader's own wording of the last failed load (diagnostics only).
  const std::string& LoadError() const { return loadError_; }

  // The address of an exported entry point, nullptr when the library does not
  // export that name (or is not loaded).
  void* Lookup(const std::string& name) const;

  // Unloads now; the destructor does the same.
  void Unload();

 private:
  void* handle_ = nullptr;
  std::string loadError_;
};

}  // namespace korva::platform
