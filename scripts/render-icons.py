#!/usr/bin/env python3
"""Renders the driver folder's status icons and the README pictures from our SVGs.

The status icons (resources/icons/vantorelle_k5_*.png, 32x32 with 64x64 twins
under both hi-DPI names, @2x and _2x) are composed from the layers of resources/art/pistol_status.svg. The
README pictures in docs/ show every status icon, and the binding UI image with
the profile's binding_image_points marked on it.

The render model (resources/rendermodels/vantorelle_k5_pistol: OBJ, MTL and
texture) is made from the side drawing resources/art/pistol_model.svg: each
convex part extruded across the pistol, in metres, with its origin at the grip
point, the muzzle along -Z and +Y up: the frame of the pose the driver reports.

The PNGs and the model are committed so that building the driver folder needs no image
tool; run this script after changing an SVG. `--check` renders in memory and
fails when a committed PNG's pixels or a model file differ (the test suite runs it).

Only the SVG we draw is understood: polygon, rect, circle and path with
absolute M/L/Z, solid fills, the even-odd rule. Standard library only.
"""
import argparse
import json
import math
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
ART = ROOT / "resources" / "art" / "pistol_status.svg"
BINDING_UI = ROOT / "resources" / "icons" / "vantorelle_k5_bindingui.svg"
PROFILE = ROOT / "resources" / "input" / "vantorelle_k5_controller_profile.json"
ICONS = ROOT / "resources" / "icons"
MODEL_ART = ROOT / "resources" / "art" / "pistol_model.svg"
MODEL_NAME = "vantorelle_k5_pistol"
MODEL_DIR = ROOT / "resources" / "rendermodels" / MODEL_NAME
DOCS = ROOT / "docs"
SVG_NS = "{http://www.w3.org/2000/svg}"
SUPERSAMPLE = 4

# State name in the file -> layers with their opacity. The host picks the
# state from the pose: disconnected Off, connected without a valid pose
# Searching, valid Ready.
STATES = {
    "off": [("pistol", 0.3)],
    "searching": [("pistol", 0.55), ("searching", 1.0)],
    "searching_alert": [("pistol", 0.55), ("alert", 1.0)],
    "ready": [("pistol", 1.0)],
    "ready_alert": [("pistol", 1.0), ("alert", 1.0)],
    "not_ready": [("pistol", 0.55), ("error", 1.0)],
    "standby": [("pistol", 0.45), ("standby", 1.0)],
    "standby_alert": [("pistol", 0.45), ("standby", 1.0), ("alert", 1.0)],
    "ready_low": [("pistol", 1.0), ("low", 1.0)],
}

# Marker colours of the binding UI picture, one per input source.
MARKERS = {
    "/input/fire": (0.95, 0.25, 0.25),
    "/input/eject_mag": (0.2, 0.5, 1.0),
    "/input/load_mag": (0.2, 0.85, 0.35),
    "/pose/raw": (1.0, 0.9, 0.2),
}


def parse_colour(text):
    text = text.strip()
    if not re.fullmatch(r"#[0-9a-fA-F]{6}", text):
        raise ValueError(f"unsupported colour {text!r}")
    return tuple(int(text[i : i + 2], 16) / 255 for i in (1, 3, 5))


def circle_points(cx, cy, r, steps=48):
    return [(cx + r * math.cos(2 * math.pi * k / steps), cy + r * math.sin(2 * math.pi * k / steps)) for k in range(steps)]


def parse_path(d):
    contours, current = [], []
    for cmd, args in re.findall(r"([MLZ])([^MLZ]*)", d.replace(",", " ")):
        numbers = [float(n) for n in args.split()]
        if cmd == "M":
            if current:
                contours.append(current)
            current = []
        if cmd in "ML":
            if len(numbers) % 2:
                raise ValueError(f"odd coordinate count in path {d!r}")
            current += list(zip(numbers[0::2], numbers[1::2]))
        if cmd == "Z" and current:
            contours.append(current)
            current = []
    if current:
        contours.append(current)
    return contours


