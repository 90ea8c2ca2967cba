// The view's display bitmap and the Visu and statistics panels, driven through
// their real controls with images opened from files.
#include "AppFixture.h"
#include "CommandIds.h"
#include "StatsPanel.h"
#include "ViewFiles.h"
#include "VisuPanel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMouseEvent>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QWheelEvent>

using namespace viewfiles;

namespace {

const QColor kMagenta(255, 0, 255);

// Where the slider draws its thumb, in the slider's own coordinates.
QPoint thumbCentre(const QSlider* s) {
    QStyleOptionSlider opt;
    opt.initFrom(s);
    opt.orientation = s->orientation();
    opt.minimum = s->minimum();
    opt.maximum = s->maximum();
    opt.sliderPosition = s->sliderPosition();
    opt.sliderValue = s->value();
    opt.singleStep = s->singleStep();
    opt.pageStep = s->pageStep();
    opt.tickPosition = s->tickPosition();
    opt.tickInterval = s->tickInterval();
    opt.upsideDown =
        s->orientation() == Qt::Horizontal ? s->invertedAppearance() : !s->invertedAppearance();
    return s->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, s).center();
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

bool hasColour(const QImage& shot, const QColor& c) {
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.pixelColor(x, y) == c)
                return true;
    return false;
}

bool isGrey(const QColor& c) {
    return c.red() == c.green() && c.green() == c.blue();
}

} // namespace

class DisplayView : public AppFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(start());
        frame().resize(1000, 700);
        QApplication::processEvents();
    }

    bool open(const QString& path) { return theApp.openDocumentFile(path); }
    QString rampFile(int width, int height, const std::string& name = "ramp.fit") {
        return writeFits(dir, name, width, height, [width](int x, int) { return ramp(x, width); });
    }

    void paint() { view().viewport()->repaint(); }
    // The screen's device pixels per logical pixel: the view's grab has one
    // pixel per device pixel, mouse positions are logical.
    double ratio() { return view().viewport()->devicePixelRatioF(); }
    // The logical position of a device pixel of the viewport (coordinates
    // that the ratio divides: multiples of 6 at ratios 1.5 and 2).
    QPoint logical(QPoint device) {
        return QPoint(int(device.x() / ratio()), int(device.y() / ratio()));
    }
    // The view as the user sees it (painting it once more).
    QImage screen() { return view().viewport()->grab().toImage(); }
    qint64 serial() { return bitmapSerial(view().displayBitmap()); }

    QWidget* visuWindow() { return view().visuPanel()->window(); }
    QAbstractButton* modeButton(int id) { return findControlAs<QAbstractButton>(visuWindow(), id); }
    QSlider* slider(int id) { return findControlAs<QSlider>(visuWindow(), id); }
    QCheckBox* continu() {
        return findControlAs<QCheckBox>(visuWindow(), CVisuPanel::ContinuCheck);
    }
    QString statsField(int id) {
        return findControlAs<QLineEdit>(view().statsPanel()->window(), id)->text();
    }

    TempDir dir;
};

