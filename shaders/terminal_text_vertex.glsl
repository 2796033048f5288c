#version 330 core
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texCoord;
layout(location = 2) in vec4 color;
uniform vec2 viewport;
out vec2 vTexCoord;
out vec4 vColor;
void main() {
  gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
  vTexCoord = texCoord;
  vColor = color;
}
