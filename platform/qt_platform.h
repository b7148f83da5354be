#pragma once

#include "platform/browser.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/skin.h"

#include <QPointer>
#include <QWidget>

class QApplication;

namespace quernfold {

// The real modal boxes and dialogs, on Qt widgets.
class QtDialogs : public Dialogs
{
public:
    void setParentWidget(QWidget *parent) { m_parent = parent; }

    MessageAnswer messageBox(const QString &text, MessageStyle style, const QString &title) override;
    std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    std::optional<QString> openFile(FileDialogSettings &settings) override;
    std::optional<QString> saveFile(FileDialogSettings &settings) override;
    std::optional<QList<FormField>> formDialog(
        const QString &objectName, const QString &title, const QList<FormField> &fields) override;

    // "label|pattern|label|pattern|" to Qt's name filters, in order.
    static QStringList nameFilters(const QString &filter);

private:
    std::optional<QString> runFileDialog(FileDialogSettings &settings, bool save);
    QPointer<QWidget> m_parent;
};

class DesktopBrowser : public Browser
{
public:
    bool openUrl(const QUrl &url) override;
};

class SystemClipboard : public Clipboard
{
public:
    void setText(const QString &text) override;
};

// Our skin format is a Qt style sheet, applied to the whole application.
class StyleSheetSkin : public Skin
{
public:
    bool attach(const QString &path) override;
};

// Standard buttons of boxes and dialogs read in Chinese, from Qt's own translation. Returns whether it loaded.
bool installChineseTranslations(QApplication &app);

} // namespace quernfold
