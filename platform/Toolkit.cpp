#include "Toolkit.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMessageBox>

#include <cmath>

QWidget* mainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("CMainFrame"))
            return w;
    return nullptr;
}

QString applicationTitle() {
    const QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Zermic") : name;
}

void messageBox(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(caption.isEmpty() ? applicationTitle() : caption);
    box.setText(text);
    switch (icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Stop:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
}

WaitCursor::WaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor() {
    QApplication::restoreOverrideCursor();
}

namespace {

int alphabetWidth(const QFont& font) {
    return QFontMetrics(font).horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
}

} // namespace

int averageCharWidth(const QFont& font) {
    // The average over the alphabet, rounded as it has always been measured.
    return (alphabetWidth(font) / 26 + 1) / 2;
}

QRect dialogUnitsToPixels(const QFont& font, int x, int y, int w, int h) {
    // The unrounded average: rounded to whole pixels it makes windows up to a
    // tenth narrower than their texts at the usual font sizes.
    const double cx = alphabetWidth(font) / 52.0;
    const int cy = QFontMetrics(font).height();
    auto hx = [cx](int v) { return int(std::lround(v * cx / 4)); };
    auto vy = [cy](int v) { return (v * cy + 4) / 8; };
    return QRect(hx(x), vy(y), hx(x + w) - hx(x), vy(y + h) - vy(y));
}

QRect dialogUnitsToPixels(const QFont& font, const QRect& dlu) {
    return dialogUnitsToPixels(font, dlu.x(), dlu.y(), dlu.width(), dlu.height());
}

namespace {

// "Description (*.ext)|*.ext|..." becomes Qt's "Description (*.ext);;...".
QString qtFilter(const QString& filter) {
    if (!filter.contains(QLatin1Char('|')))
        return filter;
    const QStringList parts = filter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i];
        if (!label.contains(QLatin1Char('(')))
            label += QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
        out << label;
    }
    return out.join(QStringLiteral(";;"));
}

QString run(QWidget* parent, const QString& title, const FileDialogOptions& o, bool save) {
    QFileDialog dialog(parent, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setObjectName(QStringLiteral("FileDialog"));
    if (o.directory) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
    } else if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !o.overwritePrompt);
    } else {
        dialog.setFileMode(o.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    }
    if (!o.defaultExtension.isEmpty())
        dialog.setDefaultSuffix(o.defaultExtension);
    if (!o.filter.isEmpty())
        dialog.setNameFilter(qtFilter(o.filter));
    if (!o.initialName.isEmpty()) {
        const QFileInfo info(o.initialName);
        if (info.isDir()) {
            dialog.setDirectory(info.absoluteFilePath());
        } else {
            if (info.absoluteDir().exists())
                dialog.setDirectory(info.absolutePath());
            dialog.selectFile(info.fileName());
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

QString fileOpenDialog(QWidget* parent, const QString& title, const FileDialogOptions& options) {
    return run(parent, title, options, false);
}

QString fileSaveDialog(QWidget* parent, const QString& title, const FileDialogOptions& options) {
    return run(parent, title, options, true);
}
