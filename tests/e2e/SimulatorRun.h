#pragma once

// The program against the camera simulator, with the helpers the loop tests
// share: the simulator process, the camera dialog answered, the viewport
// searched for the overlay colours, and the image levels the loop left behind.
#include "../app/AppFixture.h"
#include "CommandIds.h"
#include "SettingsStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <functional>
#include <unistd.h>
#include <vector>

class SimulatorProcess {
public:
    explicit SimulatorProcess(const QStringList& extra) {
        process.setProgram(QStringLiteral(CAMSIM));
        process.setArguments(QStringList{"--port", "2"} + extra);
        process.setChildProcessModifier([] { ::setsid(); });
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        bool linked = false;
        while (!linked && (process.canReadLine() || process.waitForReadyRead(10000)))
            linked = process.readLine().contains("camsim: COM2");
        if (!linked)
            ADD_FAILURE() << "camsim did not start";
    }
    ~SimulatorProcess() { stop(); }
    // Pulls the camera away mid-run: its links go and its line closes.
    void stop() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        process.waitForFinished(5000);
    }

private:
    QProcess process;
};

// Pure overlay colours in a grab: nothing in a grey image has them.
struct OverlayColours {
    bool red = false;
    bool green = false;
};

inline OverlayColours overlayColours(const QImage& shot) {
    OverlayColours found;
    const QImage im = shot.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < im.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(im.constScanLine(y));
        for (int x = 0; x < im.width(); ++x) {
            const QRgb c = line[x] & 0xFFFFFF;
            found.red |= c == 0xFF0000;
            found.green |= c == 0x00FF00;
        }
    }
    return found;
}

// An image as plain numbers, for sums the 16-bit pixels cannot hold.
struct Plane {
    int width = 0;
    int height = 0;
    std::vector<double> v;

    static Plane of(const ImageBuffer& im) {
        Plane p{im.width, im.height, {}};
        if (im.pixels)
            p.v.assign(im.pixels, im.pixels + im.pixelCount());
        return p;
    }
    double at(int x, int y) const { return v[std::size_t(y) * width + x]; }
    // Mean of the inner part, away from the strips a shifted sum leaves alone.
    double innerMean(int border = 32) const {
        double sum = 0;
        long n = 0;
        for (int y = border; y < height - border; ++y)
            for (int x = border; x < width - border; ++x, ++n)
                sum += at(x, y);
        return n ? sum / double(n) : 0;
    }
};

class SimulatorFixture : public AppFixture {
protected:
    static std::vector<QString> boxes(const ModalWatcher& watcher) {
        std::vector<QString> out;
        for (const ModalWatcher::Seen& s : watcher.seen())
            if (s.className == "QMessageBox")
                out.push_back(s.text);
        return out;
    }

    // Centre of the brightest 5 x 5 patch of the document whose centre lies
    // in the rectangle: a star rather than a lone hot pixel.
    QPoint brightestPatch(const QRect& area) {
        const Plane p = Plane::of(doc().image);
        const QRect r = area & QRect(2, 2, p.width - 4, p.height - 4);
        double best = -1;
        QPoint at;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                double s = 0;
                for (int j = -2; j <= 2; ++j)
                    for (int i = -2; i <= 2; ++i)
                        s += p.at(x + i, y + j);
                if (s > best) {
                    best = s;
                    at = QPoint(x, y);
                }
            }
        return at;
    }

    // A left click on an image point: the marker.
    void clickImage(QPoint point) {
        bringIntoView(point.x(), point.y());
        QTest::mouseClick(view().viewport(), Qt::LeftButton, Qt::NoModifier,
                          point - view().scrollPosition());
    }

    void SetUp() override {
        // One-second exposures (quick at the simulator's time scale) and a
        // low offset.
        SettingsStore::writeInt("AcqPrm", "pause_s", 1);
        SettingsStore::writeInt("AcqPrm", "pause_cs", 0);
        SettingsStore::writeInt("AcqPrm", "prm3", 1);
        SettingsStore::writeInt("AcqPrm", "img_w", 1280);
        SettingsStore::writeInt("AcqPrm", "img_h", 1024);
        SettingsStore::writeInt("AcqPrm", "prm2", 2);
    }

    // Runs a command that may open the camera dialog (OK pressed) and message
    // boxes (their default button); returns the boxes' texts.
    std::vector<QString> runCommand(int id) {
        ModalWatcher watcher([](QWidget* w) {
            if (w->objectName() != "CAcqPrmDlg")
                return false;
            later([w] { press(w, 1); });
            return true;
        });
        action(id)->trigger();
        return boxes(watcher);
    }

    // A ".seq" of `count` images of `exposure` seconds, each image saved in
    // `folder` as <base>####.fit, stored and confirmed through the dialog.
    void useSequenceFile(const QString& folder, const QString& base, int count,
                         const QString& exposure, int periodTenths = 1) {
        const QString seq = folder + "/run.seq";
        QFile f(seq);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Text));
        QTextStream out(&f);
        out << count << "\n";
        for (int i = 0; i < count; ++i)
            out << exposure << "\n";
        f.close();
        SettingsStore::writeInt("SeqPrm", "readPrmFile", 1);
        SettingsStore::writeString("SeqPrm", "prmFile", seq);
        SettingsStore::writeInt("SeqPrm", "saveImg", 1);
        SettingsStore::writeString("SeqPrm", "imgpath", folder + "/");
        SettingsStore::writeString("SeqPrm", "basename", base);
        SettingsStore::writeInt("SeqPrm", "mode_delai", 0);
        SettingsStore::writeInt("SeqPrm", "periode_ds", periodTenths);
        SettingsStore::writeInt("SeqPrm", "postTrt", 0);
        confirmSequenceSettings();
    }

    // The sequence settings stored, then confirmed through their dialog.
    void confirmSequenceSettings() {
        ModalWatcher watcher([](QWidget* w) {
            later([w] { press(w, 1); });
            return true;
        });
        action(cmd::SequenceParams)->trigger();
        ASSERT_EQ(watcher.seen().size(), 1u);
        EXPECT_EQ(watcher.seen()[0].className, "CSeqPrmDialog");
    }

    // Processes events until done() holds or the time runs out, calling each()
    // in between; the boxes shown meanwhile are answered and returned.
    std::vector<QString> runUntil(const std::function<bool()>& done, int timeoutMs,
                                  const std::function<void()>& each = {}) {
        ModalWatcher watcher;
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < timeoutMs) {
            QTest::qWait(15);
            if (each)
                each();
        }
        EXPECT_TRUE(done()) << "timed out";
        return boxes(watcher);
    }

    // Scrolls the view so that an image point lies inside the viewport.
    void bringIntoView(double x, double y) {
        view().horizontalScrollBar()->setValue(int(x) - view().viewport()->width() / 2);
        view().verticalScrollBar()->setValue(int(y) - view().viewport()->height() / 2);
    }

    OverlayColours grabOverlays() { return overlayColours(view().viewport()->grab().toImage()); }
};
