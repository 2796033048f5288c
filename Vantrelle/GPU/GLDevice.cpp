#include "Vantrelle/GPU/GLDevice.h"

#include <fstream>
#include <sstream>

#include "Vantrelle/GPU/MetalError.h"
#include "platform/Bundle.h"

namespace vantrelle {

const std::array<const char*, 5> requiredShaderFunctions = {
    "terminal_text_vertex",  "terminal_text_fragment",  "terminal_text_fragment_gray",
    "terminal_color_vertex", "terminal_color_fragment",
};

GLTexture::~GLTexture() { glDeleteTextures(1, &name); }

void GLTexture::replaceRegion(int x, int y, int rw, int rh, const uint8_t* bytes, size_t bytesPerRow) {
  int bpp = format == GpuPixelFormat::r8 ? 1 : 4;
  glBindTexture(GL_TEXTURE_2D, name);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(bytesPerRow / bpp));
  GLenum upload = format == GpuPixelFormat::r8 ? GL_RED : format == GpuPixelFormat::bgra8 ? GL_BGRA : GL_RGBA;
  glTexSubImage2D(GL_TEXTURE_2D, 0, x, y, rw, rh, upload, GL_UNSIGNED_BYTE, bytes);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

GLBuffer::~GLBuffer() { glDeleteBuffers(1, &name); }

void GLBuffer::write(const void* bytes, size_t count) {
  glBindBuffer(GL_ARRAY_BUFFER, name);
  glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(std::min(count, size)), bytes);
}

std::shared_ptr<GpuTexture> GLDevice::makeTexture(int width, int height, GpuPixelFormat format) {
  GLint maxSide = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
  if (width < 1 || height < 1 || width > maxSide || height > maxSide) return nullptr;
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  GLenum internal = format == GpuPixelFormat::r8 ? GL_R8 : GL_RGBA8;
  GLenum upload = format == GpuPixelFormat::r8 ? GL_RED : format == GpuPixelFormat::bgra8 ? GL_BGRA : GL_RGBA;
  glTexImage2D(GL_TEXTURE_2D, 0, GLint(internal), width, height, 0, upload, GL_UNSIGNED_BYTE, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteTextures(1, &name);
    return nullptr;
  }
  return std::make_shared<GLTexture>(name, width, height, format);
}

std::shared_ptr<GpuBuffer> GLDevice::makeBuffer(size_t length) {
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint name = 0;
  glGenBuffers(1, &name);
  glBindBuffer(GL_ARRAY_BUFFER, name);
  glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(length), nullptr, GL_DYNAMIC_DRAW);
  if (glGetError() != GL_NO_ERROR) {
    glDeleteBuffers(1, &name);
    return nullptr;
  }
  return std::make_shared<GLBuffer>(name, length);
}

bool GLDevice::supportsLargeTextures() const {
  GLint maxSide = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
  return maxSide >= 16384;
}

// ---- Shaders ----

// Only the program's own tree: an installed program holds no path of the tree it was built in. A
// program run where it was built, outside the bundle (the demo, the tests, the benchmarks), names
// the bundle's copy itself.
std::string bundledShaderDirectory() { return platform::Bundle::main().resourcePath() + "/shaders"; }

namespace {

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

GLuint compile(const std::string& name, const std::string& source) {
  bool vertex = name.find("_vertex") != std::string::npos;
  GLuint shader = glCreateShader(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
  const char* text = source.c_str();
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok) return shader;
  char log[2048] = {};
  glGetShaderInfoLog(shader, sizeof log - 1, nullptr, log);
  glDeleteShader(shader);
  throw MetalError::shaderCompilationFailed(name + ": " + log);
}

}  // namespace

ShaderLibrary::~ShaderLibrary() {
  for (auto& [name, shader] : stages) glDeleteShader(shader);
}

std::unique_ptr<ShaderLibrary> ShaderLibrary::load(const std::string& directory) {
  auto library = std::make_unique<ShaderLibrary>();
  bool anySource = false;
  for (const char* name : requiredShaderFunctions) {
    auto source = readFile(directory + "/" + name + ".glsl");
    if (!source) continue;
    anySource = true;
    library->stages.emplace_back(name, compile(name, *source));
  }
  if (!anySource) throw MetalError::shaderSourceMissing(directory);
  if (!library->hasRequiredFunctions()) {
    std::string names;
    for (const char* name : requiredShaderFunctions) names += (names.empty() ? "" : ", ") + std::string(name);
    throw MetalError::shaderFunctionMissing(names);
  }
  return library;
}

GLuint ShaderLibrary::function(const std::string& name) const {
  for (auto& [stage, shader] : stages) {
    if (stage == name) return shader;
  }
  return 0;
}

bool ShaderLibrary::hasRequiredFunctions() const {
  for (const char* name : requiredShaderFunctions) {
    if (!function(name)) return false;
  }
  return true;
}

RenderPipeline::~RenderPipeline() {
  if (program) glDeleteProgram(program);
}

std::unique_ptr<RenderPipeline> RenderPipeline::make(const ShaderLibrary& library, const char* vertex,
                                                     const char* fragment) {
  GLuint vs = library.function(vertex), fs = library.function(fragment);
  if (!vs || !fs) return nullptr;
  auto pipeline = std::make_unique<RenderPipeline>();
  pipeline->program = glCreateProgram();
  glAttachShader(pipeline->program, vs);
  glAttachShader(pipeline->program, fs);
  glLinkProgram(pipeline->program);
  GLint ok = 0;
  glGetProgramiv(pipeline->program, GL_LINK_STATUS, &ok);
  glDetachShader(pipeline->program, vs);
  glDetachShader(pipeline->program, fs);
  if (!ok) return nullptr;
  pipeline->viewport = glGetUniformLocation(pipeline->program, "viewport");
  pipeline->atlas = glGetUniformLocation(pipeline->program, "atlas");
  return pipeline;
}

}  // namespace vantrelle
