#pragma once
// The renderer's only typed error. The names are kept from the renderer's first platform so that
// hosts and logs read the same everywhere; the descriptions are what users and logs see.
#include <exception>
#include <string>

namespace vantrelle {

class MetalError : public std::exception {
 public:
  enum class Kind {
    shaderLibraryLoadFailed,
    shaderFunctionMissing,
    shaderSourceMissing,
    shaderCompilationFailed,
    pipelineCreationFailed,
    metalKitUnavailable,
    deviceUnavailable,
    commandQueueUnavailable,
    atlasUnavailable,
    shaderLibraryMissing,
    samplerUnavailable,
  };

  MetalError(Kind kind, std::string payload = {});
  static MetalError shaderLibraryLoadFailed(std::string text) {
    return {Kind::shaderLibraryLoadFailed, std::move(text)};
  }
  static MetalError shaderFunctionMissing(std::string names) { return {Kind::shaderFunctionMissing, std::move(names)}; }
  static MetalError shaderSourceMissing(std::string path) { return {Kind::shaderSourceMissing, std::move(path)}; }
  static MetalError shaderCompilationFailed(std::string text) {
    return {Kind::shaderCompilationFailed, std::move(text)};
  }
  static MetalError pipelineCreationFailed(std::string which) {
    return {Kind::pipelineCreationFailed, std::move(which)};
  }
  static MetalError deviceUnavailable() { return {Kind::deviceUnavailable}; }
  static MetalError commandQueueUnavailable() { return {Kind::commandQueueUnavailable}; }
  static MetalError atlasUnavailable() { return {Kind::atlasUnavailable}; }
  static MetalError samplerUnavailable() { return {Kind::samplerUnavailable}; }

  Kind kind() const { return kind_; }
  const std::string& payload() const { return payload_; }
  const std::string& description() const { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  Kind kind_;
  std::string payload_;
  std::string description_;
};

}  // namespace vantrelle
