// 查询设置: the lookup settings, kept in the settings file; the environment still wins for one run.
#include "window/main_window.h"

namespace quernfold {

namespace {

QList<FormField> settingsFields(const SettingsForm &form)
{
    QList<FormField> fields;
    for (const Setting &setting : settingTable()) {
        FormField field;
        field.name = setting.variable;
        field.label = setting.label;
        field.text = form.text(setting.field);
        field.min = setting.min;
        field.max = setting.max;
        field.check = setting.isFlag();
        field.placeholder = setting.placeholder;
        field.fixedBy = form.fixedBy.value(setting.field);
        fields << field;
    }
    return fields;
}

SettingsForm typedForm(const QList<FormField> &fields, const SettingsForm &asked)
{
    SettingsForm typed = asked;
    for (const FormField &field : fields) {
        for (const Setting &setting : settingTable()) {
            if (setting.variable == field.name)
                typed.setText(setting.field, field.text);
        }
    }
    return typed;
}

} // namespace

void MainWindow::editQuerySettings()
{
    // A run reads its settings when it starts; changing them under it would mean different things to
    // different rows.
    if (isQuerying())
        return;
    SettingsForm form = formFor(m_config.settings);
    for (;;) {
        const std::optional<QList<FormField>> answer = m_platform.dialogs->formDialog(
            QStringLiteral("querySettingsDialog"), QStringLiteral("查询设置"), settingsFields(form));
        if (m_closing || !answer)
            return;
        const SettingsForm typed = typedForm(*answer, form);
        LookupSettings read;
        const QString problem = readForm(typed, &read);
        if (problem.isEmpty()) {
            const LookupSettings toSave = settingsToSave(m_config.settings, read);
            m_config.settings.saved = toSave;
            m_config.settings.effective = read;
            if (writeSettingsFile(m_config.settingsPath, toSave)) {
                setMessage(QStringLiteral("查询设置已保存.."));
            } else {
                // Still in effect for this run; the user should know it will not be there next time.
                m_platform.dialogs->messageBox(
                    QStringLiteral("查询设置无法写入%1,仅在本次运行中有效..").arg(m_config.settingsPath),
                    MessageButtons::Ok | MessageIcon::Information, QStringLiteral("提示"));
            }
            return;
        }
        m_platform.dialogs->messageBox(problem, MessageButtons::Ok | MessageIcon::Information, QStringLiteral("提示"));
        if (m_closing)
            return;
        // Back to the dialog with what the user typed, so only the bad field needs fixing.
        form = typed;
    }
}

} // namespace quernfold
