// The updater's entry: the data module, the main window and the About window, then the event loop;
// or, with --silent, the update command once without a window.

#include "app/about.h"
#include "app/console_dialogs.h"
#include "app/main.h"
#include "app/qt_dialogs.h"
#include "app/session_log.h"
#include "app/unattended.h"
#include "app/version_data.h"
#include "filesystem/paths.h"
#include "network/network_state.h"
#include "registry/registry.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <optional>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <shellapi.h>
#endif

using network::SystemNetworkState;
using registry::defaultRegistryFilePath;
using registry::openUserRegistry;
using registry::Registry;
using seams::Dialogs;

namespace {

const char usage[] = "Использование: update_3_7 [--silent] [--log <файл>]\n"
                     "\n"
                     "Обновляет программу «Сорвентия» установленного комплекта «Кварнель» до версии 3.7.\n"
                     "\n"
                     "Параметры:\n"
                     "  --silent        обновить без окна: строки журнала выводятся на стандартный вывод,\n"
                     "                  сообщения — на стандартный вывод ошибок\n"
                     "  --log <файл>    дописывать в файл каждую строку журнала и каждое сообщение\n"
                     "                  с отметкой времени\n"
                     "  -h, --help      показать эту справку\n"
                     "  -v, --version   показать версию\n";

void printTo(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// A wrong command line: the error and the usage on standard error.
int refuseCommandLine(const QString& error) {
    printTo(stderr, QStringLiteral("update_3_7: ") + oneLine(error) + u'\n' + QString::fromUtf8(usage));
    return exitstatus::usage;
}

// What is wrong with a command line the parser refused, in the operator's words.
QString commandLineError(const QCommandLineParser& parser, const QStringList& arguments,
                         const QList<QCommandLineOption>& options) {
    if (!parser.unknownOptionNames().isEmpty()) {
        // Named as written, not as the parser split it ("-platform" rather than "-p").
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            const QString& argument = arguments[i];
            if (argument == QStringLiteral("--"))
                break;
            if (!argument.startsWith(u'-') || argument == QStringLiteral("-"))
                continue;
            const QString spelled = argument.section(u'=', 0, 0);
            const auto known =
                std::find_if(options.begin(), options.end(), [&](const QCommandLineOption& option) {
                    const QStringList names = option.names();
                    return std::any_of(names.begin(), names.end(), [&](const QString& name) {
                        return spelled ==
                               (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
                    });
                });
            if (known == options.end())
                return QStringLiteral("неизвестный параметр %1").arg(spelled);
            if (!known->valueName().isEmpty() && !argument.contains(u'='))
                ++i; // its value
        }
        const QString name = parser.unknownOptionNames().constFirst();
        return QStringLiteral("неизвестный параметр %1%2")
            .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    }
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--"))
            break;
        for (const QCommandLineOption& option : options) {
            for (const QString& name : option.names()) {
                const QString spelled =
                    (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
                if (option.valueName().isEmpty() && argument.startsWith(spelled + u'='))
                    return QStringLiteral("параметр %1 не принимает значения").arg(spelled);
                if (!option.valueName().isEmpty() && argument == spelled && i + 1 == arguments.size())
                    return QStringLiteral("после параметра %1 не указан %2").arg(spelled, option.valueName());
            }
        }
    }
    return parser.errorText();
}

// X11 and Wayland need their display; Qt's other platforms (offscreen, vnc, framebuffers) do not.
bool displayAvailable() {
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QString platforms = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platforms.isEmpty())
        return x11 || wayland;
    // A list such as "wayland;xcb" is tried in its order.
    for (const QString& entry : platforms.split(u';', Qt::SkipEmptyParts)) {
        const QString platform = entry.section(u':', 0, 0);
        if (platform == QStringLiteral("xcb")) {
            if (x11)
                return true;
        } else if (platform.startsWith(QStringLiteral("wayland"))) {
            if (wayland)
                return true;
        } else {
            return true;
        }
    }
    return false;
#else
    return true;
#endif
}

// Standard error carries the message boxes only: Qt's own messages go to the session log when there
// is one, else nowhere. A missing runtime folder is no news (cron, su, containers have none).
SessionLog* qtMessageLog = nullptr;

void routeQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (qtMessageLog)
        qtMessageLog->qtMessage(message);
    // Qt ends the program after a fatal message; the operator must learn why.
    if (type == QtFatalMsg)
        printTo(stderr, QStringLiteral("update_3_7: аварийное завершение: ") + oneLine(message) + u'\n');
}

QStringList commandLine(int argc, char* argv[]) {
    QStringList arguments;
#ifdef _WIN32
    // argv holds the command line in the ANSI code page, which loses every character it lacks.
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments.append(QString::fromWCharArray(wide[i]));
        LocalFree(wide);
        return arguments;
    }
#endif
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

