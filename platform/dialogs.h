#pragma once

#include "lookup/lookup_settings.h"

#include <QString>
#include <optional>

namespace quernfold {

// Message box styles and answers as the program's texts use them: buttons 0 = OK only, 4 = Yes and No;
// icon 64 = information; the first button is the default.
namespace MsgStyle {
constexpr int OkOnly = 0;
constexpr int YesNo = 4;
constexpr int Information = 64;
} // namespace MsgStyle
namespace MsgAnswer {
constexpr int Ok = 1;
constexpr int Cancel = 2;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace MsgAnswer

// One file dialog component: keeps its own remembered file name between uses within a run.
struct FileDialogSettings {
    QString title;
    // Filter in "label|pattern|label|pattern|" form; the first entry is selected when the dialog opens.
    QString filter;
    QString fileName;
};

// Every modal thing the program shows goes through here, so tests can script the answers.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // Returns one of MsgAnswer.
    virtual int messageBox(const QString &text, int style, const QString &title) = 0;
    // std::nullopt when the box was cancelled or closed; an empty string for an empty confirmed input.
    virtual std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText)
        = 0;
    // The chosen path, or std::nullopt on cancel. On success settings.fileName holds the chosen path.
    virtual std::optional<QString> openFile(FileDialogSettings &settings) = 0;
    virtual std::optional<QString> saveFile(FileDialogSettings &settings) = 0;
    // The 查询设置 dialog, opened on `form`. The fields as the user left them on OK; std::nullopt on Cancel.
    // Fields in form.fixedBy are shown with their variable and cannot be edited.
    virtual std::optional<SettingsForm> settingsDialog(const SettingsForm &form) = 0;
};

} // namespace quernfold