TEST_F(DisplayView, EachModeButtonRecreatesTheBitmapOnceAtTheNextPaint) {
    ASSERT_TRUE(open(rampFile(200, 60)));
    for (int id : {CVisuPanel::NormalButton, CVisuPanel::NegativeButton,
                   CVisuPanel::FalseColourButton, CVisuPanel::ColourButton}) {
        ASSERT_NE(modeButton(id), nullptr) << id;
        EXPECT_FALSE(modeButton(id)->isChecked()) << id;
    }
    paint();
    qint64 shown = serial();
    ASSERT_NE(shown, 0);
    paint();
    EXPECT_EQ(serial(), shown);
    const QImage normalAtOpening = screen();

    // With the default window the ramp's first third is black, its last third
    // white, and x = 100 lies on the slope.
    const int dark = 10, mid = 100, bright = 190;
    const struct {
        int button;
        int mode;
        QImage::Format format;
    } presses[] = {
        {CVisuPanel::ColourButton, 3, QImage::Format_BGR888},
        {CVisuPanel::NormalButton, 0, QImage::Format_Indexed8},
        {CVisuPanel::NegativeButton, 1, QImage::Format_Indexed8},
        {CVisuPanel::NegativeButton, 1, QImage::Format_Indexed8},
        {CVisuPanel::FalseColourButton, 2, QImage::Format_Indexed8},
        {CVisuPanel::ColourButton, 3, QImage::Format_BGR888},
        {CVisuPanel::ColourButton, 3, QImage::Format_BGR888},
        {CVisuPanel::NormalButton, 0, QImage::Format_Indexed8},
    };
    for (std::size_t i = 0; i < std::size(presses); ++i) {
        const auto& p = presses[i];
        SCOPED_TRACE(testing::Message() << "press " << i << " on " << p.button);
        QTest::mouseClick(modeButton(p.button), Qt::LeftButton);
        EXPECT_TRUE(modeButton(p.button)->isChecked());
        EXPECT_EQ(view().visuPanel()->mode(), p.mode);

        paint();
        EXPECT_NE(serial(), shown) << "not recreated";
        shown = serial();
        const QImage& b = view().displayBitmap();
        EXPECT_EQ(b.format(), p.format);
        EXPECT_EQ(b.width(), 200);
        EXPECT_EQ(b.height(), 60);

        // Later paints copy the same bitmap.
        paint();
        const QImage shot = screen();
        EXPECT_EQ(serial(), shown) << "recreated at a later paint";

        const QColor d = shot.pixelColor(dark, 30), m = shot.pixelColor(mid, 30),
                     w = shot.pixelColor(bright, 30);
        switch (p.mode) {
        case 0:
            EXPECT_EQ(shot, normalAtOpening);
            EXPECT_EQ(d, QColor(0, 0, 0));
            EXPECT_EQ(w, QColor(255, 255, 255));
            EXPECT_TRUE(isGrey(m) && m.red() > 0 && m.red() < 255) << m.name().toStdString();
            break;
        case 1:
            EXPECT_EQ(d, QColor(255, 255, 255));
            EXPECT_EQ(w, QColor(0, 0, 0));
            EXPECT_EQ(m.red(), 255 - normalAtOpening.pixelColor(mid, 30).red());
            EXPECT_TRUE(isGrey(m));
            break;
        case 2:
            EXPECT_FALSE(isGrey(m)) << m.name().toStdString();
            EXPECT_NE(d, w);
            break;
        case 3:
            // Below and above the window on every colour plane.
            EXPECT_EQ(d, QColor(0, 0, 0));
            EXPECT_EQ(w, QColor(255, 255, 255));
            break;
        }
    }
}