def shape_contours(element):
    tag = element.tag.replace(SVG_NS, "")
    a = element.attrib
    if tag == "polygon":
        numbers = [float(n) for n in a["points"].replace(",", " ").split()]
        return [list(zip(numbers[0::2], numbers[1::2]))]
    if tag == "rect":
        x, y, w, h = (float(a[k]) for k in ("x", "y", "width", "height"))
        return [[(x, y), (x + w, y), (x + w, y + h), (x, y + h)]]
    if tag == "circle":
        return [circle_points(float(a["cx"]), float(a["cy"]), float(a["r"]))]
    if tag == "path":
        return parse_path(a["d"])
    raise ValueError(f"unsupported element <{tag}>")


def load_layers(svg_path):
    """Layer id -> list of (contours, colour); also the view box size."""
    root = ET.parse(svg_path).getroot()
    _, _, width, height = (float(v) for v in root.attrib["viewBox"].split())
    layers = {}
    for group in root.iter(SVG_NS + "g"):
        shapes = []
        for element in group:
            fill = element.attrib.get("fill", group.attrib.get("fill"))
            shapes.append((shape_contours(element), parse_colour(fill)))
        layers[group.attrib["id"]] = shapes
    return layers, (width, height)


class Canvas:
    """Premultiplied RGBA in floats, painted with source-over."""

    def __init__(self, width, height, background=None):
        self.w, self.h = width, height
        bg = (*background, 1.0) if background else (0.0, 0.0, 0.0, 0.0)
        self.px = [list(bg) for _ in range(width * height)]

    def fill(self, contours, colour, scale, opacity=1.0, offset=(0.0, 0.0)):
        """Even-odd fill of the contours, scaled from view box units to pixels."""
        edges = []
        for contour in contours:
            pts = [((x + offset[0]) * scale, (y + offset[1]) * scale) for x, y in contour]
            for (x0, y0), (x1, y1) in zip(pts, pts[1:] + pts[:1]):
                if y0 != y1:
                    edges.append((x0, y0, x1, y1))
        if not edges:
            return
        ymin = max(0, int(min(min(e[1], e[3]) for e in edges)))
        ymax = min(self.h - 1, int(max(max(e[1], e[3]) for e in edges)) + 1)
        n = SUPERSAMPLE
        for py in range(ymin, ymax + 1):
            coverage = {}
            for sy in range(n):
                y = py + (sy + 0.5) / n
                xs = sorted(x0 + (y - y0) * (x1 - x0) / (y1 - y0) for x0, y0, x1, y1 in edges if (y0 <= y) != (y1 <= y))
                for left, right in zip(xs[0::2], xs[1::2]):
                    # Sample s sits at x = (s + 0.5) / n; those in [left, right) are inside.
                    first = max(0, math.ceil(left * n - 0.5))
                    last = min(self.w * n - 1, math.ceil(right * n - 0.5) - 1)
                    for s in range(first, last + 1):
                        coverage[s // n] = coverage.get(s // n, 0) + 1
            for px, count in coverage.items():
                alpha = opacity * count / (n * n)
                p = self.px[py * self.w + px]
                for i in range(3):
                    p[i] = colour[i] * alpha + p[i] * (1 - alpha)
                p[3] = alpha + p[3] * (1 - alpha)

    def png(self):
        rows = bytearray()
        for y in range(self.h):
            rows.append(0)
            for p in self.px[y * self.w : (y + 1) * self.w]:
                a = p[3]
                rgb = [min(1.0, c / a) if a > 0 else 0.0 for c in p[:3]]
                rows += bytes(round(v * 255) for v in (*rgb, a))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        header = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")


def paint_layers(canvas, layers, wanted, scale, offset=(0.0, 0.0)):
    for name, opacity in wanted:
        for contours, colour in layers[name]:
            canvas.fill(contours, colour, scale, opacity, offset)


def status_icon(layers, state, size):
    canvas = Canvas(size, size)
    paint_layers(canvas, layers, STATES[state], size / 64)
    return canvas.png()


def status_strip(layers):
    """Every state at 64x64 on the dark grey of a status window, side by side."""
    gap, size = 16, 64
    canvas = Canvas(len(STATES) * (size + gap) + gap, size + 2 * gap, background=(0.16, 0.17, 0.19))
    for i, state in enumerate(STATES):
        offset = (gap + i * (size + gap), gap)
        paint_layers(canvas, layers, STATES[state], 1.0, offset)
    return canvas.png()


def binding_ui_picture():
    layers, (width, _) = load_layers(BINDING_UI)
    scale = 4
    canvas = Canvas(int(width * scale), int(width * scale), background=(0.93, 0.94, 0.95))
    paint_layers(canvas, layers, [("body", 1.0), ("inputs", 1.0)], scale)
    profile = json.loads(PROFILE.read_text())
    for name, source in profile["input_source"].items():
        x, y = source["binding_image_point"]
        # A dark rim keeps a marker visible on a button of its own colour.
        canvas.fill([circle_points(x, y, 2.9), circle_points(x, y, 2.2)], (0.1, 0.1, 0.1), scale)
        canvas.fill([circle_points(x, y, 2.2), circle_points(x, y, 1.4)], MARKERS[name], scale)
        canvas.fill([circle_points(x, y, 0.6)], MARKERS[name], scale)
    return canvas.png()


# Texture cells of the render model, one colour each, left to right.
SHADES = {
    "slide": (0.20, 0.21, 0.23),
    "frame": (0.13, 0.13, 0.14),
    "grip": (0.30, 0.25, 0.20),
    "trigger": (0.85, 0.20, 0.20),
    "button": (0.20, 0.45, 0.90),
}
CELL = 8


def model_parts():
    """The drawing's parts as (name, points in mm, width in mm, shade), and the grip point."""
    root = ET.parse(MODEL_ART).getroot()
    parts, grip = [], None
    for element in root.iter():
        tag = element.tag.replace(SVG_NS, "")
        if tag == "polygon":
            numbers = [float(v) for v in re.split(r"[ ,]+", element.get("points").strip())]
            points = list(zip(numbers[0::2], numbers[1::2]))
            parts.append((element.get("id"), points, float(element.get("data-width")), element.get("data-shade")))
        elif tag == "circle" and element.get("id") == "grip_point":
            grip = (float(element.get("cx")), float(element.get("cy")))
    if grip is None:
        raise SystemExit(f"{MODEL_ART}: no grip_point")
    return parts, grip


def to_model(point, grip, x):
    """Drawing mm (muzzle right, y down) to model metres (muzzle -Z, +Y up)."""
    return (x / 1000, -(point[1] - grip[1]) / 1000, -(point[0] - grip[0]) / 1000)


def prism_faces(name, points, count):
    """Outward faces of a convex polygon extruded along X, as vertex indices from `count`.
    Vertices: the right cap (+X) first, then the left cap."""
    area = sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]))
    signs = {
        (x1 - x0) * (y2 - y1) - (y1 - y0) * (x2 - x1) > 0
        for (x0, y0), (x1, y1), (x2, y2) in zip(points, points[1:] + points[:2], points[2:] + points[:2])
    }
    if len(signs) != 1:
        raise SystemExit(f"{MODEL_ART}: part {name} is not convex")
    n = len(points)
    order = list(range(n)) if area < 0 else list(reversed(range(n)))
    right = [count + i for i in order]
    left = [count + n + i for i in order]
    faces = [[right[0], right[i], right[i + 1]] for i in range(1, n - 1)]
    faces += [[left[0], left[i + 1], left[i]] for i in range(1, n - 1)]
    for i in range(n):
        j = (i + 1) % n
        faces += [[right[i], left[i], left[j]], [right[i], left[j], right[j]]]
    return faces


