#include "tools/figure.h"
#include "common/angles.h"
#include "tools/lettering.h"
#include "tools/puppet.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// A direction by its angle from straight down, positive towards +x.
Pt Dir(double degrees)
{
    return Pt{std::sin(Radians(degrees)), std::cos(Radians(degrees))};
}
double Ease(double t)
{
    return t * t * (3 - 2 * t);
}

const Ramp SkinRamp{SkinLight, Skin, SkinShadow};
const Ramp SkinFarRamp{SkinFarLight, SkinFar, SkinFarShadow};
const Ramp HairRamp{HairLight, Hair, HairShadow};
const Ramp ShirtRamp{ShirtLight, Shirt, ShirtShadow};
const Ramp ShirtFarRamp{ShirtFarLight, ShirtFar, ShirtFarShadow};
const Ramp TrousersRamp{TrousersLight, Trousers, TrousersShadow};
const Ramp TrousersFarRamp{TrousersFarLight, TrousersFar, TrousersFarShadow};
const Ramp ShoeRamp{ShoeLight, Shoe, ShoeShadow};
const Ramp ShoeFarRamp{ShoeFarLight, ShoeFar, ShoeFarShadow};
const Ramp SoleRamp{SoleLight, Sole, SoleShadow};
const Ramp SoleFarRamp{SoleFarLight, SoleFar, SoleFarShadow};
const Ramp StarRamp{StarLight, Star, StarShadow};

// Proportions, in pixels of the 64 x 128 frame.
const Pt HipRoot{32, 84};  // where the legs meet the body, standing
const double AnkleY = 118; // ankles of feet on the ground
const double Ground = 125.8;
const double Thigh = 17, Shin = 17;
const double UpperArm = 13, Forearm = 12;
const Pt Neck{0, -35};    // neck pivot, from the hip root
const double HeadUp = 16; // head centre above the neck pivot

enum class Face { Smile, Talk, Grin, Joy };

Part MakePart(Ramp ramp, std::vector<Shape> shapes)
{
    Part p;
    p.ramp = ramp, p.shapes = std::move(shapes);
    return p;
}

Part Flat(uint8_t colour, std::vector<Shape> shapes, bool outline = false)
{
    Part p = MakePart(Ramp{colour, colour, colour}, std::move(shapes));
    p.outline = outline, p.shaded = false;
    return p;
}

std::vector<Shape> Placed(const Placement &at, std::vector<Shape> shapes)
{
    for (Shape &s : shapes)
        s = at.Apply(s);
    return shapes;
}

// The knee of a leg from hip to ankle, bending towards side (+1: +x) by
// amount (1: the full bend of two rigid bones, less for a foreshortened knee).
Pt Knee(Pt hip, Pt ankle, double side, double amount)
{
    Pt d = ankle - hip;
    double len = std::hypot(d.x, d.y);
    Pt along = d * (1 / len);
    if (len >= Thigh + Shin)
        return hip + along * Thigh;
    double a = (Thigh * Thigh - Shin * Shin + len * len) / (2 * len);
    double h = std::sqrt(std::max(0.0, Thigh * Thigh - a * a)) * amount;
    Pt across{-along.y, along.x};
    if (across.x * side < 0)
        across = across * -1;
    return hip + along * a + across * h;
}

Part Leg(Pt hip, Pt knee, Pt ankle, Ramp ramp)
{
    return MakePart(ramp, {Capsule(hip, knee, 5.3, 4.7), Capsule(knee, ankle, 4.7, 4.3)});
}

struct ArmPose {
    double upper, fore; // degrees from hanging straight down, + towards +x
    double reach = 1;   // below 1 the forearm swings towards the viewer
};

