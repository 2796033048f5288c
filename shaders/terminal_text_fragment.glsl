#version 330 core
// Colour glyphs and images: the texel's own colour, premultiplied.
in vec2 vTexCoord;
in vec4 vColor;
uniform sampler2D atlas;
out vec4 fragColor;
void main() {
  fragColor = texture(atlas, vTexCoord) * vColor;
}
