// "Port série" on a folder standing in for /dev, and the status bar's account
// of a port that will not open.
#include "AppFixture.h"
#include "CSerialPortDlg.h"
#include "CameraEvents.h"
#include "CommandIds.h"
#include "SerialDevices.h"
#include "SettingsStore.h"

#include "common/TempDir.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QScreen>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

void symlinkOrFail(const std::string& target, const std::string& link) {
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

} // namespace

TEST_F(AppFixture, PortDialogListsDevicesBindsTheAcquisitionPortAndRefusesOtherFiles) {
    // Character devices are stood in for by links to /dev/null and /dev/ptmx.
    TempDir dev;
    ASSERT_EQ(::mkdir(dev.file("serial").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dev.file("serial/by-id").c_str(), 0755), 0);
    symlinkOrFail("/dev/null", dev.file("ttyUSB0"));
    symlinkOrFail("/dev/ptmx", dev.file("ttyACM1"));
    symlinkOrFail("../../ttyUSB0", dev.file("serial/by-id/usb-Cam_Adapter-if00-port0"));
    symlinkOrFail("../../ttyUSB9", dev.file("serial/by-id/usb-Gone-if00")); // unplugged
    ASSERT_EQ(::mkfifo(dev.file("ttyUSB3").c_str(), 0600), 0);              // not a device
    QFile plain(q(dev.file("ttyUSB7")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    linkPort(5, "/dev/null");
    linkPort(6, dev.file("ttyUSB9"));
    const QString ports = q(serialPortsFolder());
    SettingsStore::writeInt("AcqPrm", "prm2", 3);
    ASSERT_TRUE(start());

    QStringList listed, labels;
    int result = 0;
    ModalWatcher watcher([&](QWidget* w) {
        if (w->objectName() != "CSerialPortDlg")
            return false; // the refusal's box: its OK is pressed
        later([&, w] {
            if (const char* folder = std::getenv("ZERMIC_SCREENSHOT_DIR")) {
                QTest::qWait(300);
                const QPixmap shot = QGuiApplication::platformName() == "offscreen"
                                         ? w->grab()
                                         : QGuiApplication::primaryScreen()->grabWindow(0);
                EXPECT_TRUE(shot.save(QString::fromLocal8Bit(folder) + "/port-dialog.png"));
            }
            for (int id : {CSerialPortDlg::idPortNumber, CSerialPortDlg::idCurrent})
                labels << findControlAs<QLabel>(w, id)->text();
            auto* list = findControlAs<QListWidget>(w, CSerialPortDlg::idDevices);
            for (int i = 0; i < list->count(); ++i)
                listed << list->item(i)->text();
            auto* edit = findControlAs<QLineEdit>(w, CSerialPortDlg::idDevice);
            for (const std::string& refused :
                 {dev.file("ttyUSB7"), dev.file("ttyUSB3"), dev.file("ttyUSB9")}) {
                edit->setText(q(refused));
                press(w, 1);
            }
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                              list->visualItemRect(list->item(0)).center());
            press(w, 1);
        });
        return true;
    });
    CSerialPortDlg dlg(&frame(), q(dev.path()));
    result = dlg.doModal();

    EXPECT_EQ(labels,
              QStringList({"Port des paramètres d'acquisition : COM3", "COM3 ouvre : /dev/ttyS2"}));
    const QString d = q(dev.path());
    EXPECT_EQ(listed,
              QStringList({d + "/serial/by-id/usb-Cam_Adapter-if00-port0 -> " + d + "/ttyUSB0",
                           d + "/ttyACM1", d + "/ttyUSB0", "COM5 -> /dev/null",
                           "COM6 -> " + d + "/ttyUSB9 (absent)"}));
    const std::vector<QString> boxes = watcher.messages();
    ASSERT_EQ(boxes.size(), 4u); // the dialog, then one refusal per file
    EXPECT_EQ(boxes[1], d + "/ttyUSB7 n'est pas un périphérique série : seul un fichier de "
                            "périphérique (caractère) peut servir de port.");
    EXPECT_TRUE(boxes[2].startsWith(d + "/ttyUSB3 n'est pas un périphérique série"));
    EXPECT_EQ(boxes[3], "Le périphérique " + d + "/ttyUSB9 n'existe pas.");

    // The by-id name is what the link keeps, so that the adapter is found
    // whatever ttyUSB number it gets next time.
    EXPECT_EQ(result, 1);
    EXPECT_EQ(dlg.boundDevice(), d + "/serial/by-id/usb-Cam_Adapter-if00-port0");
    EXPECT_EQ(q(serialPortPath(3)), ports + "/COM3");
    char target[512] = {};
    ASSERT_GT(::readlink((ports + "/COM3").toLocal8Bit().constData(), target, sizeof target - 1),
              0);
    EXPECT_EQ(QString::fromLocal8Bit(target), dlg.boundDevice());
    EXPECT_FALSE(QFile::exists(ports + "/COM3.new"));
}

TEST_F(AppFixture, PortRefusesRelativePathsAndPathsThroughItsOwnLink) {
    TempDir dev;
    symlinkOrFail("/dev/null", dev.file("ttyUSB0"));
    linkPort(4, "/dev/null");
    const QString ports = q(serialPortsFolder());
    symlinkOrFail((ports + "/COM4").toStdString(), (ports + "/COM5").toStdString());
    const QString relative = QDir::current().relativeFilePath(q(dev.file("ttyUSB0")));
    const QString loop = QStringLiteral(" mène au lien COM4 lui-même : choisir le périphérique "
                                        "qu'il doit ouvrir.");
    const struct {
        QString path;
        int number;
        QString refusal;
    } cases[] = {
        // The link is read from the ports folder: a relative one would dangle.
        {relative, 4, relative + " n'est pas un chemin complet : il doit commencer par /."},
        {ports + "/../ports/COM4", 4, ports + "/../ports/COM4" + loop},
        {ports + "/COM5", 4, ports + "/COM5" + loop},
        {ports + "/COM5", 6, QString()},
        {q(dev.file("ttyUSB0")), 4, QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(serialDeviceRefusal(c.path, ports, c.number), c.refusal)
            << c.path.toStdString() << " COM" << c.number;
}

TEST_F(AppFixture, PortThatWillNotOpenIsExplainedInTheStatusBar) {
    kovrel::closePort();
    TempDir dev;
    linkPort(7, dev.file("ttyUSB0")); // the adapter is unplugged
    SettingsStore::writeInt("AcqPrm", "prm2", 7);
    ASSERT_TRUE(start());
    ASSERT_TRUE(frame().commands().send(cmd::InitCamera));
    EXPECT_EQ(frame().promptText(),
              q("Port COM7 (" + dev.file("ttyUSB0") +
                ") : le périphérique n'existe pas ; choisir le port par Camera > Port série..."));

    // Access refused: named with the group the device belongs to when the
    // user is not in it.
    const struct {
        int error;
        const char* group;
        const char* text;
    } cases[] = {
        {EACCES, "dialout",
         "Port COM2 (/dev/ttyUSB0) : accès refusé, l'utilisateur n'est pas dans le groupe dialout"},
        {EACCES, "", "Port COM2 (/dev/ttyUSB0) : accès refusé"},
        {EBUSY, "", "Port COM2 (/dev/ttyUSB0) : déjà utilisé par un autre programme"},
        {EWOULDBLOCK, "", "Port COM2 (/dev/ttyUSB0) : déjà utilisé par un autre programme"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(portOpenFailureText(2, "/dev/ttyUSB0", c.error, c.group), QString(c.text))
            << c.error;
}