// A bare arm ending in a mitten hand, and a short sleeve over its top.
void AddArm(std::vector<Part> &parts, const Placement &body, Pt shoulder, ArmPose arm, Ramp skin,
            Ramp shirt)
{
    Pt elbow = shoulder + Dir(arm.upper) * (UpperArm * (0.55 + 0.45 * arm.reach));
    Pt wrist = elbow + Dir(arm.fore) * (Forearm * arm.reach);
    Pt hand = wrist + Dir(arm.fore) * 2.6;
    parts.push_back(
        MakePart(skin, Placed(body, {Capsule(shoulder, elbow, 3.2, 3.0),
                                     Capsule(elbow, wrist, 3.0, 2.8), Circle(hand, 4.0)})));
    parts.push_back(MakePart(
        shirt, Placed(body, {Capsule(shoulder, shoulder + Dir(arm.upper) * 7, 5.0, 4.5)})));
}

void AddFaceFront(std::vector<Part> &parts, const Placement &head, Face face)
{
    auto dots = [&](std::initializer_list<Pt> offsets) {
        std::vector<Shape> s;
        for (Pt p : offsets)
            s.push_back(Dot(head.Apply(p + Pt{0.5, 0.5})));
        return s;
    };
    for (double side : {-1.0, 1.0}) {
        double ex = 7 * side;
        if (face == Face::Joy) {
            parts.push_back(
                Flat(Outline, dots({{ex - 2, 2}, {ex - 1, 1}, {ex, 0}, {ex + 1, 1}, {ex + 2, 2}})));
        } else {
            parts.push_back(Flat(Outline, {head.Apply(Ellipse({ex, 1.5}, 1.7, 3.0))}));
            parts.push_back(Flat(EyeWhite, dots({{ex - 1, -1}})));
        }
        parts.push_back(Flat(Cheek, {head.Apply(Ellipse({11 * side, 7.5}, 2.6, 1.5))}));
    }
    switch (face) {
    case Face::Smile:
    case Face::Joy:
        parts.push_back(Flat(Outline, dots({{-3, 8}, {-2, 9}, {-1, 9}, {0, 9}, {1, 9}, {2, 8}})));
        break;
    case Face::Talk:
        parts.push_back(Flat(Mouth, {head.Apply(Ellipse({0, 9}, 2.6, 2.4))}, true));
        parts.push_back(Flat(Tongue, {head.Apply(Ellipse({0, 10.3}, 1.2, 0.8))}));
        break;
    case Face::Grin:
        parts.push_back(Flat(Mouth,
                             {head.Apply(Ellipse({0, 8}, 4.4, 3.4)),
                              Cut(head.Apply(Polygon({{-6, 4}, {6, 4}, {6, 7.6}, {-6, 7.6}})))},
                             true));
        parts.push_back(Flat(Tongue, {head.Apply(Ellipse({0.5, 10.2}, 1.6, 0.8))}));
        break;
    }
}

std::vector<Shape> Tuft(const Placement &head)
{
    return Placed(head, {Capsule({-1, -16}, {-2, -22}, 2.7, 2.3),
                         Capsule({-2, -22}, {2, -25.5}, 2.3, 1.9),
                         Capsule({2, -25.5}, {5.5, -24.2}, 1.9, 1.4)});
}

// Head seen from the front or from behind, its centre at the placement's origin.
void AddHeadFrontOrBack(std::vector<Part> &parts, const Placement &head, bool back, Face face)
{
    std::vector<Shape> ears =
        Placed(head, {Ellipse({-17.3, 2}, 3.0, 4.4), Ellipse({17.3, 2}, 3.0, 4.4)});
    if (!back)
        parts.push_back(MakePart(SkinRamp, ears));
    parts.push_back(MakePart(SkinRamp, {head.Apply(Ellipse({0, 0}, 17, 16.5))}));
    std::vector<Shape> hair;
    if (back) {
        hair = Placed(head, {Ellipse({0, -1}, 18.8, 17.8),
                             Cut(Polygon({{-30, 9}, {30, 9}, {30, 40}, {-30, 40}})),
                             Ellipse({-9, 9}, 5, 3, -10), Ellipse({0, 10}, 5, 3),
                             Ellipse({9, 9}, 5, 3, 10)});
    } else {
        hair = Placed(head, {Ellipse({0, -1.8}, 18.6, 17.6), Cut(Ellipse({0, 9.5}, 15.5, 17.8)),
                             Cut(Polygon({{-30, -1}, {30, -1}, {30, 40}, {-30, 40}})),
                             Ellipse({-8.5, -7.5}, 4.6, 3.3, -15), Ellipse({0, -6.8}, 5, 3.4),
                             Ellipse({8.5, -7.5}, 4.6, 3.3, 15)});
    }
    std::vector<Shape> tuft = Tuft(head);
    hair.insert(hair.end(), tuft.begin(), tuft.end());
    parts.push_back(MakePart(HairRamp, hair));
    if (back)
        parts.push_back(MakePart(SkinRamp, ears));
    else
        AddFaceFront(parts, head, face);
}

