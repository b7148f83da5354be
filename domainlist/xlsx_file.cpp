#include "domainlist/xlsx_file.h"

#include "domainlist/domain_list_model.h"
#include "domainlist/export_sink.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <algorithm>

namespace quernfold {

namespace {

// Wider than this and a column hides its neighbours; the filter's arrow and some air take two more.
constexpr int kMostColumnWidth = 60;
constexpr int kColumnPadding = 2;
constexpr qint64 kCopyPieceBytes = 1024 * 1024;
// The zip container needs its 64-bit form once a sheet's XML could pass 4 GB; older readers balk at that form,
// so it is only asked for when the text comes near.
constexpr qint64 kZip64FromUnits = qint64(1) << 30;

// Characters an East Asian font draws twice as wide as a Latin letter.
bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3)
        || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
        || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Display width in Latin letters, counted only as far as the widest column we would make.
int displayWidth(QStringView text)
{
    int width = 0;
    for (qsizetype i = 0; i < text.size() && width <= kMostColumnWidth; ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        width += isWide(c) ? 2 : 1;
    }
    return width;
}

// The first kXlsxMostCellCharacters characters; a pair of surrogates counts as one, and is never split.
QStringView fitCell(QStringView cell)
{
    if (cell.size() <= kXlsxMostCellCharacters)
        return cell;
    qsizetype units = 0;
    for (qsizetype characters = 0; characters < kXlsxMostCellCharacters && units < cell.size(); ++characters) {
        const bool pair = cell[units].isHighSurrogate() && units + 1 < cell.size() && cell[units + 1].isLowSurrogate();
        units += pair ? 2 : 1;
    }
    return cell.first(units);
}

// One workbook handle, freed however the writing ends.
struct Workbook {
    lxw_workbook *handle = nullptr;
    ~Workbook()
    {
        if (handle)
            lxw_workbook_free(handle);
    }
    lxw_error close()
    {
        const lxw_error error = workbook_close(handle);
        handle = nullptr; // closing frees it, whatever the outcome
        return error;
    }
};

class CellText
{
public:
    // NUL-terminated UTF-8 of the cell, valid until the next call.
    const char *utf8(QStringView cell)
    {
        cell = fitCell(cell);
        m_buffer.resize(m_encoder.requiredSpace(cell.size()) + 1);
        char *const end = m_encoder.appendToBuffer(m_buffer.data(), cell);
        *end = '\0';
        return m_buffer.constData();
    }

private:
    // Stateless: a broken surrogate at the end of one cell must not run into the next.
    QStringEncoder m_encoder { QStringEncoder::Utf8, QStringEncoder::Flag::Stateless };
    QByteArray m_buffer;
};

bool copyInto(QFile &from, ExportSink &sink)
{
    if (!from.open(QIODevice::ReadOnly))
        return false;
    for (;;) {
        const QByteArray piece = from.read(kCopyPieceBytes);
        if (piece.isEmpty())
            return from.error() == QFileDevice::NoError;
        if (!sink.write(piece))
            return false;
    }
}

} // namespace

