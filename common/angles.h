// π and angles in degrees, for what draws the character and what shapes sound.
#pragma once

constexpr double Pi = 3.14159265358979323846;

constexpr double Radians(double degrees)
{
    return degrees * Pi / 180;
}