// Facing the viewer (or turned away), in the frame's coordinates.
struct FrontPose {
    Pt body{0, 0};                      // the whole body's shift, feet excepted
    double lean = 0;                    // degrees the body turns about the hips, + leaning to +x
    double headTilt = 0;                // degrees the head turns about the neck, on top of the lean
    ArmPose left{-8, -3}, right{8, 3};  // the arms on the viewer's left and right
    Pt leftFoot{0, 0}, rightFoot{0, 0}; // shift of each foot, y up when lifted
    double kneeOut = 0.6;               // how far bent knees show outwards
    Face face = Face::Smile;
};

void AddShoeFront(std::vector<Part> &parts, Pt ankle)
{
    parts.push_back(MakePart(SoleRamp, {Ellipse(ankle + Pt{0, 5.4}, 7.0, 2.4)}));
    parts.push_back(MakePart(ShoeRamp, {Ellipse(ankle + Pt{0, 2.6}, 6.2, 4.2)}));
}

std::vector<Part> FrontParts(const FrontPose &pose, bool back)
{
    std::vector<Part> parts;
    Pt root = HipRoot + pose.body;
    Placement body{root, pose.lean};
    Placement head = body.Then(Placement{Neck, pose.headTilt}).Then(Placement{{0, -HeadUp}, 0});

    // Legs from the hips to feet that stay where they are put.
    for (double side : {-1.0, 1.0}) {
        Pt shift = side < 0 ? pose.leftFoot : pose.rightFoot;
        Pt hip = root + Pt{4.8 * side, 0};
        Pt ankle = Pt{HipRoot.x + 4.8 * side + shift.x, AnkleY - shift.y};
        parts.push_back(Leg(hip, Knee(hip, ankle, side, pose.kneeOut), ankle, TrousersRamp));
    }
    for (double side : {-1.0, 1.0}) {
        Pt shift = side < 0 ? pose.leftFoot : pose.rightFoot;
        AddShoeFront(parts, Pt{HipRoot.x + 4.8 * side + shift.x, AnkleY - shift.y});
    }
    Part hips =
        MakePart(TrousersRamp, {body.Apply(Polygon({{-8.5, -8}, {8.5, -8}, {8, 1}, {-8, 1}}, 3))});
    hips.blend = true;
    parts.push_back(hips);
    Part neck = MakePart(SkinRamp, {body.Apply(Capsule({0, -28}, {0, -39}, 4.2, 4.2))});
    neck.shade = -0.5;
    parts.push_back(neck);
    std::vector<Shape> shirt = {
        body.Apply(Polygon({{-7.5, -28}, {7.5, -28}, {8.5, -8}, {-8.5, -8}}, 4.6))};
    if (!back)
        shirt.push_back(Cut(body.Apply(Ellipse({0, -33}, 4.8, 3.0))));
    parts.push_back(MakePart(ShirtRamp, shirt));
    if (!back) {
        std::vector<Pt> star;
        for (int i = 0; i < 10; i++) {
            double r = i % 2 ? 2.0 : 4.6;
            star.push_back(Pt{0, -18.5} + Pt{std::sin(i * Pi / 5), -std::cos(i * Pi / 5)} * r);
        }
        Part emblem = MakePart(StarRamp, {body.Apply(Polygon(star))});
        emblem.outline = false;
        parts.push_back(emblem);
    }
    AddHeadFrontOrBack(parts, head, back, pose.face);
    AddArm(parts, body, {-10, -26}, pose.left, SkinRamp, ShirtRamp);
    AddArm(parts, body, {10, -26}, pose.right, SkinRamp, ShirtRamp);
    return parts;
}

