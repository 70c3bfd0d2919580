#include "tools/cli/CliSmpp.h"

#include "app/AppData.h"
#include "app/Settings.h"

#include <QFile>

bool SmppChoice::take(const QStringList &args, int &i, QString &error) {
    const QString &arg = args[i];
    const bool hasValue = i + 1 < args.size() && !args[i + 1].isEmpty();
    const auto value = [&](const QString &what) {
        if (!hasValue) {
            error = QStringLiteral("%1 needs %2").arg(arg, what);
            return QString();
        }
        return args[++i];
    };
    if (arg == QLatin1String("--smpp")) {
        const QString target = value(QStringLiteral("the SMS centre as HOST:PORT"));
        const qsizetype colon = target.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const int port = colon > 0 ? target.mid(colon + 1).toInt(&ok) : 0;
        if (error.isEmpty() && (!ok || port <= 0 || port > 65535)) {
            error = QStringLiteral(
                "--smpp needs the SMS centre as HOST:PORT, as smsc.example.net:2775");
            return true;
        }
        host = target.left(colon);
        // [::1]:2775
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        this->port = port;
        return true;
    }
    if (arg == QLatin1String("--system-id")) {
        systemId = value(QStringLiteral("the account's system ID"));
    } else if (arg == QLatin1String("--system-type")) {
        systemType = value(QStringLiteral("a system type"));
    } else if (arg == QLatin1String("--password-file")) {
        passwordFile = value(QStringLiteral("a file"));
    } else if (arg == QLatin1String("--source")) {
        source = value(QStringLiteral("the sender's name or number"));
    } else if (arg == QLatin1String("--tls")) {
        tls = true;
    } else if (arg == QLatin1String("--certificate")) {
        certificate = value(QStringLiteral("a PEM file of the centre's certificate"));
    } else if (arg == QLatin1String("--bind")) {
        const QString mode = value(QStringLiteral("transceiver or transmitter"));
        if (mode == QLatin1String("transceiver") || mode == QLatin1String("transmitter"))
            transmitter = mode == QLatin1String("transmitter");
        else if (error.isEmpty())
            error = QStringLiteral("--bind needs transceiver or transmitter");
    } else if (arg == QLatin1String("--no-receipts")) {
        receipts = false;
    } else if (arg == QLatin1String("--latin1")) {
        latin1 = true;
    } else if (arg == QLatin1String("--window")) {
        bool ok = false;
        const int n = value(QStringLiteral("a number from 1 to 1000")).toInt(&ok);
        if (error.isEmpty() && (!ok || n < 1 || n > 1000))
            error = QStringLiteral("--window needs a number from 1 to 1000");
        window = n;
    } else if (arg == QLatin1String("--rate")) {
        bool ok = false;
        const double n = value(QStringLiteral("messages per second")).toDouble(&ok);
        if (error.isEmpty() && (!ok || !(n >= 0)))
            error = QStringLiteral("--rate needs messages per second (0: no limit)");
        rate = n;
    } else {
        return false;
    }
    m_optionsGiven = true;
    return true;
}

QString SmppChoice::problem() const {
    if (!given())
        return m_optionsGiven ? QStringLiteral("The SMS centre's options go with --smpp HOST:PORT")
                              : QString();
    if (systemId.isEmpty())
        return QStringLiteral("--smpp needs --system-id ID");
    if (!certificate.isEmpty() && !tls.value_or(false))
        return QStringLiteral("--certificate goes with --tls");
    return QString();
}

int SmppChoice::apply(AppData &data, CliContext &context) const {
    std::optional<QByteArray> password;
    if (!passwordFile.isEmpty()) {
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly))
            return context.fail(QStringLiteral("Cannot read the password file %1: %2")
                                    .arg(cliPrintable(passwordFile), file.errorString()));
        QByteArray line = file.readLine(256);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        password = line;
    } else if (qEnvironmentVariableIsSet("PELORVANE_SMPP_PASSWORD")) {
        password = qgetenv("PELORVANE_SMPP_PASSWORD");
    }
    data.smppPassword = [password] { return password; };
    if (!given())
        return ExitOk;

    // The stored settings fill what the command line leaves open (the sender, the window...).
    SmppSettings smpp = data.settings->storedSmppSettings();
    smpp.host = host;
    smpp.port = port;
    smpp.systemId = systemId;
    smpp.systemType = systemType;
    smpp.tls = tls.value_or(false);
    smpp.certificate = certificate;
    if (source)
        smpp.source = *source;
    smpp.bindMode =
        transmitter.value_or(false) ? SmppBindMode::Transmitter : SmppBindMode::Transceiver;
    smpp.receipts = receipts.value_or(true);
    if (window)
        smpp.window = *window;
    if (rate)
        smpp.rate = *rate;
    if (latin1)
        smpp.latin1Default = *latin1;
    data.settings->setSessionSmppSettings(smpp);
    data.settings->setSessionConnectionKind(ConnectionKind::SmsCentre);
    return ExitOk;
}
