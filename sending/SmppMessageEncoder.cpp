#include "sending/SmppMessageEncoder.h"

#include "sms/SmsParts.h"
#include "sms/SmsSubmit.h"

#include <algorithm>

namespace {

// An alphanumeric originator is packed into at most 11 characters on the air.
constexpr int MaxSenderName = 11;
constexpr int MaxAddressDigits = 20;

enum class Alphabet { Gsm, Latin1, Ucs2 };

bool fitsLatin1(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
}

Alphabet alphabetOf(const QString &text, bool latin1Default) {
    if (detectCoding(text) == Coding::Ucs2)
        return Alphabet::Ucs2;
    if (!latin1Default)
        return Alphabet::Gsm;
    return fitsLatin1(text) ? Alphabet::Latin1 : Alphabet::Ucs2;
}

// Latin-1 parts are cut as the GSM text the centre turns them into.
Coding splitCoding(Alphabet alphabet) {
    return alphabet == Alphabet::Ucs2 ? Coding::Ucs2 : Coding::Gsm7Bit;
}

QByteArray octets(QStringView text, Alphabet alphabet) {
    switch (alphabet) {
    case Alphabet::Gsm:
        return gsmSeptets(text);
    case Alphabet::Latin1:
        return text.toLatin1();
    case Alphabet::Ucs2:
        break;
    }
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() >> 8));
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
    }
    return bytes;
}

quint8 dataCoding(Alphabet alphabet, bool flash) {
    switch (alphabet) {
    case Alphabet::Gsm:
        return flash ? SmppCodingGsmClass0 : SmppCodingDefault;
    case Alphabet::Latin1:
        // Latin-1 has no class 0 form; a flash message goes as GSM septets in the class group.
        return flash ? SmppCodingGsmClass0 : SmppCodingLatin1;
    case Alphabet::Ucs2:
        break;
    }
    return flash ? SmppCodingUcs2Class0 : SmppCodingUcs2;
}

struct Layout {
    Alphabet alphabet;
    QStringView text; // what is sent, cut as the modem path cuts it
    QList<int> ends;
};

Layout layout(const QString &text, const SmppTextOptions &options) {
    Alphabet alphabet = alphabetOf(text, options.latin1Default);
    if (alphabet == Alphabet::Latin1 && options.flash)
        alphabet = Alphabet::Gsm;
    const Coding coding = splitCoding(alphabet);
    if (!options.isLong) {
        const QStringView cut =
            QStringView(text).left(fitLength(text, coding, codingLimit(coding)));
        return {alphabet, cut, {static_cast<int>(cut.size())}};
    }
    const QStringView cut = QStringView(text).left(fitLongLength(text, coding));
    return {alphabet, cut, partEnds(cut, coding)};
}

} // namespace

int smppPartCount(const QString &text, const SmppTextOptions &options) {
    return static_cast<int>(layout(text, options).ends.size());
}

SmppEncodedMessage encodeSmppText(const QString &text, const SmppTextOptions &options) {
    const Layout plan = layout(text, options);
    SmppEncodedMessage encoded;
    encoded.dataCoding = dataCoding(plan.alphabet, options.flash);
    const auto total = static_cast<int>(plan.ends.size());
    if (total == 1) {
        encoded.parts.append(octets(plan.text, plan.alphabet));
        return encoded;
    }
    encoded.esmClass = SmppEsmUdhIndicator;
    int start = 0;
    for (int k = 0; k < total; ++k) {
        // The modem path's header: concatenated message, 8-bit reference.
        QByteArray part;
        part.append(char(ConcatHeaderOctets - 1));
        part.append(char(0x00));
        part.append(char(0x03));
        part.append(static_cast<char>(options.reference));
        part.append(static_cast<char>(total));
        part.append(static_cast<char>(k + 1));
        part.append(octets(plan.text.mid(start, plan.ends[k] - start), plan.alphabet));
        start = plan.ends[k];
        encoded.parts.append(part);
    }
    return encoded;
}

std::optional<SmppAddress> smppSourceAddress(const QString &source) {
    const QString trimmed = source.trimmed();
    if (trimmed.isEmpty())
        return SmppAddress{};
    const QString digits = trimmed.startsWith(QLatin1Char('+')) ? trimmed.mid(1) : trimmed;
    const bool number = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (number) {
        if (digits.size() > MaxAddressDigits)
            return std::nullopt;
        return SmppAddress{static_cast<quint8>(SmppTon::International),
                           static_cast<quint8>(SmppNpi::Isdn), digits.toLatin1()};
    }
    if (trimmed.size() > MaxSenderName || !fitsLatin1(trimmed))
        return std::nullopt;
    return SmppAddress{static_cast<quint8>(SmppTon::Alphanumeric),
                       static_cast<quint8>(SmppNpi::Unknown), trimmed.toLatin1()};
}

SmppAddress smppDestinationAddress(const QByteArray &e164OrShortCode) {
    if (e164OrShortCode.startsWith('+'))
        return {static_cast<quint8>(SmppTon::International), static_cast<quint8>(SmppNpi::Isdn),
                e164OrShortCode.mid(1)};
    return {static_cast<quint8>(SmppTon::Unknown), static_cast<quint8>(SmppNpi::Isdn),
            e164OrShortCode};
}
