#pragma once

#include <functional>
#include <string>

// The process's calls to fsync, rename and renameat2 pass here before the C
// library's (the executable's definitions come first): a test sees them, and
// may act at that very moment as another program could. Linked in by using it.
namespace call_probe {

// Runs before every fsync with its descriptor; null removes it.
void onFsync(std::function<void(int fd)> hook);
// Runs before every rename and renameat2 with the name being moved.
void onRename(std::function<void(const char* from)> hook);
// The file a descriptor is open on, as /proc names it.
std::string pathOf(int fd);

} // namespace call_probe
