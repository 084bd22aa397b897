#include "tools/figure.h"
#include "common/angles.h"
#include "tools/lettering.h"
#include "tools/puppet.h"

#include <algorithm>
#include <cmath>

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

const Ramp kSkinRamp{kSkinLight, kSkin, kSkinShadow};
const Ramp kSkinFarRamp{kSkinFarLight, kSkinFar, kSkinFarShadow};
const Ramp kHairRamp{kHairLight, kHair, kHairShadow};
const Ramp kShirtRamp{kShirtLight, kShirt, kShirtShadow};
const Ramp kShirtFarRamp{kShirtFarLight, kShirtFar, kShirtFarShadow};
const Ramp kTrousersRamp{kTrousersLight, kTrousers, kTrousersShadow};
const Ramp kTrousersFarRamp{kTrousersFarLight, kTrousersFar, kTrousersFarShadow};
const Ramp kShoeRamp{kShoeLight, kShoe, kShoeShadow};
const Ramp kShoeFarRamp{kShoeFarLight, kShoeFar, kShoeFarShadow};
const Ramp kSoleRamp{kSoleLight, kSole, kSoleShadow};
const Ramp kSoleFarRamp{kSoleFarLight, kSoleFar, kSoleFarShadow};
const Ramp kStarRamp{kStarLight, kStar, kStarShadow};

// Proportions, in pixels of the 64 x 128 frame.
const Pt kHipRoot{32, 84};  // where the legs meet the body, standing
const double kAnkleY = 118; // ankles of feet on the ground
const double kGround = 125.8;
const double kThigh = 17, kShin = 17;
const double kUpperArm = 13, kForearm = 12;
const Pt kNeck{0, -35};    // neck pivot, from the hip root
const double kHeadUp = 16; // head centre above the neck pivot

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
    if (len >= kThigh + kShin)
        return hip + along * kThigh;
    double a = (kThigh * kThigh - kShin * kShin + len * len) / (2 * len);
    double h = std::sqrt(std::max(0.0, kThigh * kThigh - a * a)) * amount;
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
    Pt elbow = shoulder + Dir(arm.upper) * (kUpperArm * (0.55 + 0.45 * arm.reach));
    Pt wrist = elbow + Dir(arm.fore) * (kForearm * arm.reach);
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
            parts.push_back(Flat(
                kOutline, dots({{ex - 2, 2}, {ex - 1, 1}, {ex, 0}, {ex + 1, 1}, {ex + 2, 2}})));
        } else {
            parts.push_back(Flat(kOutline, {head.Apply(Ellipse({ex, 1.5}, 1.7, 3.0))}));
            parts.push_back(Flat(kEyeWhite, dots({{ex - 1, -1}})));
        }
        parts.push_back(Flat(kCheek, {head.Apply(Ellipse({11 * side, 7.5}, 2.6, 1.5))}));
    }
    switch (face) {
    case Face::Smile:
    case Face::Joy:
        parts.push_back(Flat(kOutline, dots({{-3, 8}, {-2, 9}, {-1, 9}, {0, 9}, {1, 9}, {2, 8}})));
        break;
    case Face::Talk:
        parts.push_back(Flat(kMouth, {head.Apply(Ellipse({0, 9}, 2.6, 2.4))}, true));
        parts.push_back(Flat(kTongue, {head.Apply(Ellipse({0, 10.3}, 1.2, 0.8))}));
        break;
    case Face::Grin:
        parts.push_back(Flat(kMouth,
                             {head.Apply(Ellipse({0, 8}, 4.4, 3.4)),
                              Cut(head.Apply(Polygon({{-6, 4}, {6, 4}, {6, 7.6}, {-6, 7.6}})))},
                             true));
        parts.push_back(Flat(kTongue, {head.Apply(Ellipse({0.5, 10.2}, 1.6, 0.8))}));
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
        parts.push_back(MakePart(kSkinRamp, ears));
    parts.push_back(MakePart(kSkinRamp, {head.Apply(Ellipse({0, 0}, 17, 16.5))}));
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
    parts.push_back(MakePart(kHairRamp, hair));
    if (back)
        parts.push_back(MakePart(kSkinRamp, ears));
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
    parts.push_back(MakePart(kSoleRamp, {Ellipse(ankle + Pt{0, 5.4}, 7.0, 2.4)}));
    parts.push_back(MakePart(kShoeRamp, {Ellipse(ankle + Pt{0, 2.6}, 6.2, 4.2)}));
}