#ifdef _WIN32
// The program has no console of its own (a window program), so started from a console it writes to
// that console, unless its output goes to a file or a pipe. A console shows what is written as UTF-8
// while the program runs; its own code page comes back at the end.
class ConsoleOutput {
public:
    ConsoleOutput() {
        const auto connected = [](DWORD stream) {
            const HANDLE handle = GetStdHandle(stream);
            return handle && handle != INVALID_HANDLE_VALUE;
        };
        const bool out = connected(STD_OUTPUT_HANDLE);
        const bool err = connected(STD_ERROR_HANDLE);
        if ((!out || !err) && AttachConsole(ATTACH_PARENT_PROCESS)) {
            if (!out)
                std::freopen("CONOUT$", "w", stdout);
            if (!err)
                std::freopen("CONOUT$", "w", stderr);
        }
        DWORD mode = 0;
        for (FILE* stream : {stdout, stderr}) {
            if (GetConsoleMode(HANDLE(_get_osfhandle(_fileno(stream))), &mode)) {
                m_codePage = GetConsoleOutputCP();
                SetConsoleOutputCP(CP_UTF8);
                break;
            }
        }
    }
    ~ConsoleOutput() {
        if (m_codePage)
            SetConsoleOutputCP(m_codePage);
    }
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

private:
    UINT m_codePage = 0;
};
#endif

} // namespace

int main(int argc, char* argv[]) {
#ifdef _WIN32
    const ConsoleOutput console;
#endif
    const QStringList arguments = commandLine(argc, argv);

    // The command line is read before Qt starts, so that neither help nor a wrong command line
    // needs a display or waits for one; Qt itself gets no arguments of the command line.
    QCommandLineParser parser;
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                        QStringLiteral("показать эту справку"));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("показать версию"));
    const QCommandLineOption silentOption(QStringLiteral("silent"), QStringLiteral("обновить без окна"));
    const QCommandLineOption logOption(QStringLiteral("log"), QStringLiteral("дописывать журнал в файл"),
                                       QStringLiteral("файл журнала"));
    const QList<QCommandLineOption> options{helpOption, versionOption, silentOption, logOption};
    parser.addOptions(options);
    if (!parser.parse(arguments))
        return refuseCommandLine(commandLineError(parser, arguments, options));
    if (!parser.positionalArguments().isEmpty())
        return refuseCommandLine(
            QStringLiteral("лишний аргумент %1").arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(helpOption)) {
        printTo(stdout, QString::fromUtf8(usage));
        return exitstatus::success;
    }
    if (parser.isSet(versionOption)) {
        printTo(stdout, QStringLiteral("update_3_7 3.7\n"));
        return exitstatus::success;
    }
    const bool silent = parser.isSet(silentOption);

    std::optional<SessionLog> sessionLog;
    try {
        if (parser.isSet(logOption))
            sessionLog.emplace(QFileInfo(parser.value(logOption)).absoluteFilePath());
    } catch (const std::exception& error) {
        printTo(stderr, QStringLiteral("update_3_7: ") + oneLine(QString::fromUtf8(error.what())) + u'\n');
        return exitstatus::usage;
    }
    qtMessageLog = sessionLog ? &*sessionLog : nullptr;
    qInstallMessageHandler(routeQtMessage);

    // Without a window to show, Qt's offscreen platform keeps every path the window's and needs no
    // display, whatever platform the environment names. It must be chosen before the application
    // object exists.
    if (silent) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (!displayAvailable()) {
        printTo(stderr, QStringLiteral("update_3_7: для окна нужен дисплей (X11 или Wayland); чтобы обновить "
                                       "без окна, запустите программу с параметром --silent\n"));
        return exitstatus::usage;
    }
    // Taken before anything can change the current directory.
    const QString registryFile = defaultRegistryFilePath();

    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("update_3_7"));
    QApplication::setApplicationVersion(QStringLiteral("3.7"));
    // The window is laid out in Tahoma and Times New Roman. Where they are not installed, fonts of
    // the same metrics stand in: Wine's Tahoma, which Debian keeps outside the font folders, and
    // Liberation Serif.
    for (const char* name : {"wine/fonts/tahoma.ttf", "wine/fonts/tahomabd.ttf"})
        for (const QString& file :
             QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QString::fromLatin1(name)))
            QFontDatabase::addApplicationFont(file);
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    installQtTranslation();

    const std::unique_ptr<Registry> registry = openUserRegistry(registryFile);
    QtDialogs windowDialogs;
    ConsoleDialogs consoleDialogs;
    Dialogs& shownDialogs = silent ? static_cast<Dialogs&>(consoleDialogs) : windowDialogs;
    std::optional<LoggedDialogs> loggedDialogs;
    if (sessionLog)
        loggedDialogs.emplace(shownDialogs, *sessionLog);
    SystemNetworkState networkState;

    Seams seams;
    seams.dialogs = loggedDialogs ? static_cast<Dialogs*>(&*loggedDialogs) : &shownDialogs;
    seams.registry = registry.get();
    seams.updaterFolder = filesystem::executableFolder();
    seams.networkState = &networkState;

    const TDM DM;
    TfmMain fmMain(DM, seams);
    windowDialogs.setOwner(&fmMain);
    if (sessionLog)
        QObject::connect(&fmMain, &TfmMain::logLineAdded,
                         [&](const QString& line) { sessionLog->line(line); });
    TfmAbout fmAbout(DM);
    fmMain.setAboutWindow(&fmAbout);

    if (silent)
        return runUnattended(fmMain);
    fmMain.showMaximized();
    return application.exec();
}
