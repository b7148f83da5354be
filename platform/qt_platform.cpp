#include "platform/qt_platform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

namespace quernfold {

int QtDialogs::messageBox(const QString &text, int style, const QString &title)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    // Addresses and paths in a box can be copied out of it.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.setIcon((style & MsgStyle::Information) ? QMessageBox::Information : QMessageBox::NoIcon);
    if ((style & 0xF) == MsgStyle::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        const int clicked = box.exec();
        return clicked == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return MsgAnswer::Ok;
}

std::optional<QString> QtDialogs::inputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

QStringList QtDialogs::nameFilters(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString &label = parts.at(i);
        const QString pattern = parts.at(i + 1);
        if (label.isEmpty() || pattern.isEmpty())
            continue;
        // Qt reads the patterns from the last parentheses; a label that already ends in them stays as shown.
        const QString patterns = QString(pattern).replace(u';', u' ');
        if (label.endsWith(u'(' + patterns + u')'))
            filters << label;
        else
            filters << label + QStringLiteral(" (") + patterns + u')';
    }
    return filters;
}

std::optional<QString> QtDialogs::runFileDialog(FileDialogSettings &settings, bool save)
{
    QFileDialog dialog(m_parent, settings.title);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // The typed name need not exist, nothing asks before an existing file (an export appends) and no
    // extension is added to a typed name.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QStringList filters = nameFilters(settings.filter);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.first());
    if (!settings.fileName.isEmpty())
        dialog.selectFile(settings.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    settings.fileName = dialog.selectedFiles().first();
    return settings.fileName;
}

std::optional<QString> QtDialogs::openFile(FileDialogSettings &settings)
{
    return runFileDialog(settings, false);
}

std::optional<QString> QtDialogs::saveFile(FileDialogSettings &settings)
{
    return runFileDialog(settings, true);
}

bool DesktopBrowser::openUrl(const QUrl &url)
{
    // Hands the address to the desktop's opener, which is started detached: we never wait for the browser.
    return QDesktopServices::openUrl(url);
}

bool StyleSheetSkin::attach(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A skin is a few kilobytes; anything much larger is not one of ours.
    constexpr qint64 kMaxSkinBytes = 1 << 20;
    const QByteArray bytes = file.read(kMaxSkinBytes + 1);
    if (bytes.isEmpty() || bytes.size() > kMaxSkinBytes)
        return false;
    qApp->setStyleSheet(QString::fromUtf8(bytes));
    return true;
}

bool installChineseTranslations(QApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace quernfold
