#include "domainlist/export_file.h"

#include "domainlist/csv_file.h"
#include "domainlist/domain_list_model.h"
#include "domainlist/export_sink.h"
#include "domainlist/xlsx_file.h"
#include "platform/codepage.h"

#include <QFile>
#include <QFileInfo>

namespace quernfold {

namespace {

// Text is turned into bytes a piece at a time so a long list never needs the whole block twice over.
// Pieces end after a row's CR LF, never inside a character.
constexpr qsizetype kEncodePieceUnits = 32 * 1024;

// The row's four record values; empty for a row no lookup has written.
const FilingRecord &recordOf(const DomainListModel::Row &row)
{
    static const FilingRecord neverQueried;
    return row.lookup ? row.lookup->record : neverQueried;
}

// UTF-16 units of the row lines: counting costs a walk over the sizes, no copying.
qint64 rowLineUnits(const DomainListModel &model, const std::vector<int> &rows)
{
    constexpr qint64 kFixedUnits = 4 * 4 + 2; // four separators and CR LF
    qint64 units = 0;
    for (const int i : rows) {
        const DomainListModel::Row &row = model.row(i);
        const FilingRecord &record = recordOf(row);
        units += kFixedUnits + row.domain.size() + record.recordNo.size() + record.holder.size()
            + record.recordType.size() + record.siteName.size();
    }
    return units;
}

} // namespace

ExportFormat exportFormatFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0)
        return ExportFormat::Csv;
    if (suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0)
        return ExportFormat::Xlsx;
    return ExportFormat::TextBlock;
}

const std::array<QString, kExportColumnCount> &exportCaptions()
{
    static const std::array<QString, kExportColumnCount> captions = { QStringLiteral("ID"), QStringLiteral("域名"),
        QStringLiteral("备案号"), QStringLiteral("备案人"), QStringLiteral("备案类型"), QStringLiteral("网站名称"),
        QStringLiteral("查询状态"), QStringLiteral("说明") };
    return captions;
}

std::array<QStringView, kExportColumnCount - 1> exportTextCells(const DomainListModel &model, int row)
{
    const DomainListModel::Row &r = model.row(row);
    if (!r.lookup)
        return { r.domain, {}, {}, {}, {}, {}, {} };
    const LookupCells &cells = *r.lookup;
    return { r.domain, cells.record.recordNo, cells.record.holder, cells.record.recordType, cells.record.siteName,
        cells.status, cells.note };
}

QByteArray buildExportBlock(const DomainListModel &model, const std::vector<int> &rows)
{
    const QString separator = QStringLiteral("----");
    const QString lineEnd = QStringLiteral("\r\n");
    QByteArray block;
    QString piece;
    piece.reserve(kEncodePieceUnits + 1024);
    const qint64 allUnits = rowLineUnits(model, rows);
    for (const int i : rows) {
        const DomainListModel::Row &row = model.row(i);
        const FilingRecord &record = recordOf(row);
        piece.append(row.domain)
            .append(separator)
            .append(record.recordNo)
            .append(separator)
            .append(record.holder)
            .append(separator)
            .append(record.recordType)
            .append(separator)
            .append(record.siteName)
            .append(lineEnd);
        if (piece.size() >= kEncodePieceUnits) {
            const QByteArray bytes = codepage::toNarrow(piece);
            if (block.isEmpty()) {
                // Sizing the block once saves copying it over and over as it grows. The bytes a unit takes come
                // from the first piece, the units from the whole list: one long first row says nothing about
                // how many rows follow.
                const qint64 estimate = allUnits * bytes.size() / piece.size();
                block.reserve(qsizetype(estimate + estimate / 8 + 1024));
            }
            block.append(bytes);
            piece.clear();
        }
    }
    piece.append(lineEnd)
        .append(QStringLiteral("共:"))
        .append(QString::number(rows.size()))
        .append(QStringLiteral("个域名"))
        .append(lineEnd);
    block.append(codepage::toNarrow(piece));
    return block;
}

ExportResult appendExportBlock(const QString &path, const QByteArray &block)
{
    const QFileInfo info(path);
    if (info.isDir())
        return { false, exportOpenFailedMessage(path) };
    // A device or pipe has no end to append at; asking for one only makes Qt complain.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (!info.exists() || info.isFile())
        mode |= QIODevice::Append;
    QFile file(path);
    if (!file.open(mode))
        return { false, exportOpenFailedMessage(path) };
    const qint64 sizeBefore = file.isSequential() ? -1 : file.size();
    const qint64 written = file.write(block);
    if (written != block.size()) {
        // A half block would read as a list that ends early; the file goes back to what it was.
        if (sizeBefore >= 0 && file.size() != sizeBefore)
            file.resize(sizeBefore);
        return { false, exportWriteFailedMessage(path) };
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return { false, exportWriteFailedMessage(path) };
    return { true, {} };
}

ExportResult writeExport(
    const QString &path, const DomainListModel &model, const std::vector<int> &rows, const ExportControl &control)
{
    switch (exportFormatFor(path)) {
    case ExportFormat::Csv:
        return writeCsvExport(path, model, rows, control);
    case ExportFormat::Xlsx:
        return writeXlsxExport(path, model, rows, control);
    case ExportFormat::TextBlock:
        break;
    }
    ExportTicker ticker(control, qint64(rows.size()));
    const QByteArray block = buildExportBlock(model, rows);
    // The block is built in one go; the last moment to call it off without touching the file is now.
    if (!ticker.step(0))
        return { false, {}, true };
    ExportResult result = appendExportBlock(path, block);
    if (result.ok)
        ticker.finish();
    return result;
}

} // namespace quernfold
