// A file to listen to, looked at on the handle it opens rather than on the
// spelling of its path.
#pragma once
#include <string>

// Why the path is not a plain file on a local drive, or nullptr when it is:
// a device (whatever its name looks like: COM1, NUL, COM¹), a folder, a
// reparse point, or a path that leads elsewhere than it says (a junction or
// link on the way), or a network or unknown drive. Nothing is read.
const char *NotAPlainLocalFile(const std::string &path);
