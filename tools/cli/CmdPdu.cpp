#include "tools/cli/CliCommands.h"

#include "sms/SmsParts.h"
#include "sms/SmsSubmit.h"

#include <QStringDecoder>

#include <optional>

namespace {

std::optional<Coding> codingOption(const QString &value) {
    if (value == QLatin1String("gsm"))
        return Coding::Gsm7Bit;
    if (value == QLatin1String("ucs2"))
        return Coding::Ucs2;
    if (value == QLatin1String("8bit"))
        return Coding::EightBit;
    return std::nullopt;
}

// Whether every character of the text can be written in the coding; the encoders would drop
// or mangle the others without a word.
bool encodable(const QString &text, Coding coding) {
    for (QChar ch : text) {
        if (coding == Coding::Gsm7Bit && !lookupGsmChar(ch).found)
            return false;
        if (coding == Coding::EightBit && ch.unicode() > 0xFF)
            return false;
    }
    return true;
}

} // namespace

int cmdPdu(const QStringList &args, CliContext &context) {
    bool flash = false;
    bool isLong = false;
    int reference = 0;
    std::optional<Coding> coding;
    QStringList positional;
    bool options = true;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && arg == QLatin1String("--flash")) {
            flash = true;
        } else if (options && arg == QLatin1String("--long")) {
            isLong = true;
        } else if (options && arg == QLatin1String("--ref")) {
            bool ok = false;
            reference = hasValue ? args[++i].toInt(&ok) : -1;
            if (!ok || reference < 0 || reference > 0xFF)
                return context.usageError(QStringLiteral("--ref needs a number from 0 to 255"));
        } else if (options && arg == QLatin1String("--coding")) {
            coding = hasValue ? codingOption(args[++i]) : std::nullopt;
            if (!coding)
                return context.usageError(QStringLiteral("--coding needs gsm, ucs2 or 8bit"));
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
    request.coding = coding ? *coding : detectCoding(text);
    request.flash = flash;
    request.isLong = isLong;
    request.reference = static_cast<quint8>(reference);
    request.number = number.toUtf8();
    request.text = text;
    if (!encodable(text, request.coding)) {
        return context.fail(QStringLiteral("The text has characters that %1 cannot hold")
                                .arg(QLatin1StringView(codingName(request.coding))));
    }
    PduList pdus;
    if (buildSubmitParts(request, pdus) == BuildResult::InvalidNumber)
        return context.fail(QStringLiteral("Invalid phone number: ") + cliPrintable(number));

    const int fit = isLong ? fitLongLength(text, request.coding)
                           : fitLength(text, request.coding, codingLimit(request.coding));
    if (fit < text.size()) {
        context.err << "Note: the text was cut to " << fit << " of its " << text.size()
                    << " characters to fit " << (isLong ? "a long message" : "one message") << '\n';
    }
    context.out << codingName(request.coding) << '\n';
    for (const Pdu &pdu : pdus)
        context.out << "AT+CMGS=" << pdu.length << '\n' << "00" << pdu.hex << '\n';
    return ExitOk;
}
