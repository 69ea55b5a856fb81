#include "app/commandline.h"

#include "service/serviceaddress.h"

#include <QUrl>

namespace {
struct Option {
    const char* name;
    bool takesValue;
    bool syncOnly; // only with --sync-once
};

constexpr Option kOptions[] = {
    {"--service", true, false}, {"--ca-file", true, false},      {"--sync-once", false, false},
    {"--user", true, true},     {"--password-file", true, true}, {"--retry-failed", false, true},
    {"--wait", true, true},
};

// Qt reads these itself, spelt with one dash or two; the program must not
// refuse what Qt accepts, nor read their values as options of its own.
constexpr Option kQtOptions[] = {
    {"platform", true, false},        {"platformpluginpath", true, false},
    {"platformtheme", true, false},   {"plugin", true, false},
    {"qwindowgeometry", true, false}, {"qwindowicon", true, false},
    {"qwindowtitle", true, false},    {"session", true, false},
    {"display", true, false},         {"geometry", true, false},
    {"style", true, false},           {"stylesheet", true, false},
    {"qmljsdebugger", true, false},   {"reverse", false, false},
    {"widgetcount", false, false},    {"nograb", false, false},
    {"dograb", false, false},         {"sync", false, false},
};

const Option* findOption(const QString& flag) {
    for (const Option& option : kOptions)
        if (flag == QLatin1String(option.name))
            return &option;
    return nullptr;
}

const Option* findQtOption(const QString& flag) {
    QString name = flag;
    if (name.startsWith(QLatin1String("--")))
        name.remove(0, 1);
    if (!name.startsWith(QLatin1Char('-')))
        return nullptr;
    name.remove(0, 1);
    for (const Option& option : kQtOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

ClientCommandLine refused(const QString& error) {
    ClientCommandLine line;
    line.action = ClientCommandLine::Action::Fail;
    line.error = error;
    return line;
}

QString checkValue(const QString& flag, const QString& value) {
    if (value.isEmpty())
        return flag + QStringLiteral(" needs a value");
    if (flag == QLatin1String("--service")) {
        const QString scheme = QUrl(value.trimmed()).scheme();
        if (!ServiceAddress(value).isValid() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
            return QStringLiteral("--service needs an http:// or https:// address, not \"%1\"")
                .arg(value);
    }
    if (flag == QLatin1String("--wait")) {
        bool ok = false;
        const int seconds = value.toInt(&ok);
        if (!ok || seconds < 0)
            return QStringLiteral("--wait needs a whole number of seconds, not \"%1\"").arg(value);
    }
    return {};
}
} // namespace

ClientCommandLine parseClientCommandLine(const QStringList& arguments) {
    ClientCommandLine line;
    bool help = false;
    bool version = false;
    bool syncOnce = false;
    QString syncOnly;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        QString flag = argument;
        QString value;
        bool valueGiven = false;
        if (const qsizetype equals = flag.indexOf(QLatin1Char('='));
            flag.startsWith(QLatin1Char('-')) && equals > 0) {
            value = flag.mid(equals + 1);
            flag.truncate(equals);
            valueGiven = true;
        }
        const bool isHelp = flag == QLatin1String("--help") || flag == QLatin1String("-h");
        const bool isVersion = flag == QLatin1String("--version") || flag == QLatin1String("-v");
        if (isHelp || isVersion) {
            if (valueGiven)
                return refused(flag + QStringLiteral(" takes no value"));
            help = help || isHelp;
            version = version || isVersion;
            continue;
        }
        const Option* option = findOption(flag);
        const Option* qtOption = option ? nullptr : findQtOption(flag);
        if (!option && !qtOption) {
            if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-"))
                return refused(QStringLiteral("unexpected argument \"%1\"").arg(argument));
            return refused(QStringLiteral("unknown option %1").arg(flag));
        }
        const Option& known = option ? *option : *qtOption;
        if (!known.takesValue) {
            if (valueGiven)
                return refused(flag + QStringLiteral(" takes no value"));
        } else if (!valueGiven) {
            if (i + 1 >= arguments.size())
                return refused(flag + QStringLiteral(" needs a value"));
            value = arguments.at(++i);
        }
        if (!option)
            continue;
        if (known.takesValue) {
            const QString problem = checkValue(flag, value);
            if (!problem.isEmpty())
                return refused(problem);
        }
        if (flag == QLatin1String("--sync-once"))
            syncOnce = true;
        if (known.syncOnly && syncOnly.isEmpty())
            syncOnly = flag;
    }
    if (help)
        line.action = ClientCommandLine::Action::ShowHelp;
    else if (version)
        line.action = ClientCommandLine::Action::ShowVersion;
    else if (!syncOnly.isEmpty() && !syncOnce)
        return refused(syncOnly + QStringLiteral(" goes with --sync-once"));
    else if (syncOnce)
        line.action = ClientCommandLine::Action::SyncOnce;
    return line;
}

QString clipnoteVersion() {
    return QStringLiteral(CLIPNOTE_VERSION);
}

QString clientVersionText() {
    return QStringLiteral("clipnote ") + clipnoteVersion() + QLatin1Char('\n');
}

QString clientUsageText() {
    return QStringLiteral(
               "Usage: clipnote [--service URL] [--ca-file FILE]\n"
               "       clipnote --sync-once --user ID [--password-file FILE] [--retry-failed]\n"
               "                [--wait SECONDS] [--service URL] [--ca-file FILE]\n"
               "Records video messages from the webcam and microphone, sends them through\n"
               "the Clipnote service and shows the messages that arrive for you.\n"
               "\n"
               "  --service URL         address of the service (default %1)\n"
               "  --ca-file FILE        also trust this certificate authority (PEM) for an\n"
               "                        https:// service; the system's own stay trusted\n"
               "  --sync-once           no window: sign in, send what waits in the Outbox,\n"
               "                        receive into the Inbox once, then exit\n"
               "  --user ID             the user ID to sign in as (with --sync-once); the\n"
               "                        messages are in <current folder>/<user ID>\n"
               "  --password-file FILE  take the password from the first line of FILE rather\n"
               "                        than from standard input\n"
               "  --retry-failed        send again the files the service refused earlier\n"
               "  --wait SECONDS        wait up to this long for a message before receiving\n"
               "  -h, --help            show this text\n"
               "  -v, --version         show the version\n"
               "\n"
               "Environment:\n"
               "  CLIPNOTE_SERVICE=URL      the service address when --service is not given\n"
               "  CLIPNOTE_CA_FILE=FILE     the certificate authority when --ca-file is not given\n"
               "  CLIPNOTE_CAMERA=test      a moving test pattern instead of the webcam\n"
               "  CLIPNOTE_MICROPHONE=test  a synthetic tone instead of the microphone\n"
               "\n"
               "Qt's display options pass through (-platform NAME, -display HOST:N,\n"
               "-style NAME, ...).\n"
               "\n"
               "--sync-once exits with 0 when done, 3 when the service could not be reached\n"
               "or a file could not be sent, 4 when the sign-in was refused, 5 when the user\n"
               "folder cannot be used, 6 when another program has it open, 7 when no private\n"
               "working folder can be had. Bad arguments give 2.\n")
        .arg(QStringLiteral(CLIPNOTE_DEFAULT_SERVICE));
}
