// A small proportional pixel font (7 rows above the baseline, 2 below) for
// the About picture's lines, its title and the contact sheet's numbers.
#pragma once

#include "tools/image.h"

#include <string>

// Width in pixels of a line of text at scale 1.
int TextWidth(const std::string &text);

// Draws text with its top-left corner at (x, y), one pixel per font dot.
void DrawText(IndexedImage &image, int x, int y, const std::string &text, uint8_t colour);

// Draws a title four times the size, with a light top, a dark outline and a
// drop shadow.
void DrawTitle(IndexedImage &image, int x, int y, const std::string &text);
