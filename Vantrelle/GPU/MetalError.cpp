#include "Vantrelle/GPU/MetalError.h"

namespace vantrelle {

namespace {

std::string describe(MetalError::Kind kind, const std::string& payload) {
  using K = MetalError::Kind;
  switch (kind) {
    case K::shaderLibraryLoadFailed:
      return "Failed to load Metal library: " + payload;
    case K::shaderFunctionMissing:
      return "Metal library missing required function: " + payload;
    case K::shaderSourceMissing:
      return "Failed to load Metal shader source: " + payload;
    case K::shaderCompilationFailed:
      return "Failed to compile Metal shader source: " + payload;
    case K::pipelineCreationFailed:
      return "Failed to create Metal pipeline: " + payload;
    case K::metalKitUnavailable:
      return "MetalKit is unavailable.";
    case K::deviceUnavailable:
      return "No Metal device is available.";
    case K::commandQueueUnavailable:
      return "Failed to create Metal command queue.";
    case K::atlasUnavailable:
      return "Failed to create the glyph atlas.";
    case K::shaderLibraryMissing:
      return "Failed to locate a Metal library in bundle resources.";
    case K::samplerUnavailable:
      return "Failed to create Metal sampler state.";
  }
  return {};
}

}  // namespace

MetalError::MetalError(Kind kind, std::string payload)
    : kind_(kind), payload_(std::move(payload)), description_(describe(kind_, payload_)) {}

}  // namespace vantrelle
