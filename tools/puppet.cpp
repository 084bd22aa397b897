#include "tools/puppet.h"
#include "common/angles.h"

#include <algorithm>
#include <cmath>

namespace {

double SegmentDistance(Pt p, Pt a, Pt b, double *t)
{
    Pt d = b - a;
    double len2 = d.x * d.x + d.y * d.y;
    double s = len2 > 0 ? ((p.x - a.x) * d.x + (p.y - a.y) * d.y) / len2 : 0;
    s = std::clamp(s, 0.0, 1.0);
    if (t)
        *t = s;
    Pt q = a + d * s;
    return std::hypot(p.x - q.x, p.y - q.y);
}

// Light score of a pixel from where it sits in its part's horizontal and
// vertical runs: positive towards the upper left, negative towards the
// lower right.
double LightAt(const std::vector<uint8_t> &mask, int w, int h, int x, int y)
{
    int x0 = x, x1 = x, y0 = y, y1 = y;
    while (x0 > 0 && mask[size_t(y) * w + x0 - 1])
        x0--;
    while (x1 + 1 < w && mask[size_t(y) * w + x1 + 1])
        x1++;
    while (y0 > 0 && mask[size_t(y0 - 1) * w + x])
        y0--;
    while (y1 + 1 < h && mask[size_t(y1 + 1) * w + x])
        y1++;
    double u = (x - (x0 + x1) / 2.0) / ((x1 - x0 + 1) / 2.0);
    double v = (y - (y0 + y1) / 2.0) / ((y1 - y0 + 1) / 2.0);
    return -(0.62 * u + 0.48 * v);
}

} // namespace

bool Shape::Contains(Pt p) const
{
    switch (kind) {
    case Ellipse: {
        double c = std::cos(angle), s = std::sin(angle);
        double dx = p.x - a.x, dy = p.y - a.y;
        double u = (dx * c + dy * s) / ra, v = (-dx * s + dy * c) / rb;
        return u * u + v * v <= 1;
    }
    case Capsule: {
        double t;
        double d = SegmentDistance(p, a, b, &t);
        return d <= ra + (rb - ra) * t;
    }
    case Polygon: {
        bool inside = false;
        for (size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
            const Pt &pi = points[i], &pj = points[j];
            if ((pi.y > p.y) != (pj.y > p.y) &&
                p.x < (pj.x - pi.x) * (p.y - pi.y) / (pj.y - pi.y) + pi.x)
                inside = !inside;
        }
        if (inside || round <= 0)
            return inside;
        for (size_t i = 0, j = points.size() - 1; i < points.size(); j = i++)
            if (SegmentDistance(p, points[j], points[i], nullptr) <= round)
                return true;
        return false;
    }
    case Dot: return std::floor(p.x) == std::floor(a.x) && std::floor(p.y) == std::floor(a.y);
    }
    return false;
}

void Shape::Bounds(double *left, double *top, double *right, double *bottom) const
{
    auto grow = [&](Pt p, double r) {
        *left = std::min(*left, p.x - r), *right = std::max(*right, p.x + r);
        *top = std::min(*top, p.y - r), *bottom = std::max(*bottom, p.y + r);
    };
    *left = *top = 1e9, *right = *bottom = -1e9;
    switch (kind) {
    case Ellipse: grow(a, std::max(ra, rb)); break;
    case Capsule: grow(a, ra), grow(b, rb); break;
    case Polygon:
        for (Pt p : points)
            grow(p, round);
        break;
    case Dot: grow(a, 1); break;
    }
}

Shape Ellipse(Pt centre, double rx, double ry, double angleDegrees)
{
    Shape s;
    s.kind = Shape::Ellipse, s.a = centre, s.ra = rx, s.rb = ry, s.angle = Radians(angleDegrees);
    return s;
}
Shape Circle(Pt centre, double r)
{
    return Ellipse(centre, r, r);
}
Shape Capsule(Pt a, Pt b, double ra, double rb)
{
    Shape s;
    s.kind = Shape::Capsule, s.a = a, s.b = b, s.ra = ra, s.rb = rb;
    return s;
}
Shape Polygon(std::vector<Pt> points, double round)
{
    Shape s;
    s.kind = Shape::Polygon, s.points = std::move(points), s.round = round;
    return s;
}
Shape Dot(Pt p)
{
    Shape s;
    s.kind = Shape::Dot, s.a = p;
    return s;
}
Shape Cut(Shape s)
{
    s.cut = true;
    return s;
}

Pt Placement::Apply(Pt local) const
{
    double c = std::cos(Radians(angleDegrees)), s = std::sin(Radians(angleDegrees));
    return Pt{origin.x + local.x * c - local.y * s, origin.y + local.x * s + local.y * c};
}

