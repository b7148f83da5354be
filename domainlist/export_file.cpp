#include "domainlist/export_file.h"

#include "domainlist/csv_file.h"
#include "domainlist/domain_list_model.h"
#include "domainlist/export_sink.h"
#include "domainlist/xlsx_file.h"
#include "platform/codepage.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r';
}

} // namespace

bool needsQuotedExportLine(const ExportCells &cells)
{
    for (int i = 0; i < kExportLineCells; ++i) {
        const QStringView cell = cells[size_t(i)];
        // A hyphen at the end of a cell runs into the separator after it, and the reader's leftmost "----" would
        // start inside the cell.
        if (cell.contains(u"----") || (i < kExportLineCells - 1 && cell.endsWith(u'-')))
            return true;
    }
    return cells[0].startsWith(u'"');
}

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
        QStringLiteral("查询状态"), QStringLiteral("说明"), QStringLiteral("变化") };
    return captions;
}

ExportCells exportTextCells(const DomainListModel &model, int row)
{
    const DomainListModel::Row &r = model.row(row);
    // The note through the list: a row a stopped run never reached has no cells, yet its note says so.
    if (!r.lookup)
        return { r.domain, {}, {}, {}, {}, {}, model.note(row), {} };
    const LookupCells &cells = *r.lookup;
    return { r.domain, cells.record.recordNo, cells.record.holder, cells.record.recordType, cells.record.siteName,
        cells.status, model.note(row), cells.change };
}

ExportBlockBuilder::ExportBlockBuilder(qint64 expectedUnits)
    : m_expectedUnits(expectedUnits)
{
    m_piece.reserve(kEncodePieceUnits + 1024);
}

void ExportBlockBuilder::addRow(const ExportCells &cells)
{
    const QStringView separator = u"----";
    const bool quoted = needsQuotedExportLine(cells);
    for (int i = 0; i < kExportLineCells; ++i) {
        if (i > 0)
            m_piece.append(separator);
        const QStringView cell = cells[size_t(i)];
        if (!quoted && std::none_of(cell.begin(), cell.end(), isLineBreak)) {
            m_piece.append(cell);
            continue;
        }
        if (quoted)
            m_piece.append(u'"');
        // A row is one line: a cell the site's markup wrapped over lines reads as one, its breaks as one space.
        for (qsizetype at = 0; at < cell.size(); ++at) {
            const QChar c = cell[at];
            if (isLineBreak(c)) {
                while (at + 1 < cell.size() && isLineBreak(cell[at + 1]))
                    ++at;
                m_piece.append(u' ');
                continue;
            }
            if (quoted && c == u'"')
                m_piece.append(u'"');
            m_piece.append(c);
        }
        if (quoted)
            m_piece.append(u'"');
    }
    m_piece.append(u"\r\n");
    ++m_rows;
    if (m_piece.size() >= kEncodePieceUnits)
        encodePiece();
}

void ExportBlockBuilder::encodePiece()
{
    const QByteArray bytes = codepage::toNarrow(m_piece);
    if (m_block.isEmpty() && m_expectedUnits > 0 && !m_piece.isEmpty()) {
        // Sizing the block once saves copying it over and over as it grows. The bytes a unit takes come from the
        // first piece, the units from the whole list: one long first row says nothing about how many rows follow.
        const qint64 estimate = m_expectedUnits * bytes.size() / m_piece.size();
        m_block.reserve(qsizetype(estimate + estimate / 8 + 1024));
    }
    m_block.append(bytes);
    m_piece.clear();
}

QByteArray ExportBlockBuilder::finish()
{
    m_piece.append(u"\r\n共:").append(QString::number(m_rows)).append(u"个域名\r\n");
    m_block.append(codepage::toNarrow(m_piece));
    m_piece.clear();
    m_rows = 0;
    return std::exchange(m_block, {});
}

QByteArray buildExportBlock(const DomainListModel &model, const std::vector<int> &rows)
{
    ExportBlockBuilder builder(rowLineUnits(model, rows));
    for (const int i : rows)
        builder.addRow(exportTextCells(model, i));
    return builder.finish();
}

ExportResult appendExportBlock(const QString &path, const QByteArray &block)
{
    const QFileInfo info(path);
    if (info.isDir())
        return exportFailed(path, FileFailure::Open, QString::fromLocal8Bit(std::strerror(EISDIR)));
    // A device or pipe has no end to append at; asking for one only makes Qt complain.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (!info.exists() || info.isFile())
        mode |= QIODevice::Append;
    QFile file(path);
    if (!file.open(mode))
        return exportFailed(path, FileFailure::Open, file.errorString());
    const qint64 sizeBefore = file.isSequential() ? -1 : file.size();
    if (!writeFully(file, block)) {
        const QString reason = file.errorString();
        // A half block would read as a list that ends early; the file goes back to what it was.
        if (sizeBefore >= 0 && file.size() != sizeBefore)
            file.resize(sizeBefore);
        return exportFailed(path, FileFailure::Write, reason);
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return exportFailed(path, FileFailure::Write, file.errorString());
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
