#include "VisuPanel.h"

#include "LevelWindow.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

constexpr int kTickEvery = 16;

struct SliderSetup {
    int id;
    int minimum;
    int maximum;
    QSlider::TickPosition ticks;
    // Qt puts the maximum of a vertical slider at the top. The contrast keeps
    // that (up narrows the window: more contrast); the brightness is turned
    // over because a lower window centre gives a brighter picture, so up is
    // brighter on both.
    bool upIsLower;
};

constexpr SliderSetup kContrast{CVisuPanel::ContrastSlider, kContrastMin, kContrastMax,
                                QSlider::TicksLeft, false};
constexpr SliderSetup kBrightness{CVisuPanel::BrightnessSlider, kBrightnessMin, kBrightnessMax,
                                  QSlider::TicksRight, true};

// Picture places in dialog units, above their sliders.
constexpr int kSunX = 36, kSunY = 0, kSunW = 16, kSunH = 15;
constexpr int kDiscX = 7, kDiscY = 0, kDiscW = 16, kDiscH = 15;

void drawSun(QPainter& p, const QRectF& r) {
    const QPointF c = r.center();
    const double radius = std::min(r.width(), r.height()) / 2.0;
    p.setPen(QPen(QColor(230, 160, 0), 1.0));
    for (int k = 0; k < 8; ++k) {
        const double a = k * M_PI / 4.0;
        const QPointF dir(std::cos(a), std::sin(a));
        p.drawLine(c + dir * (radius * 0.6), c + dir * (radius * 0.95));
    }
    p.setBrush(QColor(255, 210, 0));
    p.drawEllipse(c, radius * 0.45, radius * 0.45);
}

void drawHalfDisc(QPainter& p, const QRectF& r) {
    const double side = std::min(r.width(), r.height()) - 1.0;
    const QRectF disc(r.center().x() - side / 2.0, r.center().y() - side / 2.0, side, side);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(disc);
    p.setBrush(Qt::black);
    p.drawPie(disc, 90 * 16, 180 * 16); // the left half
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 1.0));
    p.drawEllipse(disc);
}

} // namespace

CVisuPanel::CVisuPanel(QWidget* view)
    : CPanel(view, "CVisuPanel", QStringLiteral("Visu"), 57, 153) {}

bool CVisuPanel::create() {
    return CPanel::create(512, 150, true);
}

void CVisuPanel::setChangeHandler(std::function<void()> repaint) {
    changeHandler = std::move(repaint);
}

void CVisuPanel::createControls(ControlBuilder& b) {
    b.slider(ContrastSlider, Qt::Vertical, 0, 15, 20, 107);
    b.slider(BrightnessSlider, Qt::Vertical, 35, 15, 20, 107);
    b.radio(NormalButton, NormalButton, QStringLiteral("+"), 7, 120, 15, 10, true);
    b.radio(NegativeButton, NormalButton, QStringLiteral("-"), 22, 120, 15, 10, true);
    b.radio(FalseColourButton, NormalButton, QStringLiteral("C"), 37, 120, 15, 10, true);
    b.radio(ColourButton, NormalButton, QStringLiteral("KC"), 22, 130, 15, 10, true);
    b.check(ContinuCheck, QStringLiteral("Continu"), 5, 140, 40, 10);
}

void CVisuPanel::onInitDialog() {
    for (const SliderSetup& s : {kContrast, kBrightness}) {
        auto* slider = findControlAs<ScrollSlider>(window(), s.id);
        slider->setRange(s.minimum, s.maximum);
        slider->setValue(kSliderStart);
        slider->setTickInterval(kTickEvery);
        slider->setTickPosition(s.ticks);
        slider->setPageStep(kTickEvery);
        slider->setInvertedAppearance(s.upIsLower);
        // Keys and wheel follow the picture: Up moves the thumb up.
        slider->setInvertedControls(s.upIsLower);
        QObject::connect(slider, &ScrollSlider::scrolled, window(),
                         [this](int code, int) { onScroll(code); });
    }
}

void CVisuPanel::onScroll(int code) {
    const auto* continu = findControlAs<QCheckBox>(window(), ContinuCheck);
    if ((continu && continu->isChecked()) || code == ScrollSlider::EndScroll) {
        pixelsChanged = 1;
        requestRepaint();
    }
}

void CVisuPanel::setPositions(int brightnessPosition, int contrastPosition) {
    for (auto [id, position] : {std::pair{BrightnessSlider, brightnessPosition},
                                std::pair{ContrastSlider, contrastPosition}})
        if (auto* slider = findControlAs<QSlider>(window(), id))
            slider->setValue(position);
    onScroll(ScrollSlider::EndScroll);
}

void CVisuPanel::onCommand(int id) {
    if (id < NormalButton || id > ColourButton)
        return;
    displayMode = id - NormalButton;
    bitmapChanged = 1;
    requestRepaint();
}

void CVisuPanel::requestRepaint() {
    if (changeHandler)
        changeHandler();
    else if (QWidget* main = mainWindow())
        main->update();
}

int CVisuPanel::sliderValue(int id) const {
    const auto* slider = findControlAs<QSlider>(window(), id);
    return slider ? slider->value() : kSliderStart;
}

int CVisuPanel::brightness() const {
    return sliderValue(BrightnessSlider);
}

int CVisuPanel::contrast() const {
    return sliderValue(ContrastSlider);
}

void CVisuPanel::onPaint(QPainter& painter) {
    const QFont& font = window()->font();
    painter.setRenderHint(QPainter::Antialiasing, true);
    drawSun(painter, dialogUnitsToPixels(font, kSunX, kSunY, kSunW, kSunH));
    drawHalfDisc(painter, dialogUnitsToPixels(font, kDiscX, kDiscY, kDiscW, kDiscH));
}
