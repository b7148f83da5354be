#pragma once

#include "domainlist/export_file.h"
#include "domainlist/export_sink.h"

#include <QString>
#include <QStringView>

#include <array>

namespace quernfold {

// The keys of a JSON Lines record, in the order of our CSV's columns up to 说明: "id" (a number), then "domain",
// "record_no", "holder", "record_type", "site_name", "status" and "note" (strings, empty when the row has none).
const std::array<QString, kExportColumnsWithoutChange> &jsonLinesKeys();

// A JSON string: in quotes, with quote, backslash and control characters escaped; everything else as it is.
void appendJsonString(QString &out, QStringView text);

// The rows as JSON Lines, one object a line (LF), for tools such as jq; no header.
class JsonLinesWriter : public TextRowWriter
{
public:
    using TextRowWriter::TextRowWriter;
    bool writeRow(qint64 id, const ExportCells &cells) override;
};

} // namespace quernfold
