#include "PelmoxAction.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <vector>

TEST(PelmoxAction, NegatesEveryPixelAndTwiceRestores) {
    std::vector<unsigned short> img = {0, 65535, 32640, 1, 256, 40000};
    const auto original = img;
    PelmoxAction(img.data(), 3, 2);
    EXPECT_EQ(img, (std::vector<unsigned short>{65535, 0, 32895, 65534, 65279, 25535}));
    PelmoxAction(img.data(), 3, 2);
    EXPECT_EQ(img, original);
}

TEST(PelmoxAction, EmptyOrNegativeSizesLeaveBufferUntouched) {
    struct Case {
        int w, h;
    };
    // Zero, opposite signs, and a product too large for 32 bits that would
    // otherwise wrap to a positive count far past the buffer.
    for (Case c : {Case{0, 5}, Case{5, 0}, Case{-2, 3}, Case{3, -2}, Case{70000, 70000}}) {
        std::vector<unsigned short> img(6, 1234);
        PelmoxAction(img.data(), c.w, c.h);
        EXPECT_EQ(img, std::vector<unsigned short>(6, 1234)) << c.w << " x " << c.h;
    }
}

TEST(PelmoxAction, ExportedUnmangledWithCLinkage) {
    void* lib = ::dlopen("libPelmox.so", RTLD_NOW | RTLD_NOLOAD);
    if (!lib)
        lib = ::dlopen("libPelmox.so", RTLD_NOW);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    using Fn = void (*)(unsigned short*, int, int);
    auto fn = reinterpret_cast<Fn>(::dlsym(lib, "PelmoxAction"));
    ASSERT_NE(fn, nullptr);
    unsigned short p = 0;
    fn(&p, 1, 1);
    EXPECT_EQ(p, 65535);
    ::dlclose(lib);
}
