// Placeholder until the sprite display lands.
#include "sprite/sprite.h"

uint16_t ScreenWidth;
uint16_t ScreenHeight;
int AssetsReady;

int LoadSpriteAssets(HWND) { return 0; }
void PresentFrame(HWND) {}
void PaintFrame(HWND) {}
int RealizeSpritePalette(HWND) { return 0; }