// In profile facing right; frames facing left are its mirror image.
struct ProfilePose {
    double hipY = HipRoot.y;
    double lean = 0;
    ArmPose nearArm{0, 10}, farArm{0, 10};
    Pt nearAnkle{0, 0}, farAnkle{0, 0}; // from below the hip, y up
    double nearFoot = 0, farFoot = 0;   // foot turn, degrees, + toe down
};

void AddShoeProfile(std::vector<Part> &parts, Pt ankle, double turn, bool far)
{
    Placement foot{ankle, turn};
    parts.push_back(MakePart(far ? SoleFarRamp : SoleRamp,
                             {foot.Apply(Capsule({-3.6, 5.8}, {8.8, 5.8}, 1.9, 1.9))}));
    parts.push_back(
        MakePart(far ? ShoeFarRamp : ShoeRamp,
                 {foot.Apply(Ellipse({1.6, 2.6}, 6.2, 4.0)), foot.Apply(Circle({6.6, 3.5}, 3.3))}));
}

// The lowest point of a shoe turned about its ankle, below the ankle.
double ShoeDepth(double turn)
{
    Placement foot{{0, 0}, turn};
    return std::max(foot.Apply(Pt{-3.6, 5.8}).y, foot.Apply(Pt{8.8, 5.8}).y) + 1.9;
}

std::vector<Part> ProfileParts(const ProfilePose &pose)
{
    std::vector<Part> parts;
    Pt root{HipRoot.x + 0.5, pose.hipY};
    Placement body{root, pose.lean};
    Placement head = body.Then(Placement{Neck + Pt{0.5, 0}, 0}).Then(Placement{{0.5, -HeadUp}, 0});
    Pt shoulder{0.5, -26.5};

    AddArm(parts, body, shoulder, pose.farArm, SkinFarRamp, ShirtFarRamp);
    struct {
        Pt ankle;
        double turn;
        bool far;
    } legs[] = {{pose.farAnkle, pose.farFoot, true}, {pose.nearAnkle, pose.nearFoot, false}};
    for (const auto &leg : legs) {
        Pt hip = root + Pt{leg.far ? -0.8 : 0.6, leg.far ? -0.6 : 0};
        // Feet stand on the ground however they turn.
        double lift = std::max(leg.ankle.y, ShoeDepth(leg.turn) - ShoeDepth(0));
        Pt ankle{HipRoot.x + 0.5 + leg.ankle.x, AnkleY - lift};
        parts.push_back(
            Leg(hip, Knee(hip, ankle, 1, 1), ankle, leg.far ? TrousersFarRamp : TrousersRamp));
        AddShoeProfile(parts, ankle, leg.turn, leg.far);
    }
    Part hips = MakePart(
        TrousersRamp, {body.Apply(Polygon({{-5.5, -8}, {5.5, -8}, {5.5, 1.5}, {-5.5, 1.5}}, 3))});
    hips.blend = true;
    parts.push_back(hips);
    Part neck = MakePart(SkinRamp, {body.Apply(Capsule({0.5, -28}, {1, -39}, 4.0, 4.0))});
    neck.shade = -0.5;
    parts.push_back(neck);
    parts.push_back(MakePart(
        ShirtRamp, {body.Apply(Polygon({{-4, -28}, {4.5, -28}, {5.5, -8}, {-4.5, -8}}, 4.6))}));

    parts.push_back(
        MakePart(SkinRamp, Placed(head, {Ellipse({0, 0}, 16, 16.5), Ellipse({5.5, 6.5}, 10.5, 9),
                                         Circle({16.2, 3}, 2.4)})));
    std::vector<Shape> hair =
        Placed(head, {Ellipse({-1.5, -2}, 18, 17.8), Cut(Ellipse({9.5, 9}, 13, 17.5)),
                      Cut(Polygon({{-30, 9}, {30, 9}, {30, 40}, {-30, 40}})),
                      Ellipse({10.5, -7}, 5, 3.3, 20)});
    std::vector<Shape> tuft = Tuft(head);
    hair.insert(hair.end(), tuft.begin(), tuft.end());
    parts.push_back(MakePart(HairRamp, hair));
    parts.push_back(MakePart(SkinRamp, {head.Apply(Ellipse({-3.5, 2.5}, 3.2, 4.4))}));
    parts.push_back(Flat(SkinShadow, {head.Apply(Capsule({-3.2, 1.2}, {-3, 4}, 0.7, 0.7))}));
    parts.push_back(Flat(Outline, {head.Apply(Ellipse({9.5, 1.2}, 1.5, 2.9))}));
    parts.push_back(Flat(EyeWhite, {Dot(head.Apply(Pt{9.2, -0.5}))}));
    parts.push_back(Flat(Cheek, {head.Apply(Ellipse({7.5, 7.5}, 2.5, 1.5))}));
    parts.push_back(Flat(Outline, {Dot(head.Apply(Pt{11.5, 9.5})), Dot(head.Apply(Pt{12.5, 9.5})),
                                   Dot(head.Apply(Pt{13.5, 8.5}))}));

    AddArm(parts, body, shoulder, pose.nearArm, SkinRamp, ShirtRamp);
    return parts;
}

