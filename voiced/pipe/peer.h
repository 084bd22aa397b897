// Who is at the other end of a pipe: the checks a client makes on the server
// before it sends anything, and the user the pipe is made for.
#pragma once
#include <windows.h>
#include <string>

// The user a process runs as, as a SID string ("S-1-5-21-..."); empty when
// it cannot be read.
std::string UserOf(HANDLE process);

// Who serves a pipe: empty when it is the program at server running as this
// user, else why it is not.
std::string CheckServer(HANDLE pipe, const std::string &server);