def face_normal(a, b, c):
    u = [b[i] - a[i] for i in range(3)]
    v = [c[i] - a[i] for i in range(3)]
    n = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
    length = math.sqrt(sum(c * c for c in n)) or 1.0
    return tuple(c / length for c in n)


def render_model():
    parts, grip = model_parts()
    shades = list(SHADES)
    obj = [f"# {MODEL_NAME}: metres, origin at the grip point, muzzle along -Z, +Y up.", f"mtllib {MODEL_NAME}.mtl"]
    vertices, texcoords, normals = [], [], []
    for name, points, width, shade in parts:
        count = len(vertices)
        vertices += [to_model(p, grip, width / 2) for p in points] + [to_model(p, grip, -width / 2) for p in points]
        texcoords.append(((shades.index(shade) + 0.5) / len(shades), 0.5))
        obj += [f"o {name}", "usemtl pistol"]
        lines = []
        for face in prism_faces(name, points, count):
            normals.append(face_normal(*(vertices[i] for i in face)))
            vt, vn = len(texcoords), len(normals)
            lines.append("f " + " ".join(f"{i + 1}/{vt}/{vn}" for i in face))
        obj += lines
    header = [f"v {x:.4f} {y:.4f} {z:.4f}" for x, y, z in vertices]
    header += [f"vt {u:.4f} {v:.4f}" for u, v in texcoords]
    header += [f"vn {x:.4f} {y:.4f} {z:.4f}" for x, y, z in normals]
    obj = obj[:2] + header + obj[2:]
    mtl = ["newmtl pistol", "Ka 0 0 0", "Kd 1 1 1", "Ks 0.2 0.2 0.2", "Ns 20", f"map_Kd {MODEL_NAME}.png"]
    canvas = Canvas(CELL * len(shades), CELL)
    for i, shade in enumerate(shades):
        x0 = i * CELL
        canvas.fill([[(x0, 0), (x0 + CELL, 0), (x0 + CELL, CELL), (x0, CELL)]], SHADES[shade], 1.0)
    return {
        MODEL_DIR / f"{MODEL_NAME}.obj": ("\n".join(obj) + "\n").encode(),
        MODEL_DIR / f"{MODEL_NAME}.mtl": ("\n".join(mtl) + "\n").encode(),
        MODEL_DIR / f"{MODEL_NAME}.png": canvas.png(),
    }


