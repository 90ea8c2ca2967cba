#pragma once

#include <QList>
#include <QString>

// The serial devices a camera can be reached through, and the links of the
// ports folder that give them a COM number.

struct SerialDevice {
    QString path;   // what a COM link is made to point at
    QString target; // the device it names, for links (empty otherwise)
    QString label;  // one line of the list
};

// /dev/serial/by-id/* (with the device each names), /dev/ttyUSB*, /dev/ttyACM*
// under devRoot, then the COM links of the ports folder, each group in name
// order. Only entries that lead to a character device are listed, apart from
// COM links, which are shown whatever they point at.
QList<SerialDevice> listSerialDevices(const QString& devRoot, const QString& portsFolder);

// Why a path cannot be bound to COM<number> of the ports folder (French, for a
// message box); empty when it is a full path that names a character device
// once links are followed, without going through that COM link itself.
QString serialDeviceRefusal(const QString& path, const QString& portsFolder, int number);

// Points COM<number> of the ports folder at the device, replacing the link in
// one step. False when the folder or the link cannot be written.
bool bindSerialPort(const QString& portsFolder, int number, const QString& device);

// The COM number the acquisition parameters use, as the camera's init reads it.
int acquisitionPortNumber();

// The status bar's explanation of a port that would not open: the COM number,
// the device tried and why. `missingGroup` names the group the device belongs
// to when the user is not in it (access refused), else empty.
QString portOpenFailureText(int number, const QString& device, int error,
                            const QString& missingGroup);
// The same for the driver's last failed open: the device a ports-folder link
// names is shown in its place, and the device's group is looked up.
QString portOpenFailureText(int number, const QString& path, int error);
