// Covers the band from p device pixels inside the edge out to the edge, widened
// by q/2 device pixels on both sides, with one pixel of antialiasing:
// p = -1000000 fills the disc, p = 0 draws a rim q pixels wide.
#ifdef GL_ES
#extension GL_OES_standard_derivatives : enable
precision mediump float;
#endif
uniform vec4 color;
uniform float p;
uniform float q;
varying vec2 local;

void main() {
    float d = length(local);
    float pixel = max(fwidth(d), 1e-6);
    float outside = (d - 1.0) / pixel;
    float coverage = clamp(min(q * 0.5 - outside, q * 0.5 + outside - p) + 0.5, 0.0, 1.0);
    gl_FragColor = vec4(color.rgb, color.a * coverage);
}
