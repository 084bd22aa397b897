// Placeholder until the About box lands.
#include "about/about.h"

void ShowAboutBox() {}