// One foot's path through the walk, phase 0 to 1: on the ground moving back
// under the body for the first half (as far as the window moves, so it does
// not slide), then lifted and carried forward.
void FootInWalk(double phase, Pt *ankle, double *turn)
{
    const double stride = 12, lift = 7;
    double q = phase - std::floor(phase);
    if (q < 0.5) {
        double t = q / 0.5;
        *ankle = Pt{stride * (1 - 2 * t), 0};
        *turn = t < 0.15 ? -10 * (1 - t / 0.15) : t > 0.8 ? 18 * (t - 0.8) / 0.2 : 0;
    } else {
        double s = (q - 0.5) / 0.5;
        *ankle = Pt{-stride + 2 * stride * Ease(s), lift * std::sin(Pi * s)};
        *turn = s < 0.5 ? 18 * (1 - 2 * s) : -10 * (2 * s - 1);
    }
}

ProfilePose WalkProfile(double phase)
{
    ProfilePose pose;
    pose.hipY = HipRoot.y + 0.3 + 2.0 * (0.5 + 0.5 * std::cos(4 * Pi * phase));
    pose.lean = 3;
    FootInWalk(phase, &pose.nearAnkle, &pose.nearFoot);
    FootInWalk(phase + 0.5, &pose.farAnkle, &pose.farFoot);
    const double swing = 28;
    double nearArm = -swing * std::cos(2 * Pi * phase);
    pose.nearArm = ArmPose{nearArm, nearArm + 12 + 24 * std::max(0.0, nearArm / swing)};
    pose.farArm = ArmPose{-nearArm, -nearArm + 12 + 24 * std::max(0.0, -nearArm / swing)};
    return pose;
}

