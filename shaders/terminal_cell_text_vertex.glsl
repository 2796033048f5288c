#version 330 core
// One record per instance; the six vertices of its quad come from the vertex id.
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 size;
layout(location = 2) in vec2 texOrigin;
layout(location = 3) in vec2 texSize;
layout(location = 4) in vec4 color;
uniform vec2 viewport;
out vec2 vTexCoord;
out vec4 vColor;
// The quad as a strip of two triangles: four corners an instance rather than six.
const vec2 corners[4] = vec2[4](vec2(0, 0), vec2(1, 0), vec2(0, 1), vec2(1, 1));
void main() {
  vec2 corner = corners[gl_VertexID % 4];
  gl_Position = vec4((position + corner * size) / viewport * 2.0 - 1.0, 0.0, 1.0);
  vTexCoord = texOrigin + corner * texSize;
  vColor = color;
}
