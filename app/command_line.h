#pragma once

#include <QString>
#include <QStringList>

namespace quernfold {

// What the program was asked for on its command line.
struct CommandLine {
    enum Action {
        Run, // open the window
        ShowHelp, // print text to stdout, exit 0
        ShowVersion, // print text to stdout, exit 0
        Refuse, // print text (the error and the help) to stderr, exit 2
    };
    Action action = Run;
    // A list file to import at start, as the import button would after its dialog; empty for none.
    QString listFile;
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
