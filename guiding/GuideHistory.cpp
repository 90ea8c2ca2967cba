#include "GuideHistory.h"

#include <cmath>

GuideStats GuideHistory::stats() const {
    GuideStats s;
    s.ticks = size();
    double sum1 = 0, sum2 = 0;
    for (int i = 0; i < size(); ++i) {
        const GraphPoint& p = at(i);
        if (p.rejected)
            continue;
        ++s.measured;
        sum1 += p.e1;
        sum2 += p.e2;
    }
    if (s.measured == 0)
        return s;
    const double mean1 = sum1 / s.measured;
    const double mean2 = sum2 / s.measured;
    double var1 = 0, var2 = 0;
    for (int i = 0; i < size(); ++i) {
        const GraphPoint& p = at(i);
        if (p.rejected)
            continue;
        var1 += (p.e1 - mean1) * (p.e1 - mean1);
        var2 += (p.e2 - mean2) * (p.e2 - mean2);
    }
    var1 /= s.measured;
    var2 /= s.measured;
    s.rms1 = std::sqrt(var1);
    s.rms2 = std::sqrt(var2);
    s.total = std::sqrt(var1 + var2);
    return s;
}