FrontPose WalkFront(double phase)
{
    FrontPose pose;
    double s = std::sin(2 * Pi * phase);
    // Weight over the foot on the ground, lowest when both feet are down.
    pose.body = Pt{-1.2 * s, 2.0 * (0.5 + 0.5 * std::cos(4 * Pi * phase))};
    pose.lean = -1.5 * s;
    pose.headTilt = 1.0 * s;
    for (int side = 0; side < 2; side++) {
        double q = phase + 0.5 * side;
        q -= std::floor(q);
        double lift = q < 0.5 ? 0 : 8 * std::sin(Pi * (q - 0.5) / 0.5);
        (side ? pose.rightFoot : pose.leftFoot) = Pt{0, lift};
    }
    // Each arm swings towards the viewer while the other side's leg steps:
    // its forearm shortens and the hand comes in front of the body; the arm
    // swinging back drifts out a little.
    for (int side = 0; side < 2; side++) {
        double forward = side ? -s : s, sign = side ? 1 : -1;
        double in = std::max(0.0, forward), out = std::max(0.0, -forward);
        ArmPose arm{sign * (8 - 6 * in + 5 * out), sign * (3 - 34 * in + 6 * out), 1 - 0.3 * in};
        (side ? pose.right : pose.left) = arm;
    }
    pose.kneeOut = 0.15;
    return pose;
}

// The wave: raise the arm on the viewer's right (4 frames), wave the hand
// twice (10 frames), lower it again (4 frames). "Hi!" sounds as the mouth
// opens, on GreetingFrame.
FrontPose Wave(int k)
{
    const int greeting = GreetingFrame - WaveFrames.first;
    static const ArmPose raise[] = {{10, 60}, {24, 130}, {70, 165}, {116, 180}};
    FrontPose pose;
    if (k < 4) {
        pose.right = raise[k];
    } else if (k < 14) {
        // The hand sweeps out while the elbow rises, and stays clear of the face.
        double w = std::sin(2 * Pi * (k - 3) / 5.0);
        pose.right = ArmPose{122 - 8 * w, 172 + 14 * w};
        pose.headTilt = -3;
        pose.lean = -1.5;
    } else {
        pose.right = raise[3 - (k - 14)];
        if (k == 17)
            pose.right = ArmPose{9, 20};
    }
    pose.left = ArmPose{-10, -5};
    if (k >= greeting && k < greeting + 3)
        pose.face = Face::Talk;
    else if (k >= greeting + 3 && k < greeting + 6)
        pose.face = Face::Joy;
    return pose;
}

// The dance: small poses on the beat of the jingle, which starts on the
// third frame; it ends on the plain standing pose.
const ArmPose CheerL{-128, -178}, CheerR{128, 178};
const ArmPose HipL{-55, 25}, HipR{55, -25};
const ArmPose ClapL{-20, 82}, ClapR{20, -82};
const ArmPose JazzL{-25, -150}, JazzR{25, 150};
// The sway, a step each way with the weight shifting, danced twice.
// clang-format off
const FrontPose SwayRight     {{1.5, 1},   4,  3, HipL,         {140, 166}, {0, 0},  {4, 0}, 1,   Face::Grin}; // right foot out
const FrontPose SwayRightLift {{2, 0},     5,  4, HipL,         {146, 178}, {0, 3},  {4, 0}, 0.6, Face::Grin};
const FrontPose SwayLeft      {{-1.5, 1}, -4, -3, {-140, -166}, HipR,       {-4, 0}, {0, 0}, 1,   Face::Grin}; // left foot out
const FrontPose SwayLeftLift  {{-2, 0},   -5, -4, {-146, -178}, HipR,       {-4, 0}, {0, 3}, 0.6, Face::Grin};

