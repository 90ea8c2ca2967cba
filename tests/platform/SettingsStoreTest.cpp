#include "SettingsStore.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QString probe(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(SETTINGS_PROBE), args);
    EXPECT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0) << args.join(' ').toStdString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString fileText() {
    QFile f(SettingsStore::filePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

} // namespace

TEST(SettingsStore, FileLivesUnderTheConfigFolder) {
    const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + "/VKL_Zermic/Zermic.ini";
    EXPECT_EQ(SettingsStore::filePath(), expected);
}

TEST(SettingsStore, MissingValuesGiveTheCallersDefault) {
    EXPECT_EQ(SettingsStore::getInt("AcqPrm", "never_written", 90), 90);
    EXPECT_EQ(SettingsStore::getInt("NoSuchSection", "x", -7), -7);
    EXPECT_EQ(SettingsStore::getString("SeqPrm", "never_written", "cam"), "cam");
    // A read stores nothing: no defaults are written on first run.
    EXPECT_FALSE(QFileInfo::exists(SettingsStore::filePath()) &&
                 fileText().contains("never_written"));
}

TEST(SettingsStore, WritesAreSeenAtOnceAndOverwrite) {
    struct Case {
        const char* key;
        int first, second;
    };
    for (Case c :
         {Case{"pause_s", 1, 3600}, Case{"neg", -5, 2147483647}, Case{"min", 0, -2147483647 - 1}}) {
        ASSERT_TRUE(SettingsStore::writeInt("AcqPrm", c.key, c.first));
        EXPECT_EQ(SettingsStore::getInt("AcqPrm", c.key, 99), c.first);
        ASSERT_TRUE(SettingsStore::writeInt("AcqPrm", c.key, c.second));
        EXPECT_EQ(SettingsStore::getInt("AcqPrm", c.key, 99), c.second);
    }
}

TEST(SettingsStore, StringsRoundTripExactly) {
    const QString values[] = {
        QStringLiteral("c:\\tmp\\"),
        QStringLiteral("/home/astro/Images/M42 été/"),
        QStringLiteral("Paramètres d'acquisition"),
        QStringLiteral("  leading and trailing  "),
        QStringLiteral("\"quoted\" = with; semicolons # and hashes"),
        QStringLiteral("line one\nline two\r\nback\\slash\\n"),
        QStringLiteral("[not a section]"),
        QString(),
    };
    int i = 0;
    for (const QString& v : values) {
        const QByteArray key = "s" + QByteArray::number(i++);
        ASSERT_TRUE(SettingsStore::writeString("SeqPrm", key.constData(), v));
        EXPECT_EQ(SettingsStore::getString("SeqPrm", key.constData(), "default"), v)
            << v.toStdString();
    }
}

TEST(SettingsStore, SectionsAreReadableIniWithPlainHeaders) {
    SettingsStore::writeString("Recent File List", "File1", "/data/m31.fit");
    SettingsStore::writeInt("SuiviPrm", "gain1", 100);
    const QString text = fileText();
    EXPECT_TRUE(text.contains("[Recent File List]\nFile1=/data/m31.fit\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("[SuiviPrm]\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("gain1=100\n"));
}

TEST(SettingsStore, ValuesPersistAcrossProcesses) {
    // This process writes, another reads; another writes, this one reads.
    SettingsStore::writeInt("AcqPrm", "bdt", 123);
    SettingsStore::writeString("SeqPrm", "imgpath", QStringLiteral("/nuit/été\\x/"));
    EXPECT_EQ(probe({"get-int", "AcqPrm", "bdt", "90"}), "123");
    EXPECT_EQ(probe({"get-string", "SeqPrm", "imgpath", "none"}), QStringLiteral("/nuit/été\\x/"));
    probe({"write-int", "AcqPrm", "prm2", "7"});
    probe({"write-string", "SeqPrm", "basename", "andromède"});
    EXPECT_EQ(SettingsStore::getInt("AcqPrm", "prm2", 2), 7);
    EXPECT_EQ(SettingsStore::getString("SeqPrm", "basename", "cam"), QStringLiteral("andromède"));
    EXPECT_EQ(SettingsStore::getInt("AcqPrm", "bdt", 90), 123);
}

TEST(SettingsStore, WriteIntoAnUnusableFolderReportsFailure) {
    // The store's folder is taken by a plain file: nothing can be written there.
    const QString blocker = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Blocked";
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    SettingsStore::setRoot("Blocked", "Zermic");
    EXPECT_FALSE(SettingsStore::writeInt("AcqPrm", "img_w", 640));
    EXPECT_EQ(SettingsStore::getInt("AcqPrm", "img_w", 5), 5);
    SettingsStore::setRoot("VKL_Zermic", "Zermic");
}

TEST(SettingsStore, FailedWriteReportsFailureAndKeepsTheOldFile) {
    ASSERT_TRUE(SettingsStore::writeInt("AcqPrm", "img_w", 768));
    const QString before = fileText();
    const QByteArray dir = QFileInfo(SettingsStore::filePath()).absolutePath().toUtf8();
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    ASSERT_EQ(::chmod(dir.constData(), 0500), 0);
    EXPECT_FALSE(SettingsStore::writeInt("AcqPrm", "img_w", 640));
    ::chmod(dir.constData(), 0700);
    EXPECT_EQ(fileText(), before);
}
