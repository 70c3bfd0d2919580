#include "tools/cli/CliCommands.h"

#include "sms/SmsSubmit.h"

#include <QStringDecoder>

int cmdPdu(const QStringList &args, CliContext &context) {
    bool flash = false;
    QStringList positional;
    bool options = true;
    for (const QString &arg : args) {
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && arg == QLatin1String("--flash")) {
            flash = true;
        } else if (options && arg.startsWith(QLatin1String("--"))) {
            return context.usageError(QStringLiteral("Unknown option: ") + cliPrintable(arg));
        } else {
            positional << arg;
        }
    }
    if (positional.isEmpty())
        return context.usageError(QStringLiteral("Missing NUMBER"));
    if (positional.size() > 2) {
        return context.usageError(
            QStringLiteral("Too many arguments: quote TEXT to pass it as one argument"));
    }

    const QString number = positional.at(0);
    QString text;
    if (positional.size() == 2) {
        text = positional.at(1);
    } else {
        // All of standard input, as it stands: a final line end is part of the message.
        const QByteArray bytes = context.in.readAll();
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = decoder.decode(bytes);
        if (decoder.hasError())
            return context.fail(QStringLiteral("Standard input is not valid UTF-8 text"));
    }

    SmsSubmit request;
    request.coding = detectCoding(text);
    request.flash = flash;
    request.number = number.toUtf8();
    request.text = text;
    PduList pdus;
    switch (buildSubmitPdu(request, pdus)) {
    case BuildResult::Ok:
        break;
    case BuildResult::InvalidNumber:
        return context.fail(QStringLiteral("Invalid phone number: ") + cliPrintable(number));
    case BuildResult::Long:
        return context.fail(QStringLiteral("Long messages are not supported"));
    }

    const int fit = fitLength(text, request.coding, codingLimit(request.coding));
    if (fit < text.size()) {
        context.err << "Note: the text was cut to " << fit << " of its " << text.size()
                    << " characters to fit one message\n";
    }
    context.out << codingName(request.coding) << '\n';
    for (const Pdu &pdu : pdus)
        context.out << "AT+CMGS=" << pdu.length << '\n' << "00" << pdu.hex << '\n';
    return ExitOk;
}
