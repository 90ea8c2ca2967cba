#include "GuideLog.h"

#include "Clock.h"
#include "GuideLogFormat.h"
#include "RegularFile.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

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
    // A pipe or a device there would freeze the window or swallow the log.
    if (QDir().mkpath(dir))
        fd = openRegularFileForAppend(QFile::encodeName(filePath).constData());
    if (fd < 0) {
        fail();
        return;
    }
    if (::lseek(fd, 0, SEEK_END) == 0)
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
    // The night's log survives a power cut once its run has ended.
    if (fd >= 0 && ::fsync(fd) != 0 && !failed)
        fail();
    closeFile();
}

void CGuideLog::write(const std::string& text) {
    if (failed || fd < 0)
        return;
    // Written straight to the file at every line: what was guided stays there
    // if the program dies. A disk that fills up takes back the part of the
    // text that got in, so a reader never meets half a line.
    const off_t before = ::lseek(fd, 0, SEEK_END);
    std::size_t done = 0;
    while (before >= 0 && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    if (done == text.size())
        return;
    if (before >= 0)
        (void)::ftruncate(fd, before);
    fail();
}

void CGuideLog::closeFile() {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void CGuideLog::fail() {
    failed = true;
    closeFile();
    if (failureSink)
        failureSink(unwritableMessage(filePath));
}
