#include "app/command_line.h"

#include <QCommandLineParser>
#include <cstdio>

namespace quernfold {

namespace {

// What a scheduler or a script acts on; the man page says the same.
const QString kQueryHelp = QStringLiteral(
    "\nWith --query, the list is looked up without a window (no display needed), with the query settings of the\n"
    "settings file and the environment, and the options above for this run. Results go to standard output as CSV\n"
    "(--format jsonl: one JSON object a line, keys id, domain, record_no, holder, record_type, site_name, status,\n"
    "note, change and previous), or to the --output file in the format of its extension, as the export does (.csv,\n"
    ".xlsx, .jsonl; any other name gets the text block appended). Every finished result is kept in the history;\n"
    "a row whose result differs from the domain's earlier one says what changed (--changes-only writes only those).\n"
    "Progress and errors go to standard error. The first interrupt (Ctrl-C, SIGTERM) stops as the stop button does\n"
    "and still writes every row; a second one aborts the rows in flight. When standard output is closed (| head),\n"
    "the run stops at once and ends without a word.\n"
    "\n"
    "Exit status with --query (when several apply, the first of 4, 141, 130, 143, 3, 1):\n"
    "  0    every row finished\n"
    "  1    some rows unfinished\n"
    "  2    a usage error or an unreadable list\n"
    "  3    the run gave up: the lookup site seems unreachable, or the proxy cannot be reached\n"
    "  4    the --output file could not be written\n"
    "  130  interrupted by SIGINT (every row still written), or a second interrupt\n"
    "  141  standard output was closed\n"
    "  143  stopped by SIGTERM (every row still written)\n");

QString valueNameOf(const Setting &setting)
{
    if (setting.field == SettingField::LookupBase)
        return QStringLiteral("URL");
    return setting.isNumber() ? QStringLiteral("N") : QStringLiteral("P");
}

QString optionHelpOf(const Setting &setting)
{
    if (setting.isFlag())
        return QStringLiteral("With --query: %1 for this run.").arg(setting.label);
    if (setting.isNumber())
        return QStringLiteral("With --query: %1 for this run, %2 to %3.")
            .arg(setting.label)
            .arg(setting.min)
            .arg(setting.max);
    return QStringLiteral("With --query: %1 for this run: %2.").arg(setting.label, setting.valueForm);
}

} // namespace

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
    const QCommandLineOption query(QStringLiteral("query"),
        QStringLiteral("Look up the domains of LIST (a file the import reads, or - for standard input) without a "
                       "window, and exit."),
        QStringLiteral("LIST"));
    const QCommandLineOption output(QStringLiteral("output"),
        QStringLiteral("With --query: write the results to FILE, in the format of its extension, instead of "
                       "standard output."),
        QStringLiteral("FILE"));
    const QCommandLineOption format(QStringLiteral("format"),
        QStringLiteral("With --query: csv (the default) or jsonl on standard output."), QStringLiteral("FORMAT"));
    const QCommandLineOption quiet(
        QStringLiteral("quiet"), QStringLiteral("With --query: print only errors on standard error."));
    const QCommandLineOption changesOnly(QStringLiteral("changes-only"),
        QStringLiteral("With --query: write only the rows whose result changed since the domain's earlier one "
                       "(every row is still looked up and kept)."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(query);
    parser.addOption(output);
    parser.addOption(format);
    parser.addOption(quiet);
    parser.addOption(changesOnly);
    QList<QPair<const Setting *, QCommandLineOption>> settingOptions;
    for (const Setting &setting : settingTable()) {
        // A yes/no setting is a bare option: given, it is yes.
        settingOptions.append({ &setting,
            setting.isFlag() ? QCommandLineOption(setting.option, optionHelpOf(setting))
                             : QCommandLineOption(setting.option, optionHelpOf(setting), valueNameOf(setting)) });
        parser.addOption(settingOptions.back().second);
    }
    const auto optionValue = [&parser](const Setting &setting, const QCommandLineOption &option) {
        return setting.isFlag() ? QStringLiteral("1") : parser.value(option);
    };
    parser.addPositionalArgument(QStringLiteral("FILE"),
        QStringLiteral("Text file of domain names, one a line, imported at start as the import button does."),
        QStringLiteral("[FILE]"));

    const bool parsed = parser.parse(arguments);
    const QString program = arguments.value(0, QStringLiteral("quernfold"));
    // Without a running application the parser cannot know the program's name.
    const QString helpText = parser.helpText().replace(QStringLiteral("<executable_name>"), program) + kQueryHelp;

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
    const bool querying = parsed && parser.isSet(query);
    QString error;
    if (!parsed) {
        error = parser.errorText();
    } else if (querying && !files.isEmpty()) {
        error = QStringLiteral("--query takes its list as its value; FILE is for the window.");
    } else if (files.size() > 1) {
        error = QStringLiteral("Only one FILE can be imported, not %1.").arg(files.size());
    } else if (!querying) {
        for (const QCommandLineOption *option : { &output, &format, &quiet, &changesOnly }) {
            if (parser.isSet(*option))
                error = QStringLiteral("--%1 is only for --query.").arg(option->names().constFirst());
        }
        for (const auto &[setting, option] : std::as_const(settingOptions)) {
            if (parser.isSet(option))
                error = QStringLiteral("--%1 is only for --query.").arg(setting->option);
        }
    } else {
        result.query.list = parser.value(query);
        result.query.output = parser.value(output);
        result.query.quiet = parser.isSet(quiet);
        result.query.changesOnly = parser.isSet(changesOnly);
        const QString formatName = parser.value(format);
        if (result.query.list.isEmpty())
            error = QStringLiteral("--query needs a list file, or - for standard input.");
        else if (parser.isSet(output) && result.query.output.isEmpty())
            error = QStringLiteral("--output needs a file name.");
        else if (parser.isSet(format) && parser.isSet(output))
            error = QStringLiteral("--format is for standard output; --output takes the format from its extension.");
        else if (parser.isSet(format) && formatName != QStringLiteral("csv") && formatName != QStringLiteral("jsonl"))
            error = QStringLiteral("--format: \"%1\" is neither csv nor jsonl.").arg(formatName);
        if (formatName == QStringLiteral("jsonl"))
            result.query.format = QueryRequest::Format::JsonLines;
        for (const auto &[setting, option] : std::as_const(settingOptions)) {
            if (!error.isEmpty() || !parser.isSet(option))
                continue;
            // Read here, so a bad value is refused before the list is read or anything is asked.
            LookupSettings scratch;
            const QString value = optionValue(*setting, option);
            const QString problem = readOptionValue(*setting, value, scratch);
            if (problem.isEmpty())
                result.query.settings.insert(setting->field, value);
            else
                error = QStringLiteral("--%1: %2.").arg(setting->option, problem);
        }
    }
    if (!error.isEmpty()) {
        result.action = CommandLine::Refuse;
        result.text = error + QStringLiteral("\n\n") + helpText;
        return result;
    }
    if (querying) {
        result.action = CommandLine::Query;
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
    case CommandLine::Query:
        break;
    }
    return 0;
}

} // namespace quernfold