TEST_F(DisplayView, SliderWithoutContinuChangesThePictureOnlyAtRelease) {
    ASSERT_TRUE(open(rampFile(200, 60)));
    paint();
    const qint64 bitmap = serial();
    QSlider* brightness = slider(CVisuPanel::BrightnessSlider);
    ASSERT_NE(brightness, nullptr);
    ASSERT_FALSE(continu()->isChecked());
    EXPECT_EQ(brightness->value(), 128);

    // A drag by the mouse: the thumb follows, the picture does not.
    QImage before = screen();
    QPoint at = thumbCentre(brightness);
    sendMouse(brightness, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    ASSERT_TRUE(brightness->isSliderDown());
    for (int step = 1; step <= 3; ++step) {
        at += QPoint(0, 12);
        sendMouse(brightness, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
        paint();
        EXPECT_EQ(screen(), before) << "step " << step;
    }
    EXPECT_NE(brightness->value(), 128);
    sendMouse(brightness, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    paint();
    QImage after = screen();
    EXPECT_NE(after, before);
    // New pixels in the same bitmap.
    EXPECT_EQ(serial(), bitmap);

    // A key moves the thumb at once and the picture when the key comes up.
    brightness->setFocus();
    before = after;
    const int value = brightness->value();
    QTest::keyPress(brightness, Qt::Key_Up);
    EXPECT_NE(brightness->value(), value);
    paint();
    EXPECT_EQ(screen(), before);
    QTest::keyRelease(brightness, Qt::Key_Up);
    paint();
    EXPECT_NE(screen(), before);

    // With "Continu" checked the picture follows every position of the drag,
    // on either slider.
    QTest::mouseClick(continu(), Qt::LeftButton);
    ASSERT_TRUE(continu()->isChecked());
    for (int id : {CVisuPanel::BrightnessSlider, CVisuPanel::ContrastSlider}) {
        SCOPED_TRACE(id);
        QSlider* s = slider(id);
        at = thumbCentre(s);
        sendMouse(s, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        for (int step = 1; step <= 3; ++step) {
            before = screen();
            at += QPoint(0, id == CVisuPanel::ContrastSlider ? -8 : 8);
            sendMouse(s, QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
            paint();
            EXPECT_NE(screen(), before) << "step " << step;
        }
        sendMouse(s, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    }
    EXPECT_EQ(serial(), bitmap);
}

TEST_F(DisplayView, MarkerFrameShownOnClickAndGoneWithTheNextImage) {
    ASSERT_TRUE(open(rampFile(200, 60)));
    const QImage clean = screen();
    const qint64 bitmap = serial();
    EXPECT_FALSE(hasColour(clean, kMagenta));

    QTest::mouseClick(view().viewport(), Qt::LeftButton, {}, logical(QPoint(120, 30)));
    EXPECT_EQ(view().marker(), QPoint(120, 30));
    const QImage marked = screen();
    EXPECT_EQ(marked.pixelColor(117, 27), kMagenta);
    EXPECT_EQ(marked.pixelColor(122, 32), kMagenta);
    EXPECT_NE(marked.pixelColor(123, 33), kMagenta);
    // Only the frame is drawn: the picture underneath is the same bitmap.
    EXPECT_EQ(serial(), bitmap);
    EXPECT_EQ(marked.pixelColor(120, 30), clean.pixelColor(120, 30));

    ASSERT_TRUE(open(rampFile(200, 60, "next.fit")));
    EXPECT_FALSE(hasColour(screen(), kMagenta));
}

TEST_F(DisplayView, StatisticsToggleShowsRefreshesAndHidesWithoutComputing) {
    // Inside the 16-pixel border: 1000 everywhere but one 3000, so the mean
    // 1003.9 is truncated; the border's 60000 is left out.
    const QString first = writeFits(dir, "first.fit", 64, 48, [](int x, int y) -> unsigned short {
        if (x < 16 || y < 16 || x >= 48 || y >= 32)
            return 60000;
        return x == 20 && y == 20 ? 3000 : 1000;
    });
    const QString second =
        writeFits(dir, "second.fit", 64, 48, [](int, int) -> unsigned short { return 2000; });
    QAction* toggle = action(cmd::ShowStats);
    ASSERT_NE(view().statsPanel(), nullptr);
    frame().commands().updateUI();
    EXPECT_TRUE(view().statsPanel()->isVisible());
    EXPECT_TRUE(toggle->isChecked());

    ASSERT_TRUE(open(first));
    paint();
    EXPECT_EQ(statsField(CStatsPanel::MinimumField), "1000");
    EXPECT_EQ(statsField(CStatsPanel::MeanField), "1003");
    EXPECT_EQ(statsField(CStatsPanel::MaximumField), "3000");

    toggle->trigger();
    frame().commands().updateUI();
    EXPECT_FALSE(view().statsPanel()->isVisible());
    EXPECT_FALSE(toggle->isChecked());

    // Hidden, the panel asks the image for nothing, however often the view
    // paints.
    ASSERT_TRUE(open(second));
    for (int i = 0; i < 3; ++i)
        paint();
    EXPECT_FALSE(doc().image.stats.valid);
    EXPECT_EQ(statsField(CStatsPanel::MeanField), "1003");

    // Shown again, it shows the current image at once, before any paint.
    toggle->trigger();
    frame().commands().updateUI();
    EXPECT_TRUE(view().statsPanel()->isVisible());
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(doc().image.stats.valid);
    for (int id : {CStatsPanel::MinimumField, CStatsPanel::MeanField, CStatsPanel::MaximumField})
        EXPECT_EQ(statsField(id), "2000") << id;
}

TEST_F(DisplayView, BitmapsAreAsWideAsTheImagesInGreyAndColour) {
    for (const int width : {768, 770, 771, 772, 321}) {
        SCOPED_TRACE(width);
        ASSERT_TRUE(open(rampFile(width, 8, "w" + std::to_string(width) + ".fit")));
        for (int button : {CVisuPanel::NormalButton, CVisuPanel::ColourButton}) {
            QTest::mouseClick(modeButton(button), Qt::LeftButton);
            paint();
            const QImage& b = view().displayBitmap();
            const int bytes = button == CVisuPanel::ColourButton ? 3 : 1;
            EXPECT_EQ(b.width(), width);
            EXPECT_EQ(b.height(), 8);
            EXPECT_EQ(b.depth(), 8 * bytes);
            EXPECT_EQ(b.bytesPerLine(), bytes * ((width + 3) / 4 * 4));
        }
        // In grey, the image's last column is the ramp's white; past it the
        // view shows its background, as far to the right as the window goes.
        QTest::mouseClick(modeButton(CVisuPanel::NormalButton), Qt::LeftButton);
        const QImage shot = screen();
        ASSERT_GT(shot.width(), width + 4);
        EXPECT_EQ(shot.pixelColor(width - 1, 3), QColor(255, 255, 255));
        const QColor background = shot.pixelColor(shot.width() - 1, 3);
        EXPECT_NE(background, QColor(0, 0, 0));
        for (int x = width; x < width + 4; ++x)
            EXPECT_EQ(shot.pixelColor(x, 3), background) << x;
    }
}

// On a scaled screen (QT_SCALE_FACTOR=2 runs this file once more) the view
// still shows one image pixel per device pixel, scrolls in image pixels and
// places the marker and its one-pixel frame in image coordinates.
TEST_F(DisplayView, OneImagePixelPerDevicePixelAtTheScreensScale) {
    const int width = 1000, height = 800;
    ASSERT_TRUE(open(rampFile(width, height)));
    frame().resize(400, 300);
    QApplication::processEvents();
    const QSize device = (QSizeF(view().viewport()->size()) * ratio()).toSize();
    EXPECT_EQ(view().horizontalScrollBar()->pageStep(), device.width());
    EXPECT_EQ(view().horizontalScrollBar()->maximum(), width - device.width());
    EXPECT_EQ(view().verticalScrollBar()->maximum(), height - device.height());

    const QPoint scroll(100, 40);
    view().horizontalScrollBar()->setValue(scroll.x());
    view().verticalScrollBar()->setValue(scroll.y());
    const QPoint click(60, 48);
    QTest::mouseClick(view().viewport(), Qt::LeftButton, {}, logical(click));
    EXPECT_EQ(view().marker(), click + scroll);

    const QImage shot = screen();
    ASSERT_EQ(shot.size(), device);
    // A row of the screen is the bitmap's row, pixel for pixel (bottom-up).
    const QImage& bitmap = view().displayBitmap();
    const int y = 20;
    int differences = 0;
    for (int x = 0; x < device.width(); ++x)
        if (shot.pixelColor(x, y) !=
            bitmap.pixelColor(x + scroll.x(), height - 1 - (y + scroll.y())))
            ++differences;
    EXPECT_EQ(differences, 0);
    // The frame runs from (x - 3, y - 3) to (x + 2, y + 2), one device pixel wide.
    EXPECT_EQ(shot.pixelColor(click.x() - 3, click.y() - 3), kMagenta);
    EXPECT_EQ(shot.pixelColor(click.x() + 2, click.y()), kMagenta);
    EXPECT_NE(shot.pixelColor(click.x() - 2, click.y()), kMagenta);
    EXPECT_NE(shot.pixelColor(click.x() + 3, click.y()), kMagenta);
}

// Ctrl+wheel zooms about the pointer, whose image pixel stays under it; the
// screen shows the bitmap already mapped, only scaled; clicks, the marker and
// the status bar's pixel stay in image pixels.
TEST_F(DisplayView, ZoomKeepsThePixelUnderThePointerAndTheMarkerOnItsPixel) {
    const int width = 1000, height = 800;
    ASSERT_TRUE(open(rampFile(width, height)));
    frame().resize(500, 400);
    QApplication::processEvents();
    view().horizontalScrollBar()->setValue(100);
    view().verticalScrollBar()->setValue(60);
    const qint64 mapped = serial();
    const QPoint pointer = logical(QPoint(120, 90));
    const QPoint under = view().imagePoint(pointer);
    auto wheel = [&](int delta, Qt::KeyboardModifiers keys) {
        QWheelEvent e(QPointF(pointer), QPointF(view().viewport()->mapToGlobal(pointer)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, keys, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view().viewport(), &e);
    };
    const struct {
        int delta;
        double zoom;
    } turns[] = {{60, 1}, {60, 2}, {240, 8}, {120, 8}, {-120, 4}, {-240, 1}, {120, 2}};
    for (const auto& t : turns) {
        wheel(t.delta, Qt::ControlModifier);
        EXPECT_EQ(view().zoomFactor(), t.zoom) << t.delta;
        EXPECT_EQ(view().imagePoint(pointer), under) << t.zoom;
    }
    EXPECT_EQ(frame().zoomText(), QStringLiteral("Zoom 200\u00a0%"));

    sendMouse(view().viewport(), QEvent::MouseMove, pointer, Qt::NoButton, Qt::NoButton);
    const int value = doc().image.pixels[under.y() * width + under.x()];
    EXPECT_EQ(frame().pixelText(),
              QStringLiteral("Pixel (%1, %2) : %3").arg(under.x()).arg(under.y()).arg(value));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view().viewport(), &leave);
    EXPECT_TRUE(frame().pixelText().isEmpty());

    QTest::mouseClick(view().viewport(), Qt::LeftButton, {}, pointer);
    EXPECT_EQ(view().marker(), under);
    const QImage shot = screen();
    const QPoint scroll = view().scrollPosition();
    // The frame from (x - 3, y - 3) to (x + 2, y + 2) in image pixels, each
    // two screen pixels wide, drawn one screen pixel wide.
    const QPoint corner = (under - QPoint(3, 3)) * 2 - scroll;
    EXPECT_EQ(shot.pixelColor(corner), kMagenta);
    EXPECT_EQ(shot.pixelColor(corner + QPoint(11, 11)), kMagenta);
    EXPECT_NE(shot.pixelColor(corner + QPoint(1, 1)), kMagenta);
    EXPECT_NE(shot.pixelColor(corner + QPoint(12, 12)), kMagenta);
    // A screen row is the bitmap's row, each pixel twice, never mapped again.
    const QImage& bitmap = view().displayBitmap();
    const int y = 10;
    int differences = 0;
    for (int x = 0; x < shot.width(); ++x)
        if (shot.pixelColor(x, y) !=
            bitmap.pixelColor((x + scroll.x()) / 2, height - 1 - (y + scroll.y()) / 2))
            ++differences;
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(serial(), mapped);
}

// Zoomed out, a slider's new levels reach the screen: the shrunk picture is
// made again from the bitmap mapped again.
TEST_F(DisplayView, ShrunkPictureFollowsTheSliders) {
    ASSERT_TRUE(open(rampFile(400, 120)));
    action(cmd::ZoomOut)->trigger();
    ASSERT_EQ(view().zoomFactor(), 0.5);
    const QImage before = screen();
    const qint64 bitmap = serial();
    QSlider* brightness = slider(CVisuPanel::BrightnessSlider);
    brightness->setFocus();
    QTest::keyClick(brightness, Qt::Key_Up);
    const QImage after = screen();
    EXPECT_EQ(serial(), bitmap);
    EXPECT_NE(after, before);
    const QImage shrunk =
        view().displayBitmap().scaled(200, 60, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int differences = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x)
            differences += after.pixelColor(x, y) != shrunk.pixelColor(x, 59 - y);
    EXPECT_EQ(differences, 0);
}

// The keys step the factor about the middle of the view; fitting shows the
// whole image and keeps doing so as the window changes size.
TEST_F(DisplayView, ZoomKeysAndFittingTheWindow) {
    ASSERT_TRUE(open(rampFile(1000, 800)));
    frame().resize(500, 400);
    frame().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame()));
    auto fitted = [this] {
        return view().horizontalScrollBar()->maximum() == 0 &&
               view().verticalScrollBar()->maximum() == 0;
    };
    action(cmd::ZoomFit)->trigger();
    // The scroll bars go once the view has laid itself out again.
    QApplication::processEvents();
    const double small = view().zoomFactor();
    EXPECT_LT(small, 1);
    EXPECT_TRUE(fitted());
    frame().resize(700, 560);
    QApplication::processEvents();
    EXPECT_GT(view().zoomFactor(), small);
    EXPECT_TRUE(fitted());

    const struct {
        Qt::Key key;
        double zoom;
    } keys[] = {{Qt::Key_0, 1},
                {Qt::Key_Plus, 2},
                {Qt::Key_Equal, 4},
                {Qt::Key_Minus, 2},
                {Qt::Key_Minus, 1}};
    for (const auto& k : keys) {
        QTest::keyClick(&frame(), k.key, Qt::ControlModifier);
        EXPECT_EQ(view().zoomFactor(), k.zoom) << k.key;
    }
    // At the limit, the command that would pass it is disabled.
    for (int i = 0; i < 3; ++i)
        action(cmd::ZoomIn)->trigger();
    EXPECT_EQ(view().zoomFactor(), 8);
    EXPECT_FALSE(action(cmd::ZoomIn)->isEnabled());
}