const FrontPose DancePoses[] = {
    // body      lean tilt left          right         left foot  right foot knee out  face
    {{0, 2.5},   0,   0, {-30, 40},    {30, -40},    {0, 0},    {0, 0},    1,        Face::Grin}, // gather
    {{0, -1},    0,   0, CheerL,       CheerR,       {0, 0},    {0, 0},    0.6,      Face::Grin}, // hands up
    SwayRight, SwayRightLift, SwayLeft, SwayLeftLift,
    SwayRight, SwayRightLift, SwayLeft, SwayLeftLift,
    {{0, 3},     0,   0, {-35, 60},    {35, -60},    {0, 0},    {0, 0},    1,        Face::Smile}, // crouch for the hop
    {{0, -2},    0,   0, CheerL,       CheerR,       {0, 2},    {0, 2},    0.6,      Face::Joy}, // hop
    {{0, 2.5},   0,   0, ClapL,        ClapR,        {0, 0},    {0, 0},    1,        Face::Grin}, // land and clap
    {{0, 1},     0,   0, {-24, 70},    {24, -70},    {0, 0},    {0, 0},    0.6,      Face::Grin},
    {{1, 1.5},   3,   0, JazzL,        JazzR,        {-2, 0},   {2, 0},    1,        Face::Joy}, // twist
    {{-1, 1.5}, -3,   0, JazzL,        JazzR,        {-2, 0},   {2, 0},    1,        Face::Joy},
    {{0, -1},    0,   0, CheerL,       CheerR,       {0, 0},    {0, 0},    0.6,      Face::Grin}, // ta-da
    {{0, 0},     0,   0, {-30, -20},   {30, 20},     {0, 0},    {0, 0},    0.6,      Face::Smile},
    {{0, 0},     0,   0, {-14, -10},   {14, 10},     {0, 0},    {0, 0},    0.6,      Face::Smile},
    FrontPose{}, // the rest pose
};
// clang-format on
static_assert(std::size(DancePoses) == DanceFrames.last - DanceFrames.first + 1,
              "a pose for every frame of the dance");

bool InRun(FrameRun run, int frame)
{
    return frame >= run.first && frame <= run.last;
}

// How far through its run of twelve a walking frame is, 0 to 11/12.
double Phase(FrameRun run, int frame)
{
    return (frame - run.first) / double(run.last - run.first + 1);
}

std::vector<Part> FrameParts(int frame)
{
    if (InRun(WalkRightFrames, frame))
        return ProfileParts(WalkProfile(Phase(WalkRightFrames, frame)));
    if (InRun(WalkLeftFrames, frame)) {
        std::vector<Part> parts = ProfileParts(WalkProfile(Phase(WalkLeftFrames, frame)));
        Mirror(parts, StripFrameWidth);
        return parts;
    }
    if (InRun(WalkTowardsFrames, frame))
        return FrontParts(WalkFront(Phase(WalkTowardsFrames, frame)), false);
    if (InRun(WalkAwayFrames, frame))
        return FrontParts(WalkFront(Phase(WalkAwayFrames, frame)), true);
    if (InRun(WaveFrames, frame))
        return FrontParts(Wave(frame - WaveFrames.first), false);
    return FrontParts(DancePoses[frame - DanceFrames.first], false);
}

} // namespace

IndexedImage DrawFrame(int frame, uint8_t background)
{
    IndexedImage image(StripFrameWidth, StripFrameHeight, background);
    PaintParts(image, 0, 0, StripFrameWidth, StripFrameHeight, FrameParts(frame), background);
    FillPinholes(image, 0, 0, StripFrameWidth, StripFrameHeight, SmallestGap, background);
    return image;
}

IndexedImage DrawFrameStrip()
{
    IndexedImage strip(StripFrameWidth * FrameCount, StripFrameHeight, Background);
    for (int frame = 1; frame <= FrameCount; frame++) {
        IndexedImage image = DrawFrame(frame, Background);
        for (int y = 0; y < StripFrameHeight; y++)
            std::copy_n(&image.At(0, y), StripFrameWidth,
                        &strip.At(StripFrameWidth * (frame - 1), y));
    }
    return strip;
}

