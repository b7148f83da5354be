#include "app/command_line.h"

#include <QCommandLineParser>
#include <cstdio>

namespace quernfold {

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Looks up the ICP filing records of a list of domain names."));
    // Our own help and version options: the parser's stock ones add --help-all, which would need Qt's
    // option list and with it a running application.
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(
        { QStringLiteral("v"), QStringLiteral("version") }, QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(QStringLiteral("FILE"),
        QStringLiteral("Text file of domain names, one a line, imported at start as the import button does."),
        QStringLiteral("[FILE]"));

    const bool parsed = parser.parse(arguments);
    const QString program = arguments.value(0, QStringLiteral("quernfold"));
    // Without a running application the parser cannot know the program's name.
    const QString helpText = parser.helpText().replace(QStringLiteral("<executable_name>"), program);

    CommandLine result;
    if (parser.isSet(help)) {
        result.action = CommandLine::ShowHelp;
        result.text = helpText;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::ShowVersion;
        result.text = QStringLiteral("quernfold %1\n").arg(QStringLiteral(QUERNFOLD_VERSION));
        return result;
    }
    const QStringList files = parser.positionalArguments();
    QString error;
    if (!parsed)
        error = parser.errorText();
    else if (files.size() > 1)
        error = QStringLiteral("Only one FILE can be imported, not %1.").arg(files.size());
    if (!error.isEmpty()) {
        result.action = CommandLine::Refuse;
        result.text = error + QStringLiteral("\n\n") + helpText;
        return result;
    }
    result.listFile = files.value(0);
    return result;
}

int finishCommandLine(const CommandLine &commandLine)
{
    const QByteArray text = commandLine.text.toLocal8Bit();
    switch (commandLine.action) {
    case CommandLine::ShowHelp:
    case CommandLine::ShowVersion:
        std::fputs(text.constData(), stdout);
        return 0;
    case CommandLine::Refuse:
        std::fputs(text.constData(), stderr);
        return 2;
    case CommandLine::Run:
        break;
    }
    return 0;
}

} // namespace quernfold
