// One vertex of a dot, circle or preview quad: clip-space position, and the
// position in units of the shape's radius (the edge is at distance 1).
attribute vec4 vertex;
varying vec2 local;

void main() {
    local = vertex.zw;
    gl_Position = vec4(vertex.xy, 0.0, 1.0);
}
