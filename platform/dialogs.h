#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace quernfold {

// What a message box offers. The first button is the default.
enum class MessageButtons { Ok, YesNo, YesNoCancel };
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

// The button that closed a message box. Closing a box that has Cancel answers Cancel.
enum class MessageAnswer { Ok, Yes, No, Cancel };

// One file dialog component: keeps its own remembered file name between uses within a run.
struct FileDialogSettings {
    QString title;
    // Filter in "label|pattern|label|pattern|" form.
    QString filter;
    QString fileName;
    // The filter entry (counted from 0) selected when the dialog opens; on success, the one selected when it
    // closed. Kept between uses like the file name.
    int selectedFilter = 0;
};

// One field of a form dialog.
struct FormField {
    QString name; // the editor's objectName
    QString label;
    QString text; // shown when the dialog opens; on OK, what the user left there
    // A whole number between min and max when min <= max; free text otherwise.
    int min = 0;
    int max = -1;
    // A yes/no box instead: its text is "1" when ticked, "0" when not.
    bool check = false;
    QString placeholder; // shown in an empty text field
    // The environment variable that fixes the field for this run: shown with it, not editable. Empty for none.
    QString fixedBy;
};

// Every modal thing the program shows goes through here, so tests can script the answers.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    // `captions`: the buttons' own captions, in the order of the buttons (Yes, No, Cancel; or Ok), where the
    // standard one would be vague about what the answer does; a missing or empty caption keeps the standard one.
    virtual MessageAnswer messageBox(
        const QString &text, MessageStyle style, const QString &title, const QStringList &captions = {})
        = 0;
    // std::nullopt when the box was cancelled or closed; an empty string for an empty confirmed input.
    virtual std::optional<QString> inputBox(const QString &prompt, const QString &title, const QString &defaultText)
        = 0;
    // The chosen path, or std::nullopt on cancel. On success settings.fileName holds the chosen path.
    virtual std::optional<QString> openFile(FileDialogSettings &settings) = 0;
    virtual std::optional<QString> saveFile(FileDialogSettings &settings) = 0;
    // A modal form of fields with OK and Cancel, such as 查询设置. The fields as the user left them on OK;
    // std::nullopt on Cancel. `objectName` names the dialog for tests and automation.
    virtual std::optional<QList<FormField>> formDialog(
        const QString &objectName, const QString &title, const QList<FormField> &fields)
        = 0;
    // A modal read-only table with a close button, its cells selectable and copyable (Ctrl+A, Ctrl+C, or the copy
    // button: tab-separated lines). `objectName` names the dialog for tests and automation.
    virtual void showTable(const QString & /*objectName*/, const QString & /*title*/, const QStringList & /*headers*/,
        const QList<QStringList> & /*rows*/)
    { }
};

} // namespace quernfold
