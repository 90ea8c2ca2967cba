// Every static text, check box and button of every dialog and panel shows its
// whole text, at the desktop's font and at a larger one.
#include "AppFixture.h"
#include "CommandIds.h"
#include "GuideGraphPanel.h"
#include "StatsPanel.h"
#include "SuiviPanel.h"
#include "VisuPanel.h"

#include "common/PtyPair.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTextLayout>

#include <map>

namespace {

// The rectangle a control draws its text in, and whether the text wraps.
struct TextRoom {
    QString text;
    QRect box;
    bool wrap = false;
};

std::optional<TextRoom> textRoom(QWidget* c) {
    if (auto* l = qobject_cast<QLabel*>(c)) {
        if (l->text().isEmpty())
            return std::nullopt;
        return TextRoom{l->text(), l->contentsRect(), l->wordWrap()};
    }
    auto* b = qobject_cast<QAbstractButton*>(c);
    if (!b || b->text().isEmpty())
        return std::nullopt;
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<QCheckBox*>(b))
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<QRadioButton*>(b))
        contents = QStyle::SE_RadioButtonContents;
    if (auto* p = qobject_cast<QPushButton*>(b); p && p->autoDefault())
        opt.features |= QStyleOptionButton::AutoDefaultButton;
    return TextRoom{QString(b->text()).remove(QLatin1Char('&')),
                    b->style()->subElementRect(contents, &opt, b), false};
}

// The lines a word-wrapped text takes in that width.
QStringList wrappedLines(const QString& text, const QFont& font, int width) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

// The controls of a window whose text is cut, or that stick out of the window.
QStringList cutTexts(QWidget* window) {
    QStringList out;
    for (QWidget* c : window->findChildren<QWidget*>()) {
        const std::optional<TextRoom> room = textRoom(c);
        if (!room || !c->isVisibleTo(window))
            continue;
        const QFontMetrics fm = c->fontMetrics();
        QSize need(fm.horizontalAdvance(room->text), fm.height());
        if (room->wrap) {
            const QStringList lines = wrappedLines(room->text, c->font(), room->box.width());
            need = QSize(0, int(lines.size()) * fm.lineSpacing());
            for (const QString& line : lines)
                need.setWidth(std::max(need.width(), fm.horizontalAdvance(line)));
        }
        if (need.width() > room->box.width() || need.height() > room->box.height() ||
            !window->rect().contains(c->geometry()))
            out << QStringLiteral("%1 %2 \"%3\": needs %4 x %5, has %6 x %7")
                       .arg(window->objectName(), c->objectName(), room->text)
                       .arg(need.width())
                       .arg(need.height())
                       .arg(room->box.width())
                       .arg(room->box.height());
    }
    return out;
}

class TextFit : public AppFixture, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        desktopFont = QApplication::font();
        QFont f = desktopFont;
        f.setPointSizeF(f.pointSizeF() + GetParam());
        QApplication::setFont(f);
    }
    void TearDown() override {
        AppFixture::TearDown();
        QApplication::setFont(desktopFont);
    }
    QFont desktopFont;
};

} // namespace

TEST_P(TextFit, EveryTextShowsWhole) {
    PtyPair pty;
    linkPort(2, pty.slavePath());
    ASSERT_TRUE(start());
    frame().commands().send(cmd::ShowGuiding);
    frame().commands().send(cmd::ShowGuideGraph);

    QStringList cut;
    for (QWidget* panel :
         {view().visuPanel()->window(), view().infoPanel()->window(), view().statsPanel()->window(),
          view().guiding().panel()->window(), view().guiding().graphPanel()->window()})
        cut << cutTexts(panel);

    QStringList dialogs;
    QStringList colourLines;
    ModalWatcher watcher([&](QWidget* w) {
        dialogs << w->objectName();
        cut << cutTexts(w);
        for (QLabel* l : w->findChildren<QLabel*>())
            if (l->text().startsWith("Cyan"))
                colourLines = wrappedLines(l->text(), l->font(), l->contentsRect().width());
        later([w] { press(w, findControl(w, 2) ? 2 : 1); });
        return true;
    });
    for (int id : {cmd::CameraParams, cmd::SequenceParams, cmd::GuidingParams, cmd::AppAbout,
                   cmd::SerialPortDialog})
        action(id)->trigger();

    EXPECT_EQ(dialogs.join(", ").toStdString(),
              "CAcqPrmDlg, CSeqPrmDialog, CSuiviPrmDialog, CAboutDialog, CSerialPortDlg");
    EXPECT_EQ(cut.join("\n").toStdString(), "");
    EXPECT_EQ(colourLines.join("|").toStdString(),
              "Cyan + Yellow = Vert|Cyan + Magenta = Bleu|Magenta + Yellow = Rouge");
}

INSTANTIATE_TEST_SUITE_P(Fonts, TextFit, ::testing::Values(0, 2, 4), [](const auto& info) {
    return "PlusPoints" + std::to_string(info.param);
});
