// Who is at the other end of a pipe: the checks a client makes on the server
// before it sends anything, and the user the pipe is made for.
#pragma once
#include <windows.h>
#include <string>

// The user a process runs as, as a SID string ("S-1-5-21-..."); empty when
// it cannot be read.
std::string UserOf(HANDLE process);

// Who serves a pipe: empty when it is the program at server (a path in
// UTF-8) running as this user at no lower integrity, else why it is not. The
// program is compared by file identity, not by the spelling of its path: a
// subst drive, a junction, a short or long name all reach the one file.
std::string CheckServer(HANDLE pipe, const std::string &server);

// Paths as our strings hold them (UTF-8) and as the wide-character calls
// take them, so that a name outside the ANSI code page survives.
std::wstring WideFromUtf8(const std::string &text);
std::string Utf8FromWide(const std::wstring &text);
