#pragma once

#include "Toolkit.h"

#include <QString>

// The sequence settings and their modal dialog. The members are the settings in
// force: the sequence engine reads them at every start. They are loaded from
// the store when the dialog is made, so a run after start-up uses what the
// dialog would show, and again at every showing.
class CSeqPrmDialog : public CDialog {
public:
    enum ControlId {
        IdDelay = 1010,
        IdPeriodic = 1011,
        IdPeriod = 1013,
        IdReadFile = 1014,
        IdParamFile = 1015,
        IdBrowseParamFile = 1016,
        IdSaveEach = 1017,
        IdBaseName = 1018,
        IdImageDir = 1019,
        IdBrowseImageDir = 1020,
        IdPostProcess = 1021,
    };
    static constexpr int maxPeriodTenths = 10000;

    explicit CSeqPrmDialog(QWidget* parent = nullptr);

    // Where images go when nothing is stored: the desktop's pictures folder,
    // which survives a reboot, with the trailing separator names are built on.
    static QString defaultImageDirectory();
    // The folder itself, or the default one when it is empty.
    static QString usableImageDirectory(const QString& dir);

    QString paramFile;
    QString baseName;
    QString imageDirectory;
    int readParamFile = 0;
    int saveEachImage = 0;
    int chainingMode = 0; // 0 "Délai", 1 "Périodique"; any other value is fixed rate
    int postProcess = 0;
    int periodTenths = 1;

protected:
    void createControls(ControlBuilder& b) override;
    void onInitDialog() override;
    void doDataExchange(DataExchange& dx) override;
    void onCommand(int id) override;
    void onOK() override;
    void onCancel() override;

private:
    struct Values {
        QString paramFile, baseName, imageDirectory;
        int readParamFile, saveEachImage, chainingMode, postProcess, periodTenths;
    };
    Values values() const;
    void setValues(const Values& v);
    void load();
    void store() const;
    void browseParamFile();
    void browseImageDirectory();

    // The members as loaded at opening, with any path a "..." button has set
    // since: what Cancel leaves in force even after a refused OK had already
    // taken some fields from the controls.
    Values opened{};
};
