#pragma once
// The OpenGL 3.3 core implementation of the renderer's device, and the shader programs. Every
// call expects the renderer's GL context to be current.
#include <epoxy/gl.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/GPU/GpuResources.h"

namespace vantrelle {

class GLTexture : public GpuTexture {
 public:
  GLTexture(GLuint name, int width, int height, GpuPixelFormat format)
      : name(name), w(width), h(height), format(format) {}
  ~GLTexture() override;
  int width() const override { return w; }
  int height() const override { return h; }
  void replaceRegion(int x, int y, int w, int h, const uint8_t* bytes, size_t bytesPerRow) override;
  const GLuint name;

 private:
  int w, h;
  GpuPixelFormat format;
};

class GLBuffer : public GpuBuffer {
 public:
  GLBuffer(GLuint name, size_t length) : name(name), size(length) {}
  ~GLBuffer() override;
  size_t length() const override { return size; }
  void write(const void* bytes, size_t count) override;
  const GLuint name;

 private:
  size_t size;
};

class GLDevice : public GpuDevice {
 public:
  std::shared_ptr<GpuTexture> makeTexture(int width, int height, GpuPixelFormat format) override;
  std::shared_ptr<GpuBuffer> makeBuffer(size_t length) override;
  bool supportsLargeTextures() const override;
};

// The names of the five shader stages, in the order in which a library is checked.
extern const std::array<const char*, 5> requiredShaderFunctions;

// Compiled stages by name, from GLSL files named after them.
class ShaderLibrary {
 public:
  ~ShaderLibrary();
  // Compiles every required stage found in `directory`; throws MetalError.
  static std::unique_ptr<ShaderLibrary> load(const std::string& directory);
  GLuint function(const std::string& name) const;
  bool hasRequiredFunctions() const;

 private:
  std::vector<std::pair<std::string, GLuint>> stages;
};

// A linked program with its uniform locations.
struct RenderPipeline {
  GLuint program = 0;
  GLint viewport = -1;
  GLint atlas = -1;
  ~RenderPipeline();
  static std::unique_ptr<RenderPipeline> make(const ShaderLibrary& library, const char* vertex, const char* fragment);
};

// Where the shader sources lie in the program's own tree (a bundle or an installed prefix).
std::string bundledShaderDirectory();

}  // namespace vantrelle
