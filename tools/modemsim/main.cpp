#include "modemsim/ModemSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <optional>

namespace {

std::optional<int> intValue(const QCommandLineParser &parser, const QString &name, int low,
                            int high) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < low || value > high) {
        std::fprintf(stderr, "pelorvane-modemsim: --%s needs a whole number from %d to %d\n",
                     qPrintable(name), low, high);
        return std::nullopt;
    }
    return value;
}

} // namespace

int main(int argc, char *argv[]) {
    // Blocked before any thread starts, so only sigtimedwait below ever takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelorvane-modemsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELORVANE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated GSM phone on a pseudo-terminal. Prints the port path as its first line,\n"
        "then answers AT commands there until stopped with Ctrl+C (SIGINT) or SIGTERM.\n"
        "Message numbers count message bodies sent after the \"> \" prompt, from 1."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QString n = QStringLiteral("N");
    parser.addOptions({
        {QStringLiteral("fail-at"), QStringLiteral("Answer the Nth message with +CMS ERROR: 500."),
         n},
        {QStringLiteral("silent-at"), QStringLiteral("Never answer the Nth message."), n},
        {QStringLiteral("hangup-at"),
         QStringLiteral("Hang up the line when the Nth message arrives, then exit."), n},
        {QStringLiteral("delay-ms"), QStringLiteral("Wait X milliseconds before each answer."),
         QStringLiteral("X")},
        {QStringLiteral("body-delay-ms"),
         QStringLiteral("Wait X milliseconds before the answer to a message, as a phone "
                        "waits for the network."),
         QStringLiteral("X")},
        {QStringLiteral("prompt-line-end"),
         QStringLiteral("Send the \"> \" prompt followed by CR LF.")},
        {QStringLiteral("refuse-cmgf-query"), QStringLiteral("Answer AT+CMGF=? with ERROR.")},
        {QStringLiteral("refuse-cmgf"), QStringLiteral("Answer AT+CMGF=0 with ERROR.")},
        {QStringLiteral("refuse-cbc"), QStringLiteral("Answer AT+CBC with ERROR.")},
        {QStringLiteral("refuse-gmm"), QStringLiteral("Answer AT+GMM with ERROR.")},
        {QStringLiteral("battery"), QStringLiteral("Battery level in percent (default 85)."), n},
        {QStringLiteral("signal"),
         QStringLiteral("Signal strength for +CSQ, 0 to 31 or 99 (default 20)."), n},
        {QStringLiteral("maker"),
         QStringLiteral("Manufacturer for AT+GMI; \"huawei\" also behaves like a Huawei modem\n"
                        "(^RSSI, ^MODE lines until AT^CURC=0; AT^CPIN?)."),
         QStringLiteral("S")},
        {QStringLiteral("model"), QStringLiteral("Model for AT+GMM."), QStringLiteral("S")},
        {QStringLiteral("unsolicited"),
         QStringLiteral("Send this line (such as RING) before every answer."),
         QStringLiteral("TEXT")},
        {QStringLiteral("pin"),
         QStringLiteral("The SIM card asks for this PIN (AT+CPIN); three wrong ones lock it\n"
                        "until its PUK is given. AT+CPINR tells the tries left."),
         QStringLiteral("CODE")},
        {QStringLiteral("no-sim"), QStringLiteral("No SIM card in the phone.")},
        {QStringLiteral("register-after-ms"),
         QStringLiteral("Search for the network this long after the start (or the PIN)."), n},
        {QStringLiteral("registration"),
         QStringLiteral("Stay \"denied\" (the network refuses the SIM card) or \"searching\"."),
         QStringLiteral("STATE")},
        {QStringLiteral("lte-only"),
         QStringLiteral("An LTE module: AT+CREG? says searching, AT+CEREG? registered.")},
        {QStringLiteral("no-smsc"),
         QStringLiteral("No service centre number stored: AT+CSCA? is empty and a message\n"
                        "without one in its PDU gets +CMS ERROR: 330.")},
        {QStringLiteral("urc-flood"),
         QStringLiteral("Send an unsolicited line (RING, ^RSSI, +CMTI, ...) every MS\n"
                        "milliseconds, and one after each \"> \" prompt."),
         QStringLiteral("MS")},
        {QStringLiteral("bare-prompt"),
         QStringLiteral("Send the prompt as \">\" without the space.")},
        {QStringLiteral("old-phone"),
         QStringLiteral("Answer the SIM, network, operator, service centre and IMEI queries\n"
                        "with ERROR, as old phones do.")},
        {QStringLiteral("log"),
         QStringLiteral("Append one JSON line per accepted message or part of a long message\n"
                        "(number, coding, flash, text; a part also ref, total, seq) and one\n"
                        "per long message whose parts have all arrived (number, ref, parts,\n"
                        "the whole text) to FILE."),
         QStringLiteral("FILE")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "pelorvane-modemsim: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    ModemSimOptions options;
    const struct {
        const char *name;
        int *target;
        int low;
        int high;
    } numbers[] = {
        {"fail-at", &options.failAt, 0, 1000000},
        {"silent-at", &options.silentAt, 0, 1000000},
        {"hangup-at", &options.hangupAt, 0, 1000000},
        {"delay-ms", &options.delayMs, 0, 600000},
        {"body-delay-ms", &options.bodyDelayMs, 0, 600000},
        {"battery", &options.battery, 0, 100},
        {"signal", &options.signal, 0, 99},
        {"register-after-ms", &options.registerAfterMs, 0, 3600000},
        {"urc-flood", &options.urcFloodMs, 1, 600000},
    };
    for (const auto &number : numbers) {
        const QString name = QString::fromLatin1(number.name);
        if (!parser.isSet(name))
            continue;
        const std::optional<int> value = intValue(parser, name, number.low, number.high);
        if (!value)
            return 2;
        *number.target = *value;
    }
    if (options.signal > 31 && options.signal != 99) {
        std::fprintf(stderr, "pelorvane-modemsim: --signal must be 0 to 31, or 99 (unknown)\n");
        return 2;
    }
    options.promptWithLineEnd = parser.isSet(QStringLiteral("prompt-line-end"));
    options.refuseCmgfQuery = parser.isSet(QStringLiteral("refuse-cmgf-query"));
    options.refuseCmgf0 = parser.isSet(QStringLiteral("refuse-cmgf"));
    options.refuseCbc = parser.isSet(QStringLiteral("refuse-cbc"));
    options.refuseGmm = parser.isSet(QStringLiteral("refuse-gmm"));
    if (parser.isSet(QStringLiteral("maker")))
        options.maker = parser.value(QStringLiteral("maker")).toLocal8Bit();
    if (parser.isSet(QStringLiteral("model")))
        options.model = parser.value(QStringLiteral("model")).toLocal8Bit();
    options.unsolicited = parser.value(QStringLiteral("unsolicited")).toLocal8Bit();
    options.pin = parser.value(QStringLiteral("pin")).toLocal8Bit();
    options.noSim = parser.isSet(QStringLiteral("no-sim"));
    options.lteOnly = parser.isSet(QStringLiteral("lte-only"));
    options.noSmsc = parser.isSet(QStringLiteral("no-smsc"));
    options.barePrompt = parser.isSet(QStringLiteral("bare-prompt"));
    options.oldPhone = parser.isSet(QStringLiteral("old-phone"));
    if (parser.isSet(QStringLiteral("registration"))) {
        options.registration = parser.value(QStringLiteral("registration")).toLocal8Bit();
        if (options.registration != "denied" && options.registration != "searching") {
            std::fprintf(stderr, "pelorvane-modemsim: --registration is denied or searching\n");
            return 2;
        }
    }
    if (parser.isSet(QStringLiteral("pin"))) {
        const QByteArray &pin = options.pin;
        const bool digits =
            std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (pin.size() < 4 || pin.size() > 8 || !digits) {
            std::fprintf(stderr, "pelorvane-modemsim: --pin is 4 to 8 digits\n");
            return 2;
        }
    }

    const QString logFile = parser.value(QStringLiteral("log"));
    if (!logFile.isEmpty()) {
        // Fail now rather than lose the first message's entry later.
        QFile probe(logFile);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            std::fprintf(stderr, "pelorvane-modemsim: cannot open the log %s: %s\n",
                         qPrintable(logFile), qPrintable(probe.errorString()));
            return 1;
        }
    }

    ModemSim sim(options);
    sim.setLogFile(logFile);
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "pelorvane-modemsim: cannot start: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(sim.portPath()));
    std::fflush(stdout);
    std::fprintf(stderr, "Simulated phone ready on %s; press Ctrl+C to stop\n",
                 qPrintable(sim.portPath()));

    const timespec tick{0, 200 * 1000 * 1000};
    for (;;) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM)
            break;
        if (!sim.isServing()) {
            std::fprintf(stderr, "Simulated phone hung up the line\n");
            break;
        }
    }
    sim.stop();
    return 0;
}
