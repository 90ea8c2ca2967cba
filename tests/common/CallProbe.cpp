#include "common/CallProbe.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

std::function<void(int)>& fsyncHook() {
    static std::function<void(int)> hook;
    return hook;
}

std::function<void(const char*)>& renameHook() {
    static std::function<void(const char*)> hook;
    return hook;
}

template <class Call> Call realCall(const char* name) {
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

} // namespace

namespace call_probe {

void onFsync(std::function<void(int fd)> hook) {
    fsyncHook() = std::move(hook);
}

void onRename(std::function<void(const char* from)> hook) {
    renameHook() = std::move(hook);
}

std::string pathOf(int fd) {
    char target[4096];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, std::size_t(n)) : std::string();
}

} // namespace call_probe

extern "C" int fsync(int fd) {
    static const auto real = realCall<int (*)(int)>("fsync");
    if (const std::function<void(int)>& hook = fsyncHook())
        hook(fd);
    return real(fd);
}

// Declared by the C library as throwing nothing.
extern "C" int rename(const char* from, const char* to) noexcept {
    static const auto real = realCall<int (*)(const char*, const char*)>("rename");
    if (const std::function<void(const char*)>& hook = renameHook())
        hook(from);
    return real(from, to);
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned int flags) noexcept {
    static const auto real =
        realCall<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    if (const std::function<void(const char*)>& hook = renameHook())
        hook(from);
    return real(fromDir, from, toDir, to, flags);
}