std::vector<Part> FrontParts(const FrontPose &pose, bool back)
{
    std::vector<Part> parts;
    Pt root = kHipRoot + pose.body;
    Placement body{root, pose.lean};
    Placement head = body.Then(Placement{kNeck, pose.headTilt}).Then(Placement{{0, -kHeadUp}, 0});

    // Legs from the hips to feet that stay where they are put.
    for (double side : {-1.0, 1.0}) {
        Pt shift = side < 0 ? pose.leftFoot : pose.rightFoot;
        Pt hip = root + Pt{4.8 * side, 0};
        Pt ankle = Pt{kHipRoot.x + 4.8 * side + shift.x, kAnkleY - shift.y};
        parts.push_back(Leg(hip, Knee(hip, ankle, side, pose.kneeOut), ankle, kTrousersRamp));
    }
    for (double side : {-1.0, 1.0}) {
        Pt shift = side < 0 ? pose.leftFoot : pose.rightFoot;
        AddShoeFront(parts, Pt{kHipRoot.x + 4.8 * side + shift.x, kAnkleY - shift.y});
    }
    Part hips =
        MakePart(kTrousersRamp, {body.Apply(Polygon({{-8.5, -8}, {8.5, -8}, {8, 1}, {-8, 1}}, 3))});
    hips.blend = true;
    parts.push_back(hips);
    Part neck = MakePart(kSkinRamp, {body.Apply(Capsule({0, -28}, {0, -39}, 4.2, 4.2))});
    neck.shade = -0.5;
    parts.push_back(neck);
    std::vector<Shape> shirt = {
        body.Apply(Polygon({{-7.5, -28}, {7.5, -28}, {8.5, -8}, {-8.5, -8}}, 4.6))};
    if (!back)
        shirt.push_back(Cut(body.Apply(Ellipse({0, -33}, 4.8, 3.0))));
    parts.push_back(MakePart(kShirtRamp, shirt));
    if (!back) {
        std::vector<Pt> star;
        for (int i = 0; i < 10; i++) {
            double r = i % 2 ? 2.0 : 4.6;
            star.push_back(Pt{0, -18.5} + Pt{std::sin(i * Pi / 5), -std::cos(i * Pi / 5)} * r);
        }
        Part emblem = MakePart(kStarRamp, {body.Apply(Polygon(star))});
        emblem.outline = false;
        parts.push_back(emblem);
    }
    AddHeadFrontOrBack(parts, head, back, pose.face);
    AddArm(parts, body, {-10, -26}, pose.left, kSkinRamp, kShirtRamp);
    AddArm(parts, body, {10, -26}, pose.right, kSkinRamp, kShirtRamp);
    return parts;
}

// In profile facing right; frames facing left are its mirror image.
struct ProfilePose {
    double hipY = kHipRoot.y;
    double lean = 0;
    ArmPose nearArm{0, 10}, farArm{0, 10};
    Pt nearAnkle{0, 0}, farAnkle{0, 0}; // from below the hip, y up
    double nearFoot = 0, farFoot = 0;   // foot turn, degrees, + toe down
};

