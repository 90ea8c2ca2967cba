#include "SensorWindow.h"
#include "AcqPrm.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

// The one window check: what the dialog, the camera and the INDI driver say.
TEST(SensorWindow, SizeThenOriginAgainstTheBinnedSensor) {
    const char* const size = "Taille non valide";
    const char* const origin = "Origine non valide";
    const struct {
        int binning, w, h, x0, y0;
        const char* problem;
    } cases[] = {
        {1, 1280, 1024, 0, 0, nullptr},  {1, 1000, 1024, 280, 0, nullptr},
        {1, 1000, 1024, 281, 0, origin}, {1, 1, 1, 1279, 1023, nullptr},
        {1, 1, 1, 1279, 1024, origin},   {3, 426, 341, 0, 0, nullptr},
        {3, 427, 341, 0, 0, size},       {2, 700, 10, 0, 0, size},
        {2, 640, 513, 0, 0, size},       {4, 160, 128, 160, 128, nullptr},
        {4, 160, 128, 161, 0, origin},   {0, 10, 10, 0, 0, size},
        {5, 10, 10, 0, 0, size},         {1, 0, 10, 0, 0, size},
        {1, 10, -1, 0, 0, size},         {1, 10, 10, -1, 0, origin},
        {1, INT_MAX, 10, 0, 0, size},    {1, 10, 10, INT_MAX, 0, origin},
        {1, 10, 10, 0, INT_MAX, origin},
    };
    for (const auto& c : cases) {
        AcqPrm p;
        p.binning = c.binning, p.img_w = c.w, p.img_h = c.h, p.img_x0 = c.x0, p.img_y0 = c.y0;
        const char* problem = windowProblem(p);
        SCOPED_TRACE(testing::Message()
                     << c.w << "x" << c.h << " at " << c.x0 << "," << c.y0 << " bin " << c.binning);
        EXPECT_EQ(std::string(problem ? problem : "fits"),
                  std::string(c.problem ? c.problem : "fits"));
    }
    // The empty record is the whole sensor.
    EXPECT_EQ(windowProblem(AcqPrm()), nullptr);
    EXPECT_EQ(AcqPrm().img_w, kSensorWidth);
    EXPECT_EQ(AcqPrm().img_h, kSensorHeight);
}