ExportResult writeXlsxExport(const QString &path, const DomainListModel &model, const std::vector<int> &rows,
    const ExportControl &control, int rowsPerSheet)
{
    rowsPerSheet = std::max(rowsPerSheet, 1);
    const auto &captions = exportCaptions();

    // Constant-memory mode writes each row as it comes and cannot go back, so widths are settled first.
    int widths[kExportColumnCount] = {};
    qint64 textUnits = 0;
    for (int column = 0; column < kExportColumnCount; ++column)
        widths[column] = displayWidth(captions[size_t(column)]);
    int highestId = 0;
    for (const int row : rows) {
        highestId = std::max(highestId, row + 1);
        int column = 1;
        for (const QStringView cell : exportTextCells(model, row)) {
            widths[column] = std::max(widths[column], displayWidth(cell));
            textUnits += cell.size();
            ++column;
        }
    }
    widths[0] = std::max(widths[0], int(QString::number(highestId).size()));

    ExportSink sink(path);
    if (!sink.open())
        return sink.failed();
    // libxlsxwriter wants a file name of its own; the finished workbook is copied into place from there.
    QTemporaryFile workbookFile(QDir::tempPath() + QStringLiteral("/quernfold-XXXXXX.xlsx"));
    if (!workbookFile.open()) {
        sink.discard();
        return exportFailed(path, FileFailure::Write, workbookFile.errorString());
    }
    workbookFile.close();
    const QByteArray workbookName = QFile::encodeName(workbookFile.fileName());

    lxw_workbook_options options {};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = textUnits >= kZip64FromUnits ? LXW_TRUE : LXW_FALSE;
    Workbook workbook { workbook_new_opt(workbookName.constData(), &options) };
    if (!workbook.handle) {
        sink.discard();
        return exportFailed(path, FileFailure::Write, {});
    }
    lxw_format *bold = workbook_add_format(workbook.handle);
    format_set_bold(bold);

    ExportTicker ticker(control, qint64(rows.size()));
    CellText text;
    bool written = true;
    lxw_worksheet *sheet = nullptr;
    lxw_row_t sheetRow = 0;
    const size_t total = rows.size();
    for (size_t i = 0; i < std::max<size_t>(total, 1) && written; ++i) {
        if (i % size_t(rowsPerSheet) == 0) {
            sheet = workbook_add_worksheet(workbook.handle, nullptr);
            if (!sheet) {
                written = false;
                break;
            }
            const size_t sheetRows = std::min(total - i, size_t(rowsPerSheet));
            for (int column = 0; column < kExportColumnCount; ++column) {
                worksheet_set_column(sheet, lxw_col_t(column), lxw_col_t(column),
                    std::min(widths[column], kMostColumnWidth) + kColumnPadding, nullptr);
                written = written
                    && worksheet_write_string(sheet, 0, lxw_col_t(column), text.utf8(captions[size_t(column)]), bold)
                        == LXW_NO_ERROR;
            }
            worksheet_freeze_panes(sheet, 1, 0);
            written = written
                && worksheet_autofilter(sheet, 0, 0, lxw_row_t(sheetRows), lxw_col_t(kExportColumnCount - 1))
                    == LXW_NO_ERROR;
            sheetRow = 1;
        }
        if (total == 0)
            break;
        const int row = rows[i];
        written = written && worksheet_write_number(sheet, sheetRow, 0, double(row + 1), nullptr) == LXW_NO_ERROR;
        lxw_col_t column = 1;
        for (const QStringView cell : exportTextCells(model, row)) {
            // An empty cell is no cell: writing it would only make the file bigger.
            if (!cell.isEmpty())
                written = written
                    && worksheet_write_string(sheet, sheetRow, column, text.utf8(cell), nullptr) == LXW_NO_ERROR;
            ++column;
        }
        ++sheetRow;
        if (!ticker.step(qint64(i + 1))) {
            sink.discard();
            return { false, {}, true };
        }
    }
    if (!written) {
        sink.discard();
        return exportFailed(path, FileFailure::Write, {});
    }
    // Closing writes and zips the whole workbook: the long step, which cannot be called off halfway.
    const lxw_error closed = workbook.close();
    if (closed != LXW_NO_ERROR) {
        sink.discard();
        return exportFailed(path, FileFailure::Write, QString::fromUtf8(lxw_strerror(closed)));
    }
    if (control.cancelled && control.cancelled->load()) {
        sink.discard();
        return { false, {}, true };
    }
    QFile finished(workbookFile.fileName());
    if (!copyInto(finished, sink) || !sink.commit())
        return sink.error().isEmpty() ? exportFailed(path, FileFailure::Write, finished.errorString()) : sink.failed();
    ticker.finish();
    return { true, {} };
}

} // namespace quernfold
