#pragma once

#include "Dialog.h"
#include "SerialDevices.h"

// "Port série": the serial devices present, the COM number the acquisition
// parameters use, and the binding of a chosen device to that number (the link
// of the ports folder). Only character devices are accepted.
class CSerialPortDlg : public CDialog {
public:
    enum {
        idDevices = 1100,
        idPortNumber = 1101,
        idCurrent = 1102,
        idDevice = 1103,
    };

    // devRoot stands for /dev (tests give a folder of their own).
    CSerialPortDlg(QWidget* parent, const QString& devRoot = QStringLiteral("/dev"));

    // After OK: the device bound and its COM number.
    const QString& boundDevice() const { return device; }
    int portNumber() const { return number; }

protected:
    void createControls(ControlBuilder& b) override;
    void onInitDialog() override;
    void onOK() override;

private:
    QString devRoot;
    QList<SerialDevice> devices;
    QString device;
    int number = 0;
};
