#include "GuideLog.h"

#include "Clock.h"
#include "GuideLogFormat.h"
#include "SettingsStore.h"

#include <QDir>
#include <QStandardPaths>

namespace {

SystemClock systemClock;

QString unwritableMessage(const QString& path) {
    return QStringLiteral("Journal de suivi impossible à écrire : %1").arg(path);
}

} // namespace

CGuideLog::CGuideLog() = default;

CGuideLog::~CGuideLog() {
    runEnded();
}

QString CGuideLog::folder() {
    const QString stored = SettingsStore::getString(kGuideLogSection, "dossier", QString());
    if (!stored.isEmpty())
        return stored;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/VKL_Zermic/logs");
}

std::tm CGuideLog::localNow() const {
    const std::time_t t = (clock ? clock : &systemClock)->now();
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

void CGuideLog::runStarted(const GuideRunInfo& run) {
    runEnded();
    sessionOpen = true;
    failed = false;
    frame = 0;
    start = std::chrono::steady_clock::now();
    const std::tm now = localNow();
    const QString dir = folder();
    filePath = dir + QLatin1Char('/') + QString::fromStdString(guideLogFileName(nightOf(now)));
    file.setFileName(filePath);
    if (!QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail();
        return;
    }
    if (file.size() == 0)
        write(guideLogFileHeader("Zermic version " ZERMIC_VERSION, now));
    write(guideSessionHeader(run, now));
}

void CGuideLog::guideTicked(const GuideTick& tick, const GuideParams& params) {
    if (!sessionOpen)
        return;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    write(guideLogEntry(++frame, elapsed.count(), tick, params));
}

void CGuideLog::runEnded() {
    if (!sessionOpen)
        return;
    write(guideSessionEnd(localNow()));
    sessionOpen = false;
    file.close();
}

void CGuideLog::write(const std::string& text) {
    if (failed)
        return;
    // Flushed at every line: what was guided stays on disk if the program dies.
    const bool ok = file.isOpen() &&
                    file.write(text.data(), qint64(text.size())) == qint64(text.size()) &&
                    file.flush();
    if (!ok)
        fail();
}

void CGuideLog::fail() {
    failed = true;
    file.close();
    if (failureSink)
        failureSink(unwritableMessage(filePath));
}
