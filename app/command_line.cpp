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

QStringList withoutQtOptions(const QStringList &arguments)
{
    // QGuiApplication's and QApplication's documented options, with whether a value follows.
    static const QList<QPair<QString, bool>> qtOptions = {
        { QStringLiteral("platform"), true },
        { QStringLiteral("platformpluginpath"), true },
        { QStringLiteral("platformtheme"), true },
        { QStringLiteral("plugin"), true },
        { QStringLiteral("qwindowgeometry"), true },
        { QStringLiteral("qwindowicon"), true },
        { QStringLiteral("qwindowtitle"), true },
        { QStringLiteral("reverse"), false },
        { QStringLiteral("session"), true },
        { QStringLiteral("display"), true },
        { QStringLiteral("geometry"), true },
        { QStringLiteral("style"), true },
        { QStringLiteral("stylesheet"), true },
        { QStringLiteral("widgetcount"), false },
        { QStringLiteral("nograb"), false },
        { QStringLiteral("dograb"), false },
    };
    QStringList left = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        // "--" ends the options: whatever follows is a file, whatever it looks like.
        if (argument == QStringLiteral("--")) {
            left += arguments.mid(i);
            break;
        }
        // Qt reads "-name" and "--name" alike, and "-name=value" for the ones that take a value.
        QString name = argument;
        if (name.startsWith(QStringLiteral("--")))
            name.remove(0, 1);
        bool taken = false;
        if (name.startsWith(u'-')) {
            name.remove(0, 1);
            const qsizetype equals = name.indexOf(u'=');
            const QString bare = equals < 0 ? name : name.left(equals);
            for (const auto &[option, takesValue] : qtOptions) {
                if (bare != option)
                    continue;
                taken = true;
                if (takesValue && equals < 0)
                    ++i; // the value is the next argument
                break;
            }
        }
        if (!taken)
            left << argument;
    }
    return left;
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
