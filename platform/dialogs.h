#pragma once

#include "lookup/lookup_settings.h"

#include <QString>
#include <optional>

namespace quernfold {

// What a message box offers. The first button is the default.
enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Information };

struct MessageStyle {
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;

    friend constexpr bool operator==(MessageStyle a, MessageStyle b)
    {
        return a.buttons == b.buttons && a.icon == b.icon;
    }
    friend constexpr bool operator!=(MessageStyle a, MessageStyle b) { return !(a == b); }
};

// `MessageButtons::YesNo | MessageIcon::Information` reads as the box it asks for.
constexpr MessageStyle operator|(MessageButtons buttons, MessageIcon icon)
{
    return { buttons, icon };
}

// The button that closed a message box.
enum class MessageAnswer { Ok, Yes, No };

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
    virtual MessageAnswer messageBox(const QString &text, MessageStyle style, const QString &title) = 0;
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
