#include "Options.h"

#include <gtest/gtest.h>

TEST(Options, ReadsEveryOptionAndRejectsBadValues) {
    Options o;
    std::string error;
    ASSERT_TRUE(parseOptions({"--port",
                              "3",
                              "--port=5",
                              "--seed",
                              "42",
                              "--seeing",
                              "2.5",
                              "--time-base",
                              "50",
                              "--time-scale=0.01",
                              "--rate",
                              "11520",
                              "--scene",
                              "mosaic",
                              "--move-scale",
                              "0.02",
                              "--mount-angle",
                              "-30",
                              "--mount-flip",
                              "--drift",
                              "0.5,-0.25",
                              "--drift-per-image=1.5,0.5",
                              "--periodic",
                              "2,480",
                              "--fault",
                              "unplug-after=4096",
                              "--log",
                              "/tmp/x.log",
                              "--focus-file",
                              "/tmp/focuser",
                              "--focus-best=-250"},
                             o, error))
        << error;
    EXPECT_EQ(o.ports, (std::vector<int>{3, 5}));
    EXPECT_EQ(o.sky.seed, 42u);
    EXPECT_DOUBLE_EQ(o.sky.seeingFwhm, 2.5);
    EXPECT_EQ(o.timeBase, 50);
    EXPECT_DOUBLE_EQ(o.timeScale, 0.01);
    EXPECT_DOUBLE_EQ(o.rate, 11520);
    EXPECT_EQ(o.sky.scene, Scene::Mosaic);
    EXPECT_DOUBLE_EQ(o.mount.moveScale, 0.02);
    EXPECT_DOUBLE_EQ(o.mount.angleDeg, -30);
    EXPECT_TRUE(o.mount.flip);
    EXPECT_DOUBLE_EQ(o.mount.driftX, 0.5);
    EXPECT_DOUBLE_EQ(o.mount.driftY, -0.25);
    EXPECT_DOUBLE_EQ(o.mount.driftPerImageX, 1.5);
    EXPECT_DOUBLE_EQ(o.mount.driftPerImageY, 0.5);
    EXPECT_DOUBLE_EQ(o.mount.periodicAmplitude, 2);
    EXPECT_DOUBLE_EQ(o.mount.periodicPeriod, 480);
    EXPECT_EQ(o.fault, FaultKind::UnplugAfter);
    EXPECT_EQ(o.faultBytes, 4096u);
    EXPECT_EQ(o.logPath, "/tmp/x.log");
    EXPECT_EQ(o.focusPath, "/tmp/focuser");
    EXPECT_EQ(o.focusBest, -250);

    Options d;
    ASSERT_TRUE(parseOptions({}, d, error));
    EXPECT_EQ(d.ports, std::vector<int>{2});
    EXPECT_EQ(d.sky.scene, Scene::Stars);
    EXPECT_EQ(d.timeBase, 90);
    EXPECT_DOUBLE_EQ(d.mount.moveScale, 0.01);
    EXPECT_EQ(d.fault, FaultKind::None);
    EXPECT_TRUE(d.focusPath.empty());
    EXPECT_EQ(d.focusBest, 0);

    const struct {
        std::vector<std::string> args;
        FaultKind fault;
        std::size_t bytes;
    } faults[] = {{{"--fault", "stall"}, FaultKind::Stall, 0},
                  {{"--fault", "surplus=10"}, FaultKind::Surplus, 10},
                  {{"--fault=garbage=7"}, FaultKind::Garbage, 7}};
    for (const auto& f : faults) {
        Options x;
        ASSERT_TRUE(parseOptions(f.args, x, error)) << error;
        EXPECT_EQ(x.fault, f.fault);
        EXPECT_EQ(x.faultBytes, f.bytes);
    }

    const std::vector<std::vector<std::string>> bad = {
        {"--port", "0"},
        {"--port", "x"},
        {"--seeing", "-1"},
        {"--time-scale", "0"},
        {"--scene", "galaxies"},
        {"--drift", "1"},
        {"--drift-per-image", "1,"},
        {"--fault", "stall=3"},
        {"--fault", "surplus"},
        {"--fault", "unplug-after=-1"},
        {"--periodic", "1,0"},
        {"--focus-best", "1.5"},
        {"--focus-file", ""},
        {"--bogus"},
        {"--seed"},
    };
    for (const auto& args : bad) {
        Options x;
        EXPECT_FALSE(parseOptions(args, x, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(Options, FocusFileHoldsOneIntegerBetweenBlanks) {
    const struct {
        const char* text;
        bool ok;
        long long position;
    } cases[] = {{"1500", true, 1500}, {" -400\n", true, -400}, {"+12\r\n", true, 12},
                 {"", false, 0},       {"\n", false, 0},        {"12 13", false, 0},
                 {"1e3", false, 0},    {"0x10", false, 0},      {"99999999999999999999", false, 0}};
    for (const auto& c : cases) {
        long long p = 7;
        EXPECT_EQ(parseFocusPosition(c.text, p), c.ok) << c.text;
        EXPECT_EQ(p, c.ok ? c.position : 7) << c.text;
    }
}
