#include "FocusHistory.h"

int FocusHistory::best() const {
    int found = -1;
    for (int i = 0; i < size(); ++i) {
        const FocusPoint& p = at(i);
        if (p.measured && !p.saturated && (found < 0 || p.hfd <= at(found).hfd))
            found = i;
    }
    return found;
}
