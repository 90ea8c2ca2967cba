#include "SensorWindow.h"

#include "AcqPrm.h"

const char* windowProblem(const AcqPrm& prm, int sensorWidth, int sensorHeight) {
    const int b = prm.binning;
    if (b < 1 || b > 4)
        return "Taille non valide";
    // Wide enough for a hand-edited store's largest values.
    const long long w = prm.img_w, h = prm.img_h;
    const long long fullW = sensorWidth / b, fullH = sensorHeight / b;
    if (w < 1 || h < 1 || w > fullW || h > fullH)
        return "Taille non valide";
    if (prm.img_x0 < 0 || prm.img_y0 < 0 || prm.img_x0 + w > fullW || prm.img_y0 + h > fullH)
        return "Origine non valide";
    return nullptr;
}
