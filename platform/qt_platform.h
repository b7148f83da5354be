#pragma once

#include "platform/browser.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/skin.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QApplication;
class QMessageBox;

namespace quernfold {

// The real modal boxes and dialogs, on Qt widgets.
class QtDialogs : public Dialogs
{
public:
    void setParentWidget(QWidget *parent) { m_parent = parent; }

    MessageAnswer messageBox(
        const QString &text, MessageStyle style, const QString &title, const QStringList &captions = {}) override;
    std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText) override;
    std::optional<QString> openFile(FileDialogSettings &settings) override;
    std::optional<QString> saveFile(FileDialogSettings &settings) override;
    std::optional<QList<FormField>> formDialog(
        const QString &objectName, const QString &title, const QList<FormField> &fields) override;
    void showTable(const QString &objectName, const QString &title, const QStringList &headers,
        const QList<QStringList> &rows) override;

    // "label|pattern|label|pattern|" to Qt's name filters, in order.
    static QStringList nameFilters(const QString &filter);

    // What a title bar needs beside its text: the window icon and the minimise, maximise and close buttons, with
    // their margins, at the sizes common window managers draw them.
    static constexpr int kTitleBarButtonsWidth = 140;
    // The least width of a box or dialog whose title bar shows `title` whole.
    static int titleWidth(const QString &title);
    // The box messageBox() shows, built and not yet shown.
    static std::unique_ptr<QMessageBox> buildMessageBox(
        QWidget *parent, const QString &text, MessageStyle style, const QString &title, const QStringList &captions);

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
    QString text() const override;
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