IndexedImage DrawAboutPicture()
{
    IndexedImage picture(AboutWidth, AboutHeight, Sky);
    // Sky in bands, lighter towards the horizon, and a strip of grass.
    const int horizon = 112;
    for (int y = 0; y < AboutHeight; y++)
        for (int x = 0; x < AboutWidth; x++)
            picture.At(x, y) = y >= horizon ? (y == horizon      ? GrassLight
                                               : y < horizon + 4 ? Grass
                                                                 : GrassShadow)
                               : y < 40     ? SkyDeep
                               : y < 80     ? Sky
                                            : SkyLight;
    std::vector<Part> clouds = {
        MakePart(Ramp{Cloud, Cloud, CloudShadow},
                 {Ellipse({150, 20}, 12, 6), Ellipse({162, 16}, 9, 7), Ellipse({172, 21}, 10, 5)}),
        MakePart(Ramp{Cloud, Cloud, CloudShadow},
                 {Ellipse({196, 52}, 9, 4.5), Ellipse({205, 49}, 7, 5)}),
    };
    for (Part &c : clouds)
        c.outline = false;
    PaintParts(picture, 0, 0, AboutWidth, AboutHeight, clouds);
    // Nelko waving, standing in the grass.
    FrontPose pose = Wave(7);
    pose.face = Face::Grin;
    IndexedImage nelko(StripFrameWidth, StripFrameHeight, Background);
    PaintParts(nelko, 0, 0, StripFrameWidth, StripFrameHeight, FrontParts(pose, false));
    const int left = 6, drop = -2;
    for (int y = 0; y < StripFrameHeight; y++)
        for (int x = 0; x < StripFrameWidth; x++)
            if (nelko.At(x, y) != Background && picture.Inside(x + left, y + drop))
                picture.At(x + left, y + drop) = nelko.At(x, y);
    DrawTitle(picture, 78, 26, "Nelko");
    DrawText(picture, 78, 74, "Click me, pick from", Outline);
    DrawText(picture, 78, 84, "my menu or just say", Outline);
    DrawText(picture, 78, 94, "what I should do!", Outline);
    // The last row may be cut off by the box: plain ground.
    for (int x = 0; x < AboutWidth; x++)
        picture.At(x, AboutHeight - 1) = GrassShadow;
    return picture;
}

IndexedImage DrawIconFace()
{
    IndexedImage icon(IconSize, IconSize, Background);
    std::vector<Part> parts;
    Placement head{{16, 17.5}, 0};
    // The head at a smaller scale: the frame's head is drawn into a larger
    // cell and sampled down would blur, so the icon has its own proportions.
    parts.push_back(MakePart(
        SkinRamp, Placed(head, {Ellipse({-13.2, 2}, 2.4, 3.4), Ellipse({13.2, 2}, 2.4, 3.4)})));
    parts.push_back(MakePart(SkinRamp, {head.Apply(Ellipse({0, 0}, 13.2, 12.8))}));
    parts.push_back(MakePart(
        HairRamp, Placed(head, {Ellipse({0, -1.6}, 14.4, 13.8), Cut(Ellipse({0, 7.5}, 12, 14)),
                                Cut(Polygon({{-30, -1}, {30, -1}, {30, 40}, {-30, 40}})),
                                Ellipse({-6.5, -5.8}, 3.6, 2.6, -15), Ellipse({0, -5.2}, 3.8, 2.6),
                                Ellipse({6.5, -5.8}, 3.6, 2.6, 15),
                                Capsule({-1, -12.5}, {0, -16}, 2.2, 1.6)})));
    for (double side : {-1.0, 1.0}) {
        parts.push_back(Flat(Outline, {head.Apply(Ellipse({5.5 * side, 1.5}, 1.5, 2.5))}));
        parts.push_back(Flat(Cheek, {head.Apply(Ellipse({8.5 * side, 5.8}, 2, 1.2))}));
    }
    parts.push_back(Flat(EyeWhite, {Dot(head.Apply(Pt{-6, 0})), Dot(head.Apply(Pt{5, 0}))}));
    parts.push_back(Flat(Outline, {Dot(head.Apply(Pt{-2.5, 6.5})), Dot(head.Apply(Pt{-1.5, 7.5})),
                                   Dot(head.Apply(Pt{-0.5, 7.5})), Dot(head.Apply(Pt{0.5, 7.5})),
                                   Dot(head.Apply(Pt{1.5, 6.5}))}));
    PaintParts(icon, 0, 0, IconSize, IconSize, parts);
    return icon;
}
