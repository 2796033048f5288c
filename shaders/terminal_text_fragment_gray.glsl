#version 330 core
// Coverage from the grayscale atlas tints the vertex colour; the result is premultiplied.
in vec2 vTexCoord;
in vec4 vColor;
uniform sampler2D atlas;
out vec4 fragColor;
void main() {
  float coverage = texture(atlas, vTexCoord).r * vColor.a;
  fragColor = vec4(vColor.rgb * coverage, coverage);
}
