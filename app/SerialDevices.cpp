#include "SerialDevices.h"

#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// What the camera's init reads when the store holds no port.
constexpr int kDefaultPort = 2;

bool isCharacterDevice(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

// One symbolic link level, as the user or the device manager wrote it.
QString rawLinkTarget(const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    char buffer[4096];
    const ssize_t n = ::readlink(p.constData(), buffer, sizeof buffer - 1);
    if (n <= 0)
        return QString();
    return QFile::decodeName(QByteArray(buffer, int(n)));
}

QStringList entries(const QString& folder, const QStringList& patterns) {
    return QDir(folder).entryList(patterns, QDir::System | QDir::Files | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Whether this process may use a file of that group.
bool inGroup(gid_t g) {
    if (g == ::getegid())
        return true;
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(std::size_t(std::max(n, 0)));
    if (n > 0 && ::getgroups(n, groups.data()) == n)
        for (gid_t x : groups)
            if (x == g)
                return true;
    return false;
}

// Whether following the links from path meets the link itself, under
// whatever name its folder is reached by.
bool leadsThrough(const QString& path, const QString& link) {
    struct stat self {};
    if (::lstat(QFile::encodeName(link).constData(), &self) != 0)
        return false;
    QString at = path;
    // The system's own limit on links followed in one path.
    constexpr int kMaxHops = 40;
    for (int hop = 0; hop < kMaxHops; ++hop) {
        struct stat st {};
        if (::lstat(QFile::encodeName(at).constData(), &st) != 0)
            return false;
        if (st.st_dev == self.st_dev && st.st_ino == self.st_ino)
            return true;
        if (!S_ISLNK(st.st_mode))
            return false;
        at = QFileInfo(at).dir().absoluteFilePath(rawLinkTarget(at));
    }
    return false;
}

} // namespace

QList<SerialDevice> listSerialDevices(const QString& devRoot, const QString& portsFolder) {
    QList<SerialDevice> out;
    const QString byId = devRoot + QStringLiteral("/serial/by-id");
    for (const QString& name : entries(byId, {})) {
        const QString path = byId + QLatin1Char('/') + name;
        if (!isCharacterDevice(path))
            continue;
        const QString target = QFileInfo(path).symLinkTarget();
        out.append(
            {path, target, target.isEmpty() ? path : path + QStringLiteral(" -> ") + target});
    }
    for (const QString& name :
         entries(devRoot, {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")})) {
        const QString path = devRoot + QLatin1Char('/') + name;
        if (isCharacterDevice(path))
            out.append({path, QString(), path});
    }
    for (const QString& name : entries(portsFolder, {QStringLiteral("COM*")})) {
        const QString path = portsFolder + QLatin1Char('/') + name;
        const QString raw = rawLinkTarget(path);
        if (raw.isEmpty())
            continue;
        // A relative link is read from the ports folder; what is bound must
        // lead there from anywhere.
        const QString target = QDir::cleanPath(QDir(portsFolder).absoluteFilePath(raw));
        QString label = name + QStringLiteral(" -> ") + target;
        if (!isCharacterDevice(path))
            label += QStringLiteral(" (absent)");
        // Choosing an existing link binds the device it names.
        out.append({target, target, label});
    }
    return out;
}

QString serialDeviceRefusal(const QString& path, const QString& portsFolder, int number) {
    if (path.trimmed().isEmpty())
        return QStringLiteral("Choisir un périphérique série dans la liste.");
    // The link is read from the ports folder: a relative path would lead
    // nowhere from there.
    if (!path.startsWith(QLatin1Char('/')))
        return QStringLiteral("%1 n'est pas un chemin complet : il doit commencer par /.")
            .arg(path);
    if (leadsThrough(path, portsFolder + QStringLiteral("/COM%1").arg(number)))
        return QStringLiteral("%1 mène au lien COM%2 lui-même : choisir le périphérique "
                              "qu'il doit ouvrir.")
            .arg(path, QString::number(number));
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("Le périphérique %1 n'existe pas.").arg(path);
    if (!S_ISCHR(st.st_mode))
        return QStringLiteral("%1 n'est pas un périphérique série : seul un fichier de "
                              "périphérique (caractère) peut servir de port.")
            .arg(path);
    return QString();
}

bool bindSerialPort(const QString& portsFolder, int number, const QString& device) {
    if (!QDir().mkpath(portsFolder))
        return false;
    const QByteArray link = QFile::encodeName(portsFolder + QStringLiteral("/COM%1").arg(number));
    const QByteArray fresh = link + ".new";
    ::unlink(fresh.constData());
    if (::symlink(QFile::encodeName(device).constData(), fresh.constData()) != 0)
        return false;
    // A rename replaces the old link at once: the port is never without one.
    if (::rename(fresh.constData(), link.constData()) != 0) {
        ::unlink(fresh.constData());
        return false;
    }
    return true;
}

int acquisitionPortNumber() {
    return SettingsStore::getInt("AcqPrm", "prm2", kDefaultPort);
}

QString portOpenFailureText(int number, const QString& device, int error,
                            const QString& missingGroup) {
    const QString port = device.isEmpty()
                             ? QStringLiteral("Port COM%1").arg(number)
                             : QStringLiteral("Port COM%1 (%2)").arg(number).arg(device);
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return port + QStringLiteral(" : le périphérique n'existe pas ; choisir le port par "
                                     "Camera > Port série...");
    case EACCES:
    case EPERM:
        if (!missingGroup.isEmpty())
            return port + QStringLiteral(" : accès refusé, l'utilisateur n'est pas dans le "
                                         "groupe %1")
                              .arg(missingGroup);
        return port + QStringLiteral(" : accès refusé");
    case EBUSY:
    case EWOULDBLOCK:
        return port + QStringLiteral(" : déjà utilisé par un autre programme");
    default:
        return port + QStringLiteral(" : ouverture impossible (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

QString portOpenFailureText(int number, const QString& path, int error) {
    const QString target = rawLinkTarget(path);
    const QString device = target.isEmpty() ? path : target;
    QString groupName;
    struct stat st {};
    if ((error == EACCES || error == EPERM) &&
        ::stat(QFile::encodeName(path).constData(), &st) == 0 && !inGroup(st.st_gid)) {
        if (const struct group* g = ::getgrgid(st.st_gid))
            groupName = QString::fromLocal8Bit(g->gr_name);
    }
    return portOpenFailureText(number, device, error, groupName);
}
