#pragma once

#include "GuideObserver.h"

#include <QString>

#include <chrono>
#include <ctime>
#include <functional>
#include <string>

class Clock;

// Appends each guiding run to the night's guide log, in PHD2's text format, in
// the folder the settings store names (section "JournalSuivi", key "dossier").
// A log that cannot be written never stops guiding: the run goes on unlogged
// and the failure is reported once. Only a regular file is written, each line
// whole or not at all, and the file is on disk when a run ends.
class CGuideLog : public GuideObserver {
public:
    CGuideLog();
    // An open session is ended (the program closing while guiding).
    ~CGuideLog() override;
    CGuideLog(const CGuideLog&) = delete;
    CGuideLog& operator=(const CGuideLog&) = delete;

    // Receives the French sentence telling that the log cannot be written.
    void setFailureSink(std::function<void(const QString&)> sink) { failureSink = std::move(sink); }
    // The wall clock of dates and file names; the system's unless set.
    void setClock(Clock* c) { clock = c; }

    // The folder of the logs: the stored one, else (absent or empty) the
    // user's data folder.
    static QString folder();
    // The file of the session running or last run; empty before any.
    QString path() const { return filePath; }

    void runStarted(const GuideRunInfo& run) override;
    void guideTicked(const GuideTick& tick, const GuideParams& params) override;
    void runEnded() override;

private:
    std::tm localNow() const;
    void write(const std::string& text);
    // Stops this session's writing and says so once.
    void fail();
    void closeFile();

    Clock* clock = nullptr;
    std::function<void(const QString&)> failureSink;
    int fd = -1;
    QString filePath;
    bool sessionOpen = false;
    bool failed = false; // this session's writes stopped and said so
    int frame = 0;
    std::chrono::steady_clock::time_point start;
};

inline constexpr const char* kGuideLogSection = "JournalSuivi";