Shape Placement::Apply(const Shape &in) const
{
    Shape s = in;
    s.a = Apply(in.a), s.b = Apply(in.b);
    for (Pt &p : s.points)
        p = Apply(p);
    s.angle += Radians(angleDegrees);
    return s;
}

Placement Placement::Then(const Placement &inner) const
{
    return Placement{Apply(inner.origin), angleDegrees + inner.angleDegrees};
}

void Mirror(std::vector<Part> &parts, double frameWidth)
{
    for (Part &part : parts)
        for (Shape &s : part.shapes) {
            s.a.x = frameWidth - s.a.x, s.b.x = frameWidth - s.b.x;
            for (Pt &p : s.points)
                p.x = frameWidth - p.x;
            s.angle = -s.angle;
        }
}

void PaintParts(IndexedImage &canvas, int left, int top, int width, int height,
                const std::vector<Part> &parts, uint8_t background)
{
    std::vector<uint8_t> mask(size_t(width) * height);
    for (const Part &part : parts) {
        std::fill(mask.begin(), mask.end(), 0);
        // Only the pixels the part's added shapes can reach.
        double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
        for (const Shape &s : part.shapes)
            if (!s.cut) {
                double l, t, r, b;
                s.Bounds(&l, &t, &r, &b);
                x0 = std::min(x0, l), y0 = std::min(y0, t), x1 = std::max(x1, r),
                y1 = std::max(y1, b);
            }
        int fromX = std::max(0, int(std::floor(x0)) - 1),
            toX = std::min(width, int(std::ceil(x1)) + 1);
        int fromY = std::max(0, int(std::floor(y0)) - 1),
            toY = std::min(height, int(std::ceil(y1)) + 1);
        for (int y = fromY; y < toY; y++)
            for (int x = fromX; x < toX; x++) {
                Pt centre{x + 0.5, y + 0.5};
                bool in = false;
                for (const Shape &s : part.shapes)
                    if (s.cut ? in && s.Contains(centre) : !in && s.Contains(centre))
                        in = !s.cut;
                mask[size_t(y) * width + x] = in;
            }
        auto inMask = [&](int x, int y) {
            return x >= 0 && y >= 0 && x < width && y < height && mask[size_t(y) * width + x];
        };
        // Where the outline goes: next to the outside of the part or, for a
        // blending part, next to the background only.
        auto outside = [&](int x, int y) {
            if (inMask(x, y))
                return false;
            if (!part.blend)
                return true;
            return x < 0 || y < 0 || x >= width || y >= height ||
                   canvas.At(left + x, top + y) == background;
        };
        for (int y = fromY; y < toY; y++)
            for (int x = fromX; x < toX; x++) {
                if (!inMask(x, y))
                    continue;
                uint8_t colour = part.ramp.base;
                bool edge = outside(x - 1, y) || outside(x + 1, y) || outside(x, y - 1) ||
                            outside(x, y + 1);
                if (part.outline && edge) {
                    colour = Outline;
                } else if (part.shaded) {
                    double light = LightAt(mask, width, height, x, y) + part.shade;
                    colour = light > 0.42    ? part.ramp.light
                             : light < -0.40 ? part.ramp.shadow
                                             : part.ramp.base;
                }
                canvas.At(left + x, top + y) = colour;
            }
    }
}

void FillPinholes(IndexedImage &canvas, int left, int top, int width, int height, int minimum,
                  uint8_t background)
{
    std::vector<int> seen(size_t(width) * height, 0);
    auto isBackground = [&](int x, int y) { return canvas.At(left + x, top + y) == background; };
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            if (seen[size_t(y) * width + x] || !isBackground(x, y))
                continue;
            // One pocket of background, and whether it reaches the cell's edge.
            std::vector<std::pair<int, int>> pocket, todo{{x, y}};
            bool open = false;
            seen[size_t(y) * width + x] = 1;
            while (!todo.empty()) {
                auto [px, py] = todo.back();
                todo.pop_back();
                pocket.push_back({px, py});
                open = open || px == 0 || py == 0 || px == width - 1 || py == height - 1;
                const int step[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
                for (const auto &d : step) {
                    int nx = px + d[0], ny = py + d[1];
                    if (nx < 0 || ny < 0 || nx >= width || ny >= height ||
                        seen[size_t(ny) * width + nx] || !isBackground(nx, ny))
                        continue;
                    seen[size_t(ny) * width + nx] = 1;
                    todo.push_back({nx, ny});
                }
            }
            if (!open && int(pocket.size()) < minimum)
                for (auto [px, py] : pocket)
                    canvas.At(left + px, top + py) = Outline;
        }
}
