#include "CSerialPortDlg.h"

#include "SerialPort.h"
#include "Toolkit.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>

namespace {

const QString kTitle = QStringLiteral("Port série");

QString portsFolder() {
    return QString::fromStdString(serialPortsFolder());
}

} // namespace

CSerialPortDlg::CSerialPortDlg(QWidget* parent, const QString& root)
    : CDialog(parent, QStringLiteral("CSerialPortDlg"), kTitle, 330, 170), devRoot(root) {}

void CSerialPortDlg::createControls(ControlBuilder& b) {
    b.label(QString(), 7, 6, 316, 10, Qt::AlignLeft | Qt::AlignVCenter, idPortNumber);
    b.label(QString(), 7, 18, 316, 10, Qt::AlignLeft | Qt::AlignVCenter, idCurrent);
    b.label(QStringLiteral("Périphériques présents :"), 7, 32, 316, 10);
    b.list(idDevices, 7, 44, 316, 82);
    b.label(QStringLiteral("Périphérique"), 7, 133, 48, 10);
    b.edit(idDevice, 58, 131, 265, 12);
    QPushButton* ok = b.button(1, QStringLiteral("Associer"), 216, 150, 50, 14);
    ok->setDefault(true);
    b.button(2, QStringLiteral("Annuler"), 273, 150, 50, 14);
}

void CSerialPortDlg::onInitDialog() {
    QDialog* w = window();
    number = acquisitionPortNumber();
    findControlAs<QLabel>(w, idPortNumber)
        ->setText(QStringLiteral("Port des paramètres d'acquisition : COM%1").arg(number));
    const QString path = QString::fromStdString(serialPortPath(number));
    const QFileInfo link(path);
    QString now = path.isEmpty() ? QStringLiteral("aucun périphérique") : path;
    if (link.isSymLink())
        now = link.symLinkTarget();
    findControlAs<QLabel>(w, idCurrent)
        ->setText(QStringLiteral("COM%1 ouvre : %2").arg(number).arg(now));

    devices = listSerialDevices(devRoot, portsFolder());
    auto* list = findControlAs<QListWidget>(w, idDevices);
    for (const SerialDevice& d : devices)
        list->addItem(d.label);
    auto* edit = findControlAs<QLineEdit>(w, idDevice);
    auto choose = [this, list, edit] {
        const int row = list->currentRow();
        if (row >= 0 && row < devices.size())
            edit->setText(devices[row].path);
    };
    // A click on the row already chosen takes it again after a typed path.
    QObject::connect(list, &QListWidget::currentRowChanged, edit, choose);
    QObject::connect(list, &QListWidget::itemClicked, edit, choose);
    if (!devices.isEmpty())
        list->setCurrentRow(0);
}

void CSerialPortDlg::onOK() {
    QDialog* w = window();
    const QString chosen = findControlAs<QLineEdit>(w, idDevice)->text().trimmed();
    const QString refusal = serialDeviceRefusal(chosen, portsFolder(), number);
    if (!refusal.isEmpty()) {
        messageBox(w, refusal, kTitle, MessageIcon::Stop);
        return;
    }
    if (!bindSerialPort(portsFolder(), number, chosen)) {
        messageBox(w,
                   QStringLiteral("Impossible d'écrire le lien COM%1 dans %2.")
                       .arg(number)
                       .arg(portsFolder()),
                   kTitle, MessageIcon::Stop);
        return;
    }
    device = chosen;
    endDialog(1);
}
