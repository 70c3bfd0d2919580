#include "ui/AppStart.h"

#include "app/Database.h"
#include "resources/ImageRoles.h"
#include "tools/modemsim/ModemSim.h"
#include "ui/Dialogs.h"
#include "ui/MainForm.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <memory>

TCommandLine ParseCommandLine(const QStringList &arguments) {
    TCommandLine result;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption simulate(QStringLiteral("simulate"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(simulate);
    if (!parser.parse(arguments)) {
        result.Error = parser.errorText();
        return result;
    }
    result.Help = parser.isSet(help);
    result.Version = parser.isSet(version);
    result.Simulate = parser.isSet(simulate);
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        result.ProjectFile = files.first();
    return result;
}

QString UsageText() {
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

int RunPelorvane(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const TCommandLine command = ParseCommandLine(arguments);
    if (!command.Error.isEmpty()) {
        std::fprintf(stderr, "pelorvane: %s\nTry 'pelorvane --help'.\n", qPrintable(command.Error));
        return 2;
    }
    if (command.Help) {
        std::fputs(qPrintable(UsageText()), stdout);
        return 0;
    }
    if (command.Version) {
        std::printf("%s %s\n", PelorvaneAppName, PELORVANE_VERSION);
        return 0;
    }

    TSingleInstance instance(TSingleInstance::Identity(TSingleInstance::ExecutablePath(argv[0])));
    if (!instance.TryRegister()) {
        // Neither a window nor the settings nor the project named here: the running copy
        // comes to the front and this one ends.
        QCoreApplication core(argc, argv);
        instance.ActivateRunning();
        return 0;
    }

    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QLatin1StringView(PelorvaneAppName));
    QApplication::setApplicationVersion(QLatin1StringView(PELORVANE_VERSION));
    QApplication::setWindowIcon(QIcon(ProgramIconPath()));

    std::unique_ptr<TModemSim> simulator;
    QString simulatorError;
    if (command.Simulate) {
        simulator = std::make_unique<TModemSim>();
        if (!simulator->Start(&simulatorError))
            simulator.reset();
    }

    int exitCode = 0;
    {
        TDataModule1 data;
        if (simulator)
            data.Settings->SetSessionPort(simulator->PortPath().toLocal8Bit());
        TfrmPelorvane window(data);
        instance.OnActivate = [&window] { window.BringToFront(); };
        instance.Listen();
        if (command.Simulate && !simulator)
            ShowErrorMessage(
                QStringLiteral("The simulated phone could not be started: %1").arg(simulatorError));
        if (!command.ProjectFile.isEmpty())
            window.OpenProjectFile(QFileInfo(command.ProjectFile).absoluteFilePath());
        window.show();
        exitCode = QApplication::exec();
        instance.OnActivate = nullptr;
        instance.StopListening();
    }
    return exitCode;
}
