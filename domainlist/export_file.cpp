#include "domainlist/export_file.h"

#include "domainlist/domain_list_model.h"
#include "platform/codepage.h"

#include <QFile>
#include <QFileInfo>

namespace quernfold {

namespace {

// Text is turned into bytes a piece at a time so a long list never needs the whole block twice over.
// Pieces end after a row's CR LF, never inside a character.
constexpr qsizetype kEncodePieceUnits = 32 * 1024;

QString openFailedMessage(const QString &path)
{
    return QStringLiteral("无法打开文件:") + path + QStringLiteral("..");
}

QString writeFailedMessage(const QString &path)
{
    return QStringLiteral("写入文件失败:") + path + QStringLiteral("..");
}

// The row's four record values; empty for a row no lookup has written.
const FilingRecord &recordOf(const DomainListModel::Row &row)
{
    static const FilingRecord neverQueried;
    return row.lookup ? row.lookup->record : neverQueried;
}

// UTF-16 units of the row lines: counting costs a walk over the sizes, no copying.
qint64 rowLineUnits(const DomainListModel &model)
{
    constexpr qint64 kFixedUnits = 4 * 4 + 2; // four separators and CR LF
    qint64 units = 0;
    for (int i = 0; i < model.count(); ++i) {
        const DomainListModel::Row &row = model.row(i);
        const FilingRecord &record = recordOf(row);
        units += kFixedUnits + row.domain.size() + record.recordNo.size() + record.holder.size()
            + record.recordType.size() + record.siteName.size();
    }
    return units;
}

} // namespace

QByteArray buildExportBlock(const DomainListModel &model)
{
    const QString separator = QStringLiteral("----");
    const QString lineEnd = QStringLiteral("\r\n");
    QByteArray block;
    QString piece;
    piece.reserve(kEncodePieceUnits + 1024);
    const qint64 allUnits = rowLineUnits(model);
    for (int i = 0; i < model.count(); ++i) {
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
        .append(QString::number(model.count()))
        .append(QStringLiteral("个域名"))
        .append(lineEnd);
    block.append(codepage::toNarrow(piece));
    return block;
}

ExportResult appendExportBlock(const QString &path, const QByteArray &block)
{
    const QFileInfo info(path);
    if (info.isDir())
        return { false, openFailedMessage(path) };
    // A device or pipe has no end to append at; asking for one only makes Qt complain.
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (!info.exists() || info.isFile())
        mode |= QIODevice::Append;
    QFile file(path);
    if (!file.open(mode))
        return { false, openFailedMessage(path) };
    const qint64 sizeBefore = file.isSequential() ? -1 : file.size();
    const qint64 written = file.write(block);
    if (written != block.size()) {
        // A half block would read as a list that ends early; the file goes back to what it was.
        if (sizeBefore >= 0 && file.size() != sizeBefore)
            file.resize(sizeBefore);
        return { false, writeFailedMessage(path) };
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return { false, writeFailedMessage(path) };
    return { true, {} };
}

} // namespace quernfold
