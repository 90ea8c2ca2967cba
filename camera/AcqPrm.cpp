#include "AcqPrm.h"

#include "CameraProtocol.h"
#include "SettingsStore.h"

#include <algorithm>

namespace {
const char* const section = "AcqPrm";
}

void AcqPrm::load(int sensorWidth, int sensorHeight) {
    load(sensorWidth, sensorHeight,
         [](const char* key, int def) { return SettingsStore::getInt(section, key, def); });
}

void AcqPrm::save() const {
    save([](const char* key, int v) { SettingsStore::writeInt(section, key, v); });
}

void AcqPrm::load(int sensorWidth, int sensorHeight, const Reader& get) {
    const AcqPrm d;
    pause_s = get("pause_s", d.pause_s);
    pause_cs = get("pause_cs", d.pause_cs);
    option1 = get("option1", d.option1);
    option2 = get("option2", d.option2);
    option3 = get("option3", d.option3);
    option4 = get("option4", d.option4);
    img_w = get("img_w", sensorWidth);
    img_h = get("img_h", sensorHeight);
    img_x0 = get("img_x0", d.img_x0);
    img_y0 = get("img_y0", d.img_y0);
    prm1 = get("prm1", d.prm1);
    prm2 = get("prm2", d.prm2);
    prm3 = get("prm3", d.prm3);
    bdt = get("bdt", d.bdt);
    binning = get("binning", d.binning);
    vitv = get("vitv", d.vitv);
    vitp = get("vitp", d.vitp);
    Y1 = get("Y1", d.Y1);
    M = get("M", d.M);
    C = get("C", d.C);
    Y2 = get("Y2", d.Y2);

    // The dialog's ranges (edits 1005, 1007, 1037, 1041, 1043 to 1046, and the
    // origin's); the window itself is left to the camera's own check.
    img_x0 = std::clamp(img_x0, 0, 4096);
    img_y0 = std::clamp(img_y0, 0, 4096);
    pause_s = std::clamp(pause_s, 0, 3600);
    pause_cs = std::clamp(pause_cs, 0, 99);
    prm1 = std::clamp(prm1, 0, 63);
    prm3 = std::clamp(prm3, 0, 31);
    for (int* gain : {&C, &Y2, &Y1, &M})
        *gain = std::clamp(*gain, 0, 31);
    bdt = camera_protocol::usableTimeBase(bdt);
}

void AcqPrm::save(const Writer& put) const {
    put("img_w", img_w);
    put("img_h", img_h);
    put("img_x0", img_x0);
    put("img_y0", img_y0);
    put("binning", binning);
    put("pause_s", pause_s);
    put("pause_cs", pause_cs);
    put("option1", option1);
    put("option2", option2);
    put("option3", option3);
    put("option4", option4);
    put("prm1", prm1);
    put("prm2", prm2);
    put("prm3", prm3);
    put("bdt", bdt);
    put("vitv", vitv);
    put("vitp", vitp);
    put("Y1", Y1);
    put("M", M);
    put("C", C);
    put("Y2", Y2);
}
