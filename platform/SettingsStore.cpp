#include "SettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {

QString& rootName() {
    static QString root = QStringLiteral("VKL_Zermic");
    return root;
}

QString& applicationName() {
    static QString app = QStringLiteral("Zermic");
    return app;
}

// Values are written as they are, unless they would not survive a line-based
// file (line breaks, surrounding blanks, a leading quote): those are quoted with
// C-style escapes.
bool needsQuoting(const QString& v) {
    if (v.isEmpty())
        return false;
    return v.contains(QLatin1Char('\n')) || v.contains(QLatin1Char('\r')) || v.front().isSpace() ||
           v.back().isSpace() || v.front() == QLatin1Char('"');
}

QString quote(const QString& v) {
    QString out = QStringLiteral("\"");
    for (QChar c : v) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\') + QString(c);
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString unquote(const QString& v) {
    QString out;
    for (qsizetype i = 1; i + 1 < v.size(); ++i) {
        QChar c = v[i];
        if (c == QLatin1Char('\\') && i + 2 < v.size()) {
            const QChar n = v[++i];
            c = n == QLatin1Char('n') ? QChar('\n') : n == QLatin1Char('r') ? QChar('\r') : n;
        }
        out += c;
    }
    return out;
}

bool readIni(QIODevice& device, QSettings::SettingsMap& map) {
    const QString text = QString::fromUtf8(device.readAll());
    QString section;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.trimmed().endsWith(QLatin1Char(']'))) {
            const QString t = line.trimmed();
            section = t.mid(1, t.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || section.isEmpty())
            continue;
        QString value = line.mid(eq + 1);
        if (value.size() >= 2 && value.front() == QLatin1Char('"') &&
            value.back() == QLatin1Char('"'))
            value = unquote(value);
        map.insert(section + QLatin1Char('/') + line.left(eq), value);
    }
    return true;
}

bool writeIni(QIODevice& device, const QSettings::SettingsMap& map) {
    // Group the keys by section, keeping the sections in their sorted order.
    QString out;
    QString current;
    bool first = true;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        if (slash <= 0)
            continue;
        const QString section = it.key().left(slash);
        if (first || section != current) {
            if (!first)
                out += QLatin1Char('\n');
            out += QLatin1Char('[') + section + QStringLiteral("]\n");
            current = section;
            first = false;
        }
        const QString value = it.value().toString();
        out += it.key().mid(slash + 1) + QLatin1Char('=') +
               (needsQuoting(value) ? quote(value) : value) + QLatin1Char('\n');
    }
    const QByteArray bytes = out.toUtf8();
    return device.write(bytes) == bytes.size();
}

QSettings::Format iniFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readIni, writeIni);
    return format;
}

QString keyPath(const char* section, const char* key) {
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(key);
}

bool store(const char* section, const char* key, const QVariant& value) {
    QSettings settings(SettingsStore::filePath(), iniFormat());
    settings.setValue(keyPath(section, key), value);
    // Written now: nothing waits for a clean exit to reach the disk.
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace

void SettingsStore::setRoot(const QString& root, const QString& application) {
    rootName() = root;
    applicationName() = application;
}

QString SettingsStore::filePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + rootName() + QLatin1Char('/') + applicationName() +
           QStringLiteral(".ini");
}

int SettingsStore::getInt(const char* section, const char* key, int defaultValue) {
    QSettings settings(filePath(), iniFormat());
    const QVariant v = settings.value(keyPath(section, key));
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return ok ? n : defaultValue;
}

QString SettingsStore::getString(const char* section, const char* key,
                                 const QString& defaultValue) {
    QSettings settings(filePath(), iniFormat());
    const QVariant v = settings.value(keyPath(section, key));
    return v.isValid() ? v.toString() : defaultValue;
}

bool SettingsStore::writeInt(const char* section, const char* key, int value) {
    return store(section, key, QString::number(value));
}

bool SettingsStore::writeString(const char* section, const char* key, const QString& value) {
    return store(section, key, value);
}
