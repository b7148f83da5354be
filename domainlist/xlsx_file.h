#pragma once

#include "domainlist/export_file.h"

#include <QString>

#include <vector>

namespace quernfold {

class DomainListModel;

// A sheet holds 1,048,576 rows, the header among them.
inline constexpr int kXlsxRowsPerSheet = 1'048'575;
// Excel keeps at most this many characters in a cell; a longer cell is cut there rather than failing the file.
inline constexpr qsizetype kXlsxMostCellCharacters = 32767;

// The rows as an Excel workbook: the eight columns of our CSV, the ID a number and every other cell text, a bold
// header row that stays in view and carries a filter, columns as wide as their text. Rows past a sheet's room go
// on to the next sheet, which has the header again. Written with libxlsxwriter in its constant-memory mode into
// a temporary file, then copied whole into place.
ExportResult writeXlsxExport(const QString &path, const DomainListModel &model, const std::vector<int> &rows,
    const ExportControl &control, int rowsPerSheet = kXlsxRowsPerSheet);

} // namespace quernfold
