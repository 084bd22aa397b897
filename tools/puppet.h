// The figure as a puppet of parts: each part is a union of simple shapes
// (minus any cut-outs), filled with hard edges, outlined one pixel wide in the
// dark outline colour and shaded in three tones for volume. Parts are painted
// back to front.
#pragma once

#include "tools/image.h"
#include "tools/palette.h"

#include <vector>

struct Pt {
    double x, y;
};
inline Pt operator+(Pt a, Pt b)
{
    return Pt{a.x + b.x, a.y + b.y};
}
inline Pt operator-(Pt a, Pt b)
{
    return Pt{a.x - b.x, a.y - b.y};
}
inline Pt operator*(Pt a, double k)
{
    return Pt{a.x * k, a.y * k};
}

struct Shape {
    enum Kind { Ellipse, Capsule, Polygon, Dot } kind = Dot;
    bool cut = false;       // removes pixels from the part instead of adding them
    Pt a{0, 0}, b{0, 0};    // ellipse centre; capsule ends; the dot
    double ra = 0, rb = 0;  // ellipse radii; capsule radius at a and at b
    double angle = 0;       // ellipse turn, radians
    std::vector<Pt> points; // polygon corners
    double round = 0;       // polygon grows by this much on every side

    bool Contains(Pt p) const;
    void Bounds(double *left, double *top, double *right, double *bottom) const;
};

Shape Ellipse(Pt centre, double rx, double ry, double angleDegrees = 0);
Shape Circle(Pt centre, double r);
Shape Capsule(Pt a, Pt b, double ra, double rb);
Shape Polygon(std::vector<Pt> points, double round = 0);
Shape Dot(Pt p);
Shape Cut(Shape s);

struct Part {
    std::vector<Shape> shapes;
    Ramp ramp;
    bool outline = true; // dark edge on every pixel next to the outside
    bool shaded = true;  // else the whole part in the ramp's base colour
    bool blend = false;  // outline only against the background, so it joins
                         // the parts already painted (hips into legs)
    double shade = 0;    // shifts the lighting: negative darkens
};

// A rotation and shift from a part's own coordinates into the frame's; a
// mirror flips x about the frame's middle afterwards.
struct Placement {
    Pt origin{0, 0};
    double angleDegrees = 0;
    Pt Apply(Pt local) const;
    Shape Apply(const Shape &s) const;
    Placement Then(const Placement &inner) const; // inner's coordinates into ours
};
void Mirror(std::vector<Part> &parts, double frameWidth);

// Paints the parts in order into the width x height cell at (left, top),
// whose empty pixels hold background.
void PaintParts(IndexedImage &canvas, int left, int top, int width, int height,
                const std::vector<Part> &parts, uint8_t background = Background);

// Fills the pinholes of a painted cell: pockets of background smaller than
// minimum pixels that the figure closes in (where two parts nearly touch)
// take the outline colour; larger gaps between limbs stay open.
void FillPinholes(IndexedImage &canvas, int left, int top, int width, int height, int minimum,
                  uint8_t background = Background);
