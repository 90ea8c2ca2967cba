#include "common/CallProbe.h"

#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

std::function<void(int)>& fsyncHook() {
    static std::function<void(int)> hook;
    return hook;
}

} // namespace

namespace call_probe {

void onFsync(std::function<void(int fd)> hook) {
    fsyncHook() = std::move(hook);
}

std::string pathOf(int fd) {
    char target[4096];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, std::size_t(n)) : std::string();
}

} // namespace call_probe

extern "C" int fsync(int fd) {
    using Fsync = int (*)(int);
    static const Fsync real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
    if (const std::function<void(int)>& hook = fsyncHook())
        hook(fd);
    return real(fd);
}
