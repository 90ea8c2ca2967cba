#pragma once

#include "LinkFixture.h"

#include "CCamera.h"

#include <QAbstractButton>
#include <QWidget>

// Shows the acquisition parameters dialog and leaves it with the given button
// ("id1" OK, "id2" Cancel), so that the camera's record holds the stored values.
inline int showParameters(CCamera& camera, const char* button = "id2", QWidget* parent = nullptr) {
    ModalWatcher watcher([button](QWidget* w) {
        if (w->objectName() != QLatin1String("CAcqPrmDlg"))
            return false;
        if (auto* b = w->findChild<QAbstractButton*>(QLatin1String(button)))
            b->click();
        return true;
    });
    return camera.getAcqPrm(parent);
}
