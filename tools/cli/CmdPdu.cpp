#include "tools/cli/CliCommands.h"

#include "sms/GsmSmsUnit.h"

#include <QStringDecoder>

int CmdPdu(const QStringList &args, TCliContext &context) {
    bool flash = false;
    QStringList positional;
    bool options = true;
    for (const QString &arg : args) {
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && arg == QLatin1String("--flash")) {
            flash = true;
        } else if (options && arg.startsWith(QLatin1String("--"))) {
            return context.UsageError(QStringLiteral("Unknown option: ") + CliPrintable(arg));
        } else {
            positional << arg;
        }
    }
    if (positional.isEmpty())
        return context.UsageError(QStringLiteral("Missing NUMBER"));
    if (positional.size() > 2) {
        return context.UsageError(
            QStringLiteral("Too many arguments: quote TEXT to pass it as one argument"));
    }

    const QString number = positional.at(0);
    QString text;
    if (positional.size() == 2) {
        text = positional.at(1);
    } else {
        // All of standard input, as it stands: a final line end is part of the message.
        const QByteArray bytes = context.In.readAll();
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = decoder.decode(bytes);
        if (decoder.hasError())
            return context.Fail(QStringLiteral("Standard input is not valid UTF-8 text"));
    }

    TSmsSubmit request;
    request.Coding = DetectCoding(text);
    request.Flash = flash;
    request.Number = number.toUtf8();
    request.Text = text;
    TPDUs pdus;
    switch (BuildSubmitPdu(request, pdus)) {
    case brOk:
        break;
    case brInvalidNumber:
        return context.Fail(QStringLiteral("Invalid phone number: ") + CliPrintable(number));
    case brLong:
        return context.Fail(QStringLiteral("Long messages are not supported"));
    }

    const int fit = FitLength(text, request.Coding, CodingLimit[request.Coding]);
    if (fit < text.size()) {
        context.Err << "Note: the text was cut to " << fit << " of its " << text.size()
                    << " characters to fit one message\n";
    }
    context.Out << CodingName[request.Coding] << '\n';
    for (const TPDU &pdu : pdus)
        context.Out << "AT+CMGS=" << pdu.Length << '\n' << "00" << pdu.Hex << '\n';
    return csOk;
}
