#pragma once

#include "lookup/lookup_settings.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace quernfold {

// A lookup of a list without a window (--query), as the command line asks for it. Every value has been checked.
struct QueryRequest {
    enum class Format { Csv, JsonLines };

    QString list; // a file the import reads, or "-" for standard input
    QString output; // empty: standard output
    Format format = Format::Csv; // of standard output
    bool quiet = false; // only errors on standard error
    // Only rows whose lookup made a new version of the domain's result are written; every row is still looked up.
    bool changesOnly = false;
    // Settings given for this run, over the file's and the environment's (readOptionValue reads each).
    QMap<SettingField, QString> settings;
};

// What the program was asked for on its command line.
struct CommandLine {
    enum Action {
        Run, // open the window
        Query, // look up a list without a window
        ShowHelp, // print text to stdout, exit 0
        ShowVersion, // print text to stdout, exit 0
        Refuse, // print text (the error and the help) to stderr, exit 2
    };
    Action action = Run;
    // A list file to import at start, as the import button would after its dialog; empty for none.
    QString listFile;
    QueryRequest query;
    QString text;
};

// Reads the arguments (the program's name first). Qt's own options (-platform, -style, ...) count as
// unknown here: call it with what QApplication has left over, or with withoutQtOptions().
CommandLine parseCommandLine(const QStringList &arguments);

// The arguments without the options Qt's GUI takes for itself (-platform offscreen, -style fusion, --reverse,
// ...), so ours can be read before there is an application, and with it a display, to take them.
QStringList withoutQtOptions(const QStringList &arguments);

// Prints what a non-Run outcome has to say and returns the exit status for it.
int finishCommandLine(const CommandLine &commandLine);

} // namespace quernfold
