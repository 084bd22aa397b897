// The string table lookup on the host, over a table the tests fill.
#include "app/app.h"
#include "fake_strings.h"
#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace {
std::map<UINT, std::string> &Strings()
{
    static std::map<UINT, std::string> strings;
    return strings;
}
} // namespace

void SetFakeString(UINT id, const char *text)
{
    if (text)
        Strings()[id] = text;
    else
        Strings().erase(id);
}

void ClearFakeStrings()
{
    Strings().clear();
}

void SetShippedCommandLabels()
{
    static const char *const labels[] = {"Random",    "Go Left",     "Go Right", "Run Left",
                                         "Run Right", "Go Up",       "Go Down",  "Wave",
                                         "Dance",     "About Nelko", "Bye Bye"};
    for (UINT n = 0; n < sizeof labels / sizeof labels[0]; ++n)
        SetFakeString(8000 + n, labels[n]);
}

// As the platform's lookup: at most size - 1 characters and a terminating
// zero; 0 and an empty buffer for a missing or empty string.
int LoadText(UINT id, char *buffer, int size)
{
    if (size <= 0)
        return 0;
    buffer[0] = '\0';
    auto found = Strings().find(id);
    if (found == Strings().end())
        return 0;
    const size_t n = std::min(found->second.size(), static_cast<size_t>(size - 1));
    memcpy(buffer, found->second.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}
