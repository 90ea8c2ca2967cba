#pragma once

// Opens a file for reading only when it is a regular file. The open never
// blocks (a named pipe without a writer, a device) and the kind is checked on
// the open descriptor, so nothing can be swapped in between. Returns the
// descriptor, in blocking mode again, or -1.
int openRegularFile(const char* path);

// The same for appending: a missing file is created (with the permissions the
// umask leaves); a pipe, a device or a folder is refused without blocking.
int openRegularFileForAppend(const char* path);