def outputs():
    layers, _ = load_layers(ART)
    files = {}
    for state in STATES:
        files[ICONS / f"vantorelle_k5_{state}.png"] = status_icon(layers, state, 32)
        # The documentation names the @2x twin, the host's own drivers ship _2x.
        large = status_icon(layers, state, 64)
        files[ICONS / f"vantorelle_k5_{state}@2x.png"] = large
        files[ICONS / f"vantorelle_k5_{state}_2x.png"] = large
    files[DOCS / "status-icons.png"] = status_strip(layers)
    files[DOCS / "binding-ui.png"] = binding_ui_picture()
    files.update(render_model())
    return files


def png_pixels(data):
    """The header and the decoded rows of a PNG: what a committed file is compared by,
    since another zlib may compress the same pixels into other bytes."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    header, idat, at = None, b"", 8
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at : at + 8])
        body = data[at + 8 : at + 8 + length]
        if kind == b"IHDR":
            header = body
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    try:
        return header, zlib.decompress(idat)
    except zlib.error:
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="fail if a committed PNG differs from a fresh render")
    args = parser.parse_args()
    stale = []
    for path, data in outputs().items():
        if args.check:
            committed = path.read_bytes() if path.exists() else None
            same = committed == data if path.suffix != ".png" else png_pixels(committed or b"") == png_pixels(data)
            if not same:
                stale.append(path.relative_to(ROOT))
        else:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
            print(f"wrote {path.relative_to(ROOT)}")
    if stale:
        print("out of date (run scripts/render-icons.py): " + ", ".join(map(str, stale)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
