// Configuration globals and the decimal parsing of configuration numbers.
#include "app/app.h"

char WindowTitle[64];
uint16_t CommandCount;
uint16_t FrameWidth;
uint16_t FrameHeight;
HINSTANCE AppInstance;
HWND MainWindow;

uint32_t ParseDecimal(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10u + static_cast<uint32_t>(*text - '0');
    return negative ? 0u - value : value;
}
