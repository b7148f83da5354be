#pragma once

#include "app/command_line.h"
#include "domainlist/export_file.h"

#include <QString>

#include <memory>

namespace quernfold {

class DomainListModel;

// Where the rows of a run without a window go, a row at a time in list order: standard output (CSV or JSON Lines),
// or a file in the format of its extension, as the export writes it.
class ResultOutput
{
public:
    virtual ~ResultOutput() = default;

    // The row as the model has it now. False once the output has failed (error() says why).
    virtual bool writeRow(const DomainListModel &model, int row) = 0;
    // After a run of rows: a stream hands them on at once, so a reader sees each row as soon as it is out.
    virtual bool flush() { return true; }
    // After the last row: the file is put in place. Nothing is left half-written when it fails.
    virtual bool finish(const DomainListModel &model) = 0;
    // A workbook sizes its columns from every row, so the rows keep their cells until finish(); the other
    // formats are done with a row once it is written.
    virtual bool needsAllRows() const { return false; }
    // A row says what changed since the domain's earlier result (the 变化 column, JSON Lines' "change"), so it
    // waits for the history's comparison before it is written. The text block keeps its old columns.
    virtual bool showsChanges() const { return true; }
    // What went wrong, as a line for standard error.
    QString error() const { return m_error; }
    // The reader of standard output has gone (a pipe closed by `head`): nothing more can reach anyone.
    bool readerGone() const { return m_readerGone; }
    // Looks whether the reader has gone without writing: rows held back for their comparison would otherwise keep
    // the site asked after nobody reads any more.
    virtual bool readerLeft() { return false; }

protected:
    QString m_error;
    bool m_readerGone = false;
};

// "cannot open out.csv: No such file or directory": a file's failure as the command line says it.
QString fileFailureText(const QString &path, const FileFailure &failure);

// The output the request asks for, ready to take rows; null with `error` set when it cannot be opened, before any
// row is looked up.
std::unique_ptr<ResultOutput> openResultOutput(const QueryRequest &request, QString *error);

} // namespace quernfold
