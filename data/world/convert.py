#!/usr/bin/env python3
"""Converts Natural Earth's land and countries (the TopoJSON files of the npm
package world-atlas, 110m and 50m) into the map's compact base-layer file.

    npm pack world-atlas && tar xzf world-atlas-*.tgz
    python3 data/world/convert.py package data/world/world.qmw

The input is world-atlas 2.0.2 (Natural Earth, public domain).

Layout, little-endian: "QMW1", u32 layer count; per layer a u8 kind (0 land,
1 borders, 2 coastlines), a u8 detail (110 or 50, the scale in millions), a
u32 line count, then per line a u32 point count and that many (f32 longitude,
f32 latitude) pairs. Longitudes run on across ±180 where a shape does, so
that lines never jump across the world. Land lines are closed rings, filled
with the odd-even rule (Antarctica closed along the pole); coastlines are the land rings without the straight cuts Natural Earth
makes along ±180° and the bottom of Antarctica; borders are the arcs shared
by two countries.
"""
import json
import struct
import sys
from pathlib import Path


def decode_arcs(topo):
    sx, sy = topo["transform"]["scale"]
    tx, ty = topo["transform"]["translate"]
    arcs = []
    for arc in topo["arcs"]:
        x = y = 0
        pts = []
        for dx, dy in arc:
            x += dx
            y += dy
            pts.append((x * sx + tx, y * sy + ty))
        arcs.append(pts)
    return arcs


def ring_points(arcs, indexes):
    out = []
    for i in indexes:
        pts = arcs[i] if i >= 0 else list(reversed(arcs[~i]))
        # Consecutive arcs share their joining point.
        out.extend(pts if not out else pts[1:])
    return out


def polygons(geometry):
    if geometry["type"] == "Polygon":
        return [geometry["arcs"]]
    if geometry["type"] == "MultiPolygon":
        return geometry["arcs"]
    return []


def land_rings(topo):
    arcs = decode_arcs(topo)
    rings = []
    for g in topo["objects"]["land"]["geometries"]:
        for poly in polygons(g):
            for ring in poly:
                rings.append(ring_points(arcs, ring))
    return rings


def border_lines(topo):
    arcs = decode_arcs(topo)
    owners = {}
    for n, g in enumerate(topo["objects"]["countries"]["geometries"]):
        for poly in polygons(g):
            for ring in poly:
                for i in ring:
                    owners.setdefault(i if i >= 0 else ~i, set()).add(n)
    return [arcs[i] for i in sorted(owners) if len(owners[i]) > 1]


def is_cut(a, b):
    # A segment along the antimeridian or along the south edge of the data.
    return (abs(a[0]) >= 179.9999 and abs(b[0]) >= 179.9999 and (a[0] > 0) == (b[0] > 0)) or (
        a[1] <= -89.99 and b[1] <= -89.99)


def coastlines(rings):
    out = []
    for ring in rings:
        run = [ring[0]]
        for a, b in zip(ring, ring[1:]):
            if is_cut(a, b):
                if len(run) >= 2:
                    out.append(run)
                run = [b]
            else:
                run.append(b)
        if len(run) >= 2:
            out.append(run)
    return out


def unwrap(line):
    # Natural Earth stitches shapes across ±180: a step of more than half a
    # turn is the line going on in the next copy of the world, so longitudes
    # are made continuous (and may pass ±180) for plain planar drawing.
    out = [line[0]]
    offset = 0.0
    for a, b in zip(line, line[1:]):
        d = b[0] - a[0]
        if d > 180:
            offset -= 360
        elif d < -180:
            offset += 360
        out.append((b[0] + offset, b[1]))
    return out


def fill_ring(ring):
    # A ring around a pole (Antarctica) ends a whole turn from its start once
    # unwrapped; it is closed along the pole so that it encloses the land.
    ring = unwrap(ring)
    if abs(ring[-1][0] - ring[0][0]) > 180:
        pole = -90.0 if sum(p[1] for p in ring) < 0 else 90.0
        ring = ring + [(ring[-1][0], pole), (ring[0][0], pole), ring[0]]
    return ring


def simplify(line):
    # Drops repeated points only; the sources are already generalised.
    out = [line[0]]
    for p in line[1:]:
        if p != out[-1]:
            out.append(p)
    return out


def main():
    src, dst = Path(sys.argv[1]), Path(sys.argv[2])
    layers = []
    for detail in (110, 50):
        land = json.loads((src / f"land-{detail}m.json").read_text())
        countries = json.loads((src / f"countries-{detail}m.json").read_text())
        rings = [simplify(r) for r in land_rings(land)]
        layers.append((0, detail, [fill_ring(r) for r in rings]))
        layers.append((2, detail, [unwrap(c) for c in coastlines(rings)]))
        layers.append((1, detail, [unwrap(simplify(b)) for b in border_lines(countries)]))
    data = bytearray(b"QMW1")
    data += struct.pack("<I", len(layers))
    for kind, detail, lines in layers:
        lines = [l for l in lines if len(l) >= 2]
        data += struct.pack("<BBI", kind, detail, len(lines))
        for line in lines:
            data += struct.pack("<I", len(line))
            data += struct.pack(f"<{2 * len(line)}f", *[c for p in line for c in p])
    dst.write_bytes(bytes(data))
    print(f"{dst}: {len(data)} bytes, {sum(len(l) for _, _, ls in layers for l in ls)} points")


if __name__ == "__main__":
    main()
