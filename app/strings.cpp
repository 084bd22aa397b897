// The string table lookup.
#include "app/app.h"

int LoadText(UINT id, char *buffer, int size)
{
    if (size <= 0)
        return 0;
    buffer[0] = '\0';
    return LoadStringA(AppInstance, id, buffer, size);
}
