#include "platform/qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGridLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTableWidget>
#include <QTranslator>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>

namespace quernfold {

int QtDialogs::titleWidth(const QString &title)
{
    // The window manager draws the title in its own font, mostly the desktop's title font, else the application's.
    const int textWidth = qMax(QFontMetrics(QApplication::font()).horizontalAdvance(title),
        QFontMetrics(QFontDatabase::systemFont(QFontDatabase::TitleFont)).horizontalAdvance(title));
    return textWidth + kTitleBarButtonsWidth;
}

std::unique_ptr<QMessageBox> QtDialogs::buildMessageBox(
    QWidget *parent, const QString &text, MessageStyle style, const QString &title, const QStringList &captions)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(title);
    box->setText(text);
    box->setTextFormat(Qt::PlainText);
    // Addresses and paths in a box can be copied out of it.
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setIcon(style.icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon);
    // A box sizes itself to its text; a short question under a longer title would have the title cut to "Tar…".
    // The box takes the layout's least width, so a spacer across it holds the box open wide enough.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout())) {
        grid->addItem(new QSpacerItem(titleWidth(title), 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
            0, 1, grid->columnCount());
    }
    QList<QMessageBox::StandardButton> buttons;
    switch (style.buttons) {
    case MessageButtons::YesNoCancel:
        buttons = { QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel };
        break;
    case MessageButtons::YesNo:
        buttons = { QMessageBox::Yes, QMessageBox::No };
        break;
    case MessageButtons::Ok:
        buttons = { QMessageBox::Ok };
        break;
    }
    QMessageBox::StandardButtons standard;
    for (const QMessageBox::StandardButton button : buttons)
        standard |= button;
    box->setStandardButtons(standard);
    for (qsizetype i = 0; i < buttons.size() && i < captions.size(); ++i) {
        if (!captions.at(i).isEmpty())
            box->button(buttons.at(i))->setText(captions.at(i));
    }
    box->setDefaultButton(buttons.first());
    if (style.buttons == MessageButtons::YesNoCancel)
        box->setEscapeButton(QMessageBox::Cancel);
    return box;
}

MessageAnswer QtDialogs::messageBox(
    const QString &text, MessageStyle style, const QString &title, const QStringList &captions)
{
    const std::unique_ptr<QMessageBox> box = buildMessageBox(m_parent, text, style, title, captions);
    const int clicked = box->exec();
    switch (style.buttons) {
    case MessageButtons::YesNoCancel:
        if (clicked == QMessageBox::Yes)
            return MessageAnswer::Yes;
        return clicked == QMessageBox::No ? MessageAnswer::No : MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return clicked == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

std::optional<QString> QtDialogs::inputBox(const QString &prompt, const QString &title, const QString &defaultText)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    if (auto *line = dialog.findChild<QLineEdit *>()) {
        // The dialog's layout decides its least size; the line's width holds it open for the title.
        line->setMinimumWidth(titleWidth(title));
        // The line keeps pasted lines (it shows their breaks as blanks), and the caller takes them one by one; it
        // must not cut a long paste in the middle of a domain.
        line->setMaxLength(std::numeric_limits<int>::max());
    }
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
        dialog.selectNameFilter(filters.value(settings.selectedFilter, filters.first()));
    if (!settings.fileName.isEmpty())
        dialog.selectFile(settings.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    settings.fileName = dialog.selectedFiles().first();
    settings.selectedFilter = std::max<int>(0, int(filters.indexOf(dialog.selectedNameFilter())));
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

std::optional<QList<FormField>> QtDialogs::formDialog(
    const QString &objectName, const QString &title, const QList<FormField> &fields)
{
    QDialog dialog(m_parent);
    dialog.setObjectName(objectName);
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *rows = new QFormLayout;
    layout->addLayout(rows);

    QList<std::function<QString()>> readers;
    for (const FormField &field : fields) {
        QWidget *editor = nullptr;
        if (field.check) {
            auto *box = new QCheckBox(&dialog);
            box->setChecked(field.text.trimmed() == u"1");
            readers << [box] { return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0"); };
            editor = box;
        } else if (field.min <= field.max) {
            // The form is checked again on OK; the spin box only makes a wrong value harder to type.
            auto *spin = new QSpinBox(&dialog);
            spin->setRange(field.min, field.max);
            spin->setValue(field.text.trimmed().toInt());
            readers << [spin] { return QString::number(spin->value()); };
            editor = spin;
        } else {
            auto *line = new QLineEdit(field.text, &dialog);
            line->setMinimumWidth(320);
            line->setPlaceholderText(field.placeholder);
            readers << [line] { return line->text(); };
            editor = line;
        }
        editor->setObjectName(field.name);
        editor->setAccessibleName(field.label);
        QString label = field.label;
        if (!field.fixedBy.isEmpty()) {
            editor->setEnabled(false);
            editor->setToolTip(QStringLiteral("由环境变量 %1 设定").arg(field.fixedBy));
            label += QStringLiteral("(由环境变量 %1 设定)").arg(field.fixedBy);
        }
        rows->addRow(label, editor);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    QList<FormField> answer = fields;
    for (qsizetype i = 0; i < answer.size(); ++i)
        answer[i].text = readers.at(i)();
    return answer;
}

void QtDialogs::showTable(
    const QString &objectName, const QString &title, const QStringList &headers, const QList<QStringList> &rows)
{
    QDialog dialog(m_parent);
    dialog.setObjectName(objectName);
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *table = new QTableWidget(int(rows.size()), int(headers.size()), &dialog);
    table->setObjectName(QStringLiteral("table"));
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->verticalHeader()->hide();
    for (int row = 0; row < int(rows.size()); ++row) {
        for (int column = 0; column < int(headers.size()); ++column)
            table->setItem(row, column, new QTableWidgetItem(rows[row].value(column)));
    }
    table->resizeColumnsToContents();
    layout->addWidget(table);
    // What is selected, or the whole table when nothing is, as lines of tab-separated cells.
    const auto copy = [table, &headers, &rows] {
        QStringList lines;
        const QList<QTableWidgetSelectionRange> ranges = table->selectedRanges();
        if (ranges.isEmpty()) {
            lines << headers.join(u'\t');
            for (const QStringList &row : rows)
                lines << row.join(u'\t');
        } else {
            for (int row = 0; row < table->rowCount(); ++row) {
                QStringList cells;
                for (int column = 0; column < table->columnCount(); ++column) {
                    if (table->item(row, column) && table->item(row, column)->isSelected())
                        cells << table->item(row, column)->text();
                }
                if (!cells.isEmpty())
                    lines << cells.join(u'\t');
            }
        }
        QGuiApplication::clipboard()->setText(lines.join(u'\n') + u'\n');
    };
    auto *copyShortcut = new QShortcut(QKeySequence::Copy, table);
    QObject::connect(copyShortcut, &QShortcut::activated, &dialog, copy);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QPushButton *copyButton = buttons->addButton(QStringLiteral("复制"), QDialogButtonBox::ActionRole);
    copyButton->setObjectName(QStringLiteral("copy"));
    QObject::connect(copyButton, &QPushButton::clicked, &dialog, copy);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(760, 320);
    dialog.exec();
}

void SystemClipboard::setText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

QString SystemClipboard::text() const
{
    return QGuiApplication::clipboard()->text();
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
