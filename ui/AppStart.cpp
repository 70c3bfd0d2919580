#include "ui/AppStart.h"

#include "app/AppData.h"
#include "modemsim/ModemSim.h"
#include "resources/ImageRoles.h"
#include "ui/Dialogs.h"
#include "ui/MainWindow.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>

#include <csignal>
#include <cstdio>
#include <memory>

CommandLine parseCommandLine(const QStringList &arguments) {
    CommandLine result;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption simulate(QStringLiteral("simulate"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(simulate);
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    result.help = parser.isSet(help);
    result.version = parser.isSet(version);
    result.simulate = parser.isSet(simulate);
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        result.projectFile = files.first();
    return result;
}

QString usageText() {
    return QStringLiteral(
        "Usage: pelorvane [options] [project.sms]\n"
        "Sends text messages in bulk through a GSM phone or modem on a serial port.\n"
        "\n"
        "Options:\n"
        "  -h, --help     Show this help and exit.\n"
        "  -v, --version  Show the version and exit.\n"
        "  --simulate     Send through a simulated phone for this run; the stored port is\n"
        "                 not changed.\n"
        "\n"
        "Arguments:\n"
        "  project.sms    A project file to open at start-up.\n"
        "\n"
        "Only one copy runs per executable file: starting it again brings the running\n"
        "copy's window to the front.\n");
}

int runPelorvane(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = parseCommandLine(arguments);
    if (!command.error.isEmpty()) {
        std::fprintf(stderr, "pelorvane: %s\nTry 'pelorvane --help'.\n", qPrintable(command.error));
        return 2;
    }
    if (command.help) {
        std::fputs(qPrintable(usageText()), stdout);
        return 0;
    }
    if (command.version) {
        std::printf("%s %s\n", PelorvaneAppName, PELORVANE_VERSION);
        return 0;
    }

    SingleInstance instance(SingleInstance::identity(SingleInstance::executablePath(argv[0])));
    if (!instance.tryRegister()) {
        // Neither a window nor the settings nor the project named here: the running copy
        // comes to the front and this one ends.
        QCoreApplication core(argc, argv);
        instance.activateRunning();
        return 0;
    }

    // A file-size limit makes a save fail with its reason instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QLatin1StringView(PelorvaneAppName));
    QApplication::setApplicationVersion(QLatin1StringView(PELORVANE_VERSION));
    QApplication::setWindowIcon(QIcon(programIconPath()));

    std::unique_ptr<ModemSim> simulator;
    QString simulatorError;
    if (command.simulate) {
        simulator = std::make_unique<ModemSim>();
        if (!simulator->start(&simulatorError))
            simulator.reset();
    }

    int exitCode = 0;
    {
        AppData data;
        // The window holds the lock of the project open in it.
        data.lockHolder = QStringLiteral("pelorvane");
        if (simulator)
            data.settings->setSessionPort(simulator->portPath().toLocal8Bit());
        MainWindow window(data);
        instance.onActivate = [&window] { window.bringToFront(); };
        instance.listen();
        if (command.simulate && !simulator)
            showErrorMessage(
                QStringLiteral("The simulated phone could not be started: %1").arg(simulatorError));
        if (!command.projectFile.isEmpty())
            window.openProjectFile(QFileInfo(command.projectFile).absoluteFilePath());
        else
            window.offerUnsavedProject();
        window.show();
        exitCode = QApplication::exec();
        instance.onActivate = nullptr;
        instance.stopListening();
    }
    return exitCode;
}