void AddShoeProfile(std::vector<Part> &parts, Pt ankle, double turn, bool far)
{
    Placement foot{ankle, turn};
    parts.push_back(MakePart(far ? kSoleFarRamp : kSoleRamp,
                             {foot.Apply(Capsule({-3.6, 5.8}, {8.8, 5.8}, 1.9, 1.9))}));
    parts.push_back(
        MakePart(far ? kShoeFarRamp : kShoeRamp,
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
    Pt root{kHipRoot.x + 0.5, pose.hipY};
    Placement body{root, pose.lean};
    Placement head =
        body.Then(Placement{kNeck + Pt{0.5, 0}, 0}).Then(Placement{{0.5, -kHeadUp}, 0});
    Pt shoulder{0.5, -26.5};

    AddArm(parts, body, shoulder, pose.farArm, kSkinFarRamp, kShirtFarRamp);
    struct {
        Pt ankle;
        double turn;
        bool far;
    } legs[] = {{pose.farAnkle, pose.farFoot, true}, {pose.nearAnkle, pose.nearFoot, false}};
    for (const auto &leg : legs) {
        Pt hip = root + Pt{leg.far ? -0.8 : 0.6, leg.far ? -0.6 : 0};
        // Feet stand on the ground however they turn.
        double lift = std::max(leg.ankle.y, ShoeDepth(leg.turn) - ShoeDepth(0));
        Pt ankle{kHipRoot.x + 0.5 + leg.ankle.x, kAnkleY - lift};
        parts.push_back(
            Leg(hip, Knee(hip, ankle, 1, 1), ankle, leg.far ? kTrousersFarRamp : kTrousersRamp));
        AddShoeProfile(parts, ankle, leg.turn, leg.far);
    }
    Part hips = MakePart(
        kTrousersRamp, {body.Apply(Polygon({{-5.5, -8}, {5.5, -8}, {5.5, 1.5}, {-5.5, 1.5}}, 3))});
    hips.blend = true;
    parts.push_back(hips);
    Part neck = MakePart(kSkinRamp, {body.Apply(Capsule({0.5, -28}, {1, -39}, 4.0, 4.0))});
    neck.shade = -0.5;
    parts.push_back(neck);
    parts.push_back(MakePart(
        kShirtRamp, {body.Apply(Polygon({{-4, -28}, {4.5, -28}, {5.5, -8}, {-4.5, -8}}, 4.6))}));

    parts.push_back(
        MakePart(kSkinRamp, Placed(head, {Ellipse({0, 0}, 16, 16.5), Ellipse({5.5, 6.5}, 10.5, 9),
                                          Circle({16.2, 3}, 2.4)})));
    std::vector<Shape> hair =
        Placed(head, {Ellipse({-1.5, -2}, 18, 17.8), Cut(Ellipse({9.5, 9}, 13, 17.5)),
                      Cut(Polygon({{-30, 9}, {30, 9}, {30, 40}, {-30, 40}})),
                      Ellipse({10.5, -7}, 5, 3.3, 20)});
    std::vector<Shape> tuft = Tuft(head);
    hair.insert(hair.end(), tuft.begin(), tuft.end());
    parts.push_back(MakePart(kHairRamp, hair));
    parts.push_back(MakePart(kSkinRamp, {head.Apply(Ellipse({-3.5, 2.5}, 3.2, 4.4))}));
    parts.push_back(Flat(kSkinShadow, {head.Apply(Capsule({-3.2, 1.2}, {-3, 4}, 0.7, 0.7))}));
    parts.push_back(Flat(kOutline, {head.Apply(Ellipse({9.5, 1.2}, 1.5, 2.9))}));
    parts.push_back(Flat(kEyeWhite, {Dot(head.Apply(Pt{9.2, -0.5}))}));
    parts.push_back(Flat(kCheek, {head.Apply(Ellipse({7.5, 7.5}, 2.5, 1.5))}));
    parts.push_back(Flat(kOutline, {Dot(head.Apply(Pt{11.5, 9.5})), Dot(head.Apply(Pt{12.5, 9.5})),
                                    Dot(head.Apply(Pt{13.5, 8.5}))}));

    AddArm(parts, body, shoulder, pose.nearArm, kSkinRamp, kShirtRamp);
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
    pose.hipY = kHipRoot.y + 0.3 + 2.0 * (0.5 + 0.5 * std::cos(4 * Pi * phase));
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
// twice (10 frames), lower it again (4 frames). "Hi!" sounds from frame 56.
FrontPose Wave(int k)
{
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
    if (k >= 7 && k <= 9)
        pose.face = Face::Talk;
    else if (k >= 10 && k <= 12)
        pose.face = Face::Joy;
    return pose;
}

// The dance: small poses on the beat of the jingle, which starts on the
// third frame; it ends on the plain standing pose.
FrontPose Dance(int k)
{
    const ArmPose hang{-8, -3}, hangR{8, 3};
    const ArmPose cheerL{-128, -178}, cheerR{128, 178};
    const ArmPose hipL{-55, 25}, hipR{55, -25};
    const ArmPose clapL{-20, 82}, clapR{20, -82};
    const ArmPose jazzL{-25, -150}, jazzR{25, 150};
    FrontPose p;
    switch (k) {
    case 0: // gather
        p.body = {0, 2.5}, p.kneeOut = 1, p.left = {-30, 40}, p.right = {30, -40};
        p.face = Face::Grin;
        break;
    case 1: // hands up
        p.body = {0, -1}, p.left = cheerL, p.right = cheerR, p.face = Face::Grin;
        break;
    case 2:
    case 6: // sway right, right foot out
        p.body = {1.5, 1}, p.lean = 4, p.headTilt = 3, p.left = hipL, p.right = {140, 166};
        p.rightFoot = {4, 0}, p.kneeOut = 1, p.face = Face::Grin;
        break;
    case 3:
    case 7:
        p.body = {2, 0}, p.lean = 5, p.headTilt = 4, p.left = hipL, p.right = {146, 178};
        p.rightFoot = {4, 0}, p.leftFoot = {0, 3}, p.face = Face::Grin;
        break;
    case 4:
    case 8: // sway left, left foot out
        p.body = {-1.5, 1}, p.lean = -4, p.headTilt = -3, p.left = {-140, -166}, p.right = hipR;
        p.leftFoot = {-4, 0}, p.kneeOut = 1, p.face = Face::Grin;
        break;
    case 5:
    case 9:
        p.body = {-2, 0}, p.lean = -5, p.headTilt = -4, p.left = {-146, -178}, p.right = hipR;
        p.leftFoot = {-4, 0}, p.rightFoot = {0, 3}, p.face = Face::Grin;
        break;
    case 10: // crouch for the hop
        p.body = {0, 3}, p.kneeOut = 1, p.left = {-35, 60}, p.right = {35, -60};
        break;
    case 11: // hop
        p.body = {0, -2}, p.leftFoot = {0, 2}, p.rightFoot = {0, 2}, p.left = cheerL,
        p.right = cheerR;
        p.face = Face::Joy;
        break;
    case 12: // land and clap
        p.body = {0, 2.5}, p.kneeOut = 1, p.left = clapL, p.right = clapR, p.face = Face::Grin;
        break;
    case 13: p.body = {0, 1}, p.left = {-24, 70}, p.right = {24, -70}, p.face = Face::Grin; break;
    case 14: // twist
        p.body = {1, 1.5}, p.lean = 3, p.leftFoot = {-2, 0}, p.rightFoot = {2, 0}, p.kneeOut = 1;
        p.left = jazzL, p.right = jazzR, p.face = Face::Joy;
        break;
    case 15:
        p.body = {-1, 1.5}, p.lean = -3, p.leftFoot = {-2, 0}, p.rightFoot = {2, 0}, p.kneeOut = 1;
        p.left = jazzL, p.right = jazzR, p.face = Face::Joy;
        break;
    case 16: // ta-da
        p.body = {0, -1}, p.left = cheerL, p.right = cheerR, p.face = Face::Grin;
        break;
    case 17: p.left = {-30, -20}, p.right = {30, 20}, p.face = Face::Smile; break;
    case 18: p.left = {-14, -10}, p.right = {14, 10}; break;
    default: // the rest pose
        p.left = hang, p.right = hangR;
        break;
    }
    return p;
}

std::vector<Part> FrameParts(int frame)
{
    if (frame <= 12)
        return ProfileParts(WalkProfile((frame - 1) / 12.0));
    if (frame <= 24) {
        std::vector<Part> parts = ProfileParts(WalkProfile((frame - 13) / 12.0));
        Mirror(parts, kFrameWidth);
        return parts;
    }
    if (frame <= 36)
        return FrontParts(WalkFront((frame - 25) / 12.0), false);
    if (frame <= 48)
        return FrontParts(WalkFront((frame - 37) / 12.0), true);
    if (frame <= 66)
        return FrontParts(Wave(frame - 49), false);
    return FrontParts(Dance(frame - 67), false);
}

} // namespace

IndexedImage DrawFrame(int frame, uint8_t background)
{
    IndexedImage image(kFrameWidth, kFrameHeight, background);
    PaintParts(image, 0, 0, kFrameWidth, kFrameHeight, FrameParts(frame), background);
    FillPinholes(image, 0, 0, kFrameWidth, kFrameHeight, kSmallestGap, background);
    return image;
}

IndexedImage DrawFrameStrip()
{
    IndexedImage strip(kFrameWidth * kFrameCount, kFrameHeight, kBackground);
    for (int frame = 1; frame <= kFrameCount; frame++) {
        IndexedImage image = DrawFrame(frame, kBackground);
        for (int y = 0; y < kFrameHeight; y++)
            std::copy_n(&image.At(0, y), kFrameWidth, &strip.At(kFrameWidth * (frame - 1), y));
    }
    return strip;
}

IndexedImage DrawAboutPicture()
{
    IndexedImage picture(kAboutWidth, kAboutHeight, kSky);
    // Sky in bands, lighter towards the horizon, and a strip of grass.
    const int horizon = 112;
    for (int y = 0; y < kAboutHeight; y++)
        for (int x = 0; x < kAboutWidth; x++)
            picture.At(x, y) = y >= horizon ? (y == horizon      ? kGrassLight
                                               : y < horizon + 4 ? kGrass
                                                                 : kGrassShadow)
                               : y < 40     ? kSkyDeep
                               : y < 80     ? kSky
                                            : kSkyLight;
    std::vector<Part> clouds = {
        MakePart(Ramp{kCloud, kCloud, kCloudShadow},
                 {Ellipse({150, 20}, 12, 6), Ellipse({162, 16}, 9, 7), Ellipse({172, 21}, 10, 5)}),
        MakePart(Ramp{kCloud, kCloud, kCloudShadow},
                 {Ellipse({196, 52}, 9, 4.5), Ellipse({205, 49}, 7, 5)}),
    };
    for (Part &c : clouds)
        c.outline = false;
    PaintParts(picture, 0, 0, kAboutWidth, kAboutHeight, clouds);
    // Nelko waving, standing in the grass.
    FrontPose pose = Wave(7);
    pose.face = Face::Grin;
    IndexedImage nelko(kFrameWidth, kFrameHeight, kBackground);
    PaintParts(nelko, 0, 0, kFrameWidth, kFrameHeight, FrontParts(pose, false));
    const int left = 6, drop = -2;
    for (int y = 0; y < kFrameHeight; y++)
        for (int x = 0; x < kFrameWidth; x++)
            if (nelko.At(x, y) != kBackground && picture.Inside(x + left, y + drop))
                picture.At(x + left, y + drop) = nelko.At(x, y);
    DrawTitle(picture, 78, 26, "Nelko");
    DrawText(picture, 78, 74, "Click me, pick from", kOutline);
    DrawText(picture, 78, 84, "my menu or just say", kOutline);
    DrawText(picture, 78, 94, "what I should do!", kOutline);
    // The last row may be cut off by the box: plain ground.
    for (int x = 0; x < kAboutWidth; x++)
        picture.At(x, kAboutHeight - 1) = kGrassShadow;
    return picture;
}

IndexedImage DrawIconFace()
{
    IndexedImage icon(kIconSize, kIconSize, kBackground);
    std::vector<Part> parts;
    Placement head{{16, 17.5}, 0};
    // The head at a smaller scale: the frame's head is drawn into a larger
    // cell and sampled down would blur, so the icon has its own proportions.
    parts.push_back(MakePart(
        kSkinRamp, Placed(head, {Ellipse({-13.2, 2}, 2.4, 3.4), Ellipse({13.2, 2}, 2.4, 3.4)})));
    parts.push_back(MakePart(kSkinRamp, {head.Apply(Ellipse({0, 0}, 13.2, 12.8))}));
    parts.push_back(MakePart(
        kHairRamp, Placed(head, {Ellipse({0, -1.6}, 14.4, 13.8), Cut(Ellipse({0, 7.5}, 12, 14)),
                                 Cut(Polygon({{-30, -1}, {30, -1}, {30, 40}, {-30, 40}})),
                                 Ellipse({-6.5, -5.8}, 3.6, 2.6, -15), Ellipse({0, -5.2}, 3.8, 2.6),
                                 Ellipse({6.5, -5.8}, 3.6, 2.6, 15),
                                 Capsule({-1, -12.5}, {0, -16}, 2.2, 1.6)})));
    for (double side : {-1.0, 1.0}) {
        parts.push_back(Flat(kOutline, {head.Apply(Ellipse({5.5 * side, 1.5}, 1.5, 2.5))}));
        parts.push_back(Flat(kCheek, {head.Apply(Ellipse({8.5 * side, 5.8}, 2, 1.2))}));
    }
    parts.push_back(Flat(kEyeWhite, {Dot(head.Apply(Pt{-6, 0})), Dot(head.Apply(Pt{5, 0}))}));
    parts.push_back(Flat(kOutline, {Dot(head.Apply(Pt{-2.5, 6.5})), Dot(head.Apply(Pt{-1.5, 7.5})),
                                    Dot(head.Apply(Pt{-0.5, 7.5})), Dot(head.Apply(Pt{0.5, 7.5})),
                                    Dot(head.Apply(Pt{1.5, 6.5}))}));
    PaintParts(icon, 0, 0, kIconSize, kIconSize, parts);
    return icon;
}
