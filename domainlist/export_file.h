#pragma once

#include <QByteArray>
#include <QString>

namespace quernfold {

class DomainListModel;

// The block one export appends, in the narrow code page: a line per row in list order with domain, record
// number, holder, type and site name joined by "----", then an empty line and the total line "共:N个域名".
// Every line ends in CR LF. The window refuses an empty list before it gets here.
QByteArray buildExportBlock(const DomainListModel &model);

struct ExportResult {
    bool ok = false;
    // Our own message for the panel when the file could not be opened or written; empty on success.
    QString error;
};

// Appends the block to the file in one write, creating the file if needed. What the file held before is
// never touched; a block that went out only in part is taken back.
ExportResult appendExportBlock(const QString &path, const QByteArray &block);

} // namespace quernfold
