#include "sms/SmsSubmit.h"

#include "sms/SmsParts.h"

#include <algorithm>
#include <array>

namespace {

// One byte per UTF-16 code unit: NotFound, or the septet with EscapedBit for the extension
// table. Filled last-to-first so that the first hit of each table wins.
constexpr quint8 NotFound = 0xFF;
constexpr quint8 EscapedBit = 0x80;

constexpr std::array<quint8, 0x10000> buildLookup() {
    std::array<quint8, 0x10000> table{};
    for (auto &entry : table)
        entry = NotFound;
    for (int i = std::size(GsmExtensionTable) - 1; i >= 0; --i)
        table[GsmExtensionTable[i].character] = EscapedBit | GsmExtensionTable[i].septet;
    for (int septet = 127; septet >= 0; --septet)
        table[GsmBasicTable[septet]] = static_cast<quint8>(septet);
    return table;
}

constexpr std::array<quint8, 0x10000> Lookup = buildLookup();

// Septets one code unit costs in GSM 7 bit.
inline int gsmCost(char16_t ch) {
    const quint8 entry = Lookup[ch];
    return entry == NotFound ? 0 : (entry & EscapedBit) ? 2 : 1;
}

void appendHexByte(QByteArray &out, int value) {
    out.append(hexDigit(value >> 4));
    out.append(hexDigit(value));
}

constexpr int MaxAddressDigits = 20; // TP-DA holds at most ten octets of semi-octets

// Spaces, dashes, dots and brackets only group the digits for the eye.
bool isAddressFormatting(char c) {
    return c == ' ' || c == '-' || c == '.' || c == '(' || c == ')';
}

// The address digits and type of a number, or false when they are not usable.
bool splitAddress(const QByteArray &number, QByteArray &digits, QByteArray &type) {
    digits.clear();
    digits.reserve(number.size());
    for (char c : number) {
        if (!isAddressFormatting(c))
            digits += c;
    }
    type = addressType(digits);
    if (digits.startsWith('+'))
        digits.remove(0, 1);
    if (digits.isEmpty() || digits.size() > MaxAddressDigits)
        return false;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool isKnownCoding(Coding coding) {
    return static_cast<int>(coding) < CodingCount;
}

} // namespace

GsmLookup lookupGsmChar(QChar ch) {
    const quint8 entry = Lookup[ch.unicode()];
    if (entry == NotFound)
        return {};
    return {true, (entry & EscapedBit) != 0, static_cast<quint8>(entry & 0x7F)};
}

Coding detectCoding(const QString &text) {
    for (QChar ch : text) {
        if (Lookup[ch.unicode()] == NotFound)
            return Coding::Ucs2;
    }
    return Coding::Gsm7Bit;
}

QByteArray gsmSeptets(QStringView text) {
    QByteArray septets;
    septets.reserve(text.size() * 2);
    for (QChar ch : text) {
        const quint8 entry = Lookup[ch.unicode()];
        if (entry == NotFound)
            continue;
        if (entry & EscapedBit)
            septets.append(static_cast<char>(GsmEscape));
        septets.append(static_cast<char>(entry & 0x7F));
    }
    return septets;
}

Encoded encodeGsm7(const QString &text) {
    const QByteArray septets = gsmSeptets(text);
    return {packSeptets(septets), static_cast<int>(septets.size())};
}

Encoded encode8Bit(const QString &text) {
    Encoded result;
    result.hex.reserve(text.size() * 2);
    for (QChar ch : text)
        appendHexByte(result.hex, ch.unicode() & 0xFF);
    result.count = static_cast<int>(text.size());
    return result;
}

Encoded encodeUcs2(const QString &text) {
    Encoded result;
    result.hex.reserve(text.size() * 4);
    for (QChar ch : text) {
        appendHexByte(result.hex, ch.unicode() >> 8);
        appendHexByte(result.hex, ch.unicode() & 0xFF);
    }
    result.count = static_cast<int>(text.size() * 2);
    return result;
}

Encoded encode(const QString &text, Coding coding) {
    switch (coding) {
    case Coding::Gsm7Bit:
        return encodeGsm7(text);
    case Coding::EightBit:
        return encode8Bit(text);
    case Coding::Ucs2:
        break;
    }
    return encodeUcs2(text);
}

QByteArray packSeptets(const QByteArray &septets) {
    const auto n = septets.size();
    QByteArray hex;
    hex.reserve((n - n / 8) * 2);
    int shift = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const int current = static_cast<quint8>(septets[i]) & 0x7F;
        const int next = i + 1 < n ? static_cast<quint8>(septets[i + 1]) : 0;
        appendHexByte(hex, (current >> shift) | ((next << (7 - shift)) & 0xFF));
        if (shift == 6) {
            ++i; // the next septet went whole into this octet
            shift = 0;
        } else {
            ++shift;
        }
    }
    return hex;
}

QByteArray swapSemiOctets(const QByteArray &digits) {
    QByteArray swapped = digits;
    if (swapped.size() % 2 != 0)
        swapped.append('F');
    for (qsizetype i = 0; i + 1 < swapped.size(); i += 2)
        std::swap(swapped[i], swapped[i + 1]);
    return swapped;
}

QByteArray addressType(const QByteArray &number) {
    return number.startsWith('+') ? QByteArrayLiteral("91") : QByteArrayLiteral("81");
}

QByteArray serviceCentreField(const QByteArray &number) {
    if (number.trimmed().isEmpty())
        return QByteArrayLiteral("00");
    QByteArray digits, type;
    if (!splitAddress(number, digits, type))
        return {};
    // The length counts the type octet and the digit octets.
    const int octets = 1 + int(digits.size() + 1) / 2;
    QByteArray field;
    field.append(hexDigit(octets >> 4));
    field.append(hexDigit(octets));
    field.append(type);
    field.append(swapSemiOctets(digits));
    return field;
}

char hexDigit(int value) {
    return "0123456789ABCDEF"[value & 0x0F];
}

int countUnits(const QString &text, Coding coding) {
    if (coding != Coding::Gsm7Bit)
        return static_cast<int>(text.size());
    int septets = 0;
    for (QChar ch : text)
        septets += gsmCost(ch.unicode());
    return septets;
}

int fitLength(const QString &text, Coding coding, int limit) {
    const auto size = text.size();
    if (limit < 0)
        return 0;
    if (coding != Coding::Gsm7Bit)
        return static_cast<int>(std::min<qsizetype>(size, limit));
    // Characters outside the alphabet cost nothing, so they stay when they follow the last
    // character that fits, just as the loop keeps them.
    const char16_t *units = reinterpret_cast<const char16_t *>(text.constData());
    int used = 0;
    for (qsizetype i = 0; i < size; ++i) {
        used += gsmCost(units[i]);
        if (used > limit)
            return static_cast<int>(i);
    }
    return static_cast<int>(size);
}

int fitLengthRedetect(const QString &text, int keep, int fixedLimit) {
    const qsizetype size = text.size();
    const int longest = fixedLimit > 0
                            ? fixedLimit
                            : std::max(codingLimit(Coding::Gsm7Bit), codingLimit(Coding::Ucs2));
    keep = std::clamp<int>(keep, 0, static_cast<int>(size));
    int best = -1;
    bool allGsm = true;
    int septets = 0;
    // A prefix of n code units counts at least n in either coding, so past the largest limit
    // nothing fits any more.
    for (qsizetype n = 0; n <= size && n <= longest; ++n) {
        if (n > 0) {
            const char16_t ch = text[n - 1].unicode();
            if (Lookup[ch] == NotFound)
                allGsm = false;
            else
                septets += gsmCost(ch);
        }
        const Coding coding = allGsm ? Coding::Gsm7Bit : Coding::Ucs2;
        const int count = allGsm ? septets : static_cast<int>(n);
        const int limit = fixedLimit > 0 ? fixedLimit : codingLimit(coding);
        if (count <= limit && n >= keep)
            best = static_cast<int>(n);
    }
    return best < 0 ? keep : best;
}

bool isValidNumber(const QByteArray &number) {
    QByteArray digits, type;
    return splitAddress(number, digits, type);
}

BuildResult buildSubmitPdu(const SmsSubmit &request, PduList &pdus) {
    if (request.isLong)
        return BuildResult::Long;

    QByteArray digits, type;
    if (!splitAddress(request.number, digits, type)) {
        // Leave nothing behind that a caller could send to the previous recipient.
        pdus.clear();
        return BuildResult::InvalidNumber;
    }

    const Coding coding =
        isKnownCoding(request.coding) ? request.coding : detectCoding(request.text);
    const int fit = fitLength(request.text, coding, codingLimit(coding));
    const Encoded userData = encode(request.text.left(fit), coding);

    quint8 dcs = codingDcs(coding);
    if (request.flash)
        dcs |= FlashDcsBit;

    QByteArray hex;
    hex.reserve(2 * 12 + digits.size() + 1 + userData.hex.size());
    appendHexByte(hex, 0x01); // SMS-SUBMIT, no validity period, no status report
    appendHexByte(hex, 0x00); // TP-MR: the phone sets the reference
    appendHexByte(hex, static_cast<int>(digits.size()));
    hex.append(type);
    hex.append(swapSemiOctets(digits));
    appendHexByte(hex, 0x00); // TP-PID
    appendHexByte(hex, dcs);
    appendHexByte(hex, userData.count);
    hex.append(userData.hex);

    pdus = {Pdu{hex, static_cast<qint32>(hex.size() / 2)}};
    return BuildResult::Ok;
}

namespace {

// The user data of one part: the concatenation header, then the part's text. In GSM 7 bit the
// header and one fill bit take the place of the first seven septets, so the text starts on a
// septet boundary.
Encoded partUserData(QStringView text, Coding coding, quint8 reference, int total, int sequence) {
    QByteArray header;
    header.reserve(2 * ConcatHeaderOctets);
    appendHexByte(header, ConcatHeaderOctets - 1);
    appendHexByte(header, 0x00); // concatenated message, 8-bit reference
    appendHexByte(header, 0x03);
    appendHexByte(header, reference);
    appendHexByte(header, total);
    appendHexByte(header, sequence);

    Encoded data;
    switch (coding) {
    case Coding::Gsm7Bit: {
        constexpr int HeaderSeptets = (ConcatHeaderOctets * 8 + 6) / 7;
        const QByteArray septets = QByteArray(HeaderSeptets, '\0') + gsmSeptets(text);
        data.hex = packSeptets(septets);
        data.hex.replace(0, header.size(), header);
        data.count = static_cast<int>(septets.size());
        return data;
    }
    case Coding::EightBit:
        data = encode8Bit(text.toString());
        break;
    case Coding::Ucs2:
        data = encodeUcs2(text.toString());
        break;
    }
    data.hex.prepend(header);
    data.count += ConcatHeaderOctets;
    return data;
}

} // namespace

BuildResult buildSubmitParts(const SmsSubmit &request, PduList &pdus) {
    if (!request.isLong) {
        return buildSubmitPdu(request, pdus);
    }
    const Coding coding =
        isKnownCoding(request.coding) ? request.coding : detectCoding(request.text);
    const QStringView text = QStringView(request.text).left(fitLongLength(request.text, coding));
    const QList<int> ends = partEnds(text, coding);
    if (ends.size() == 1) {
        SmsSubmit single = request;
        single.isLong = false;
        single.coding = coding;
        single.text = text.toString();
        return buildSubmitPdu(single, pdus);
    }

    QByteArray digits, type;
    if (!splitAddress(request.number, digits, type)) {
        pdus.clear();
        return BuildResult::InvalidNumber;
    }
    quint8 dcs = codingDcs(coding);
    if (request.flash)
        dcs |= FlashDcsBit;
    const auto total = static_cast<int>(ends.size());

    PduList parts;
    parts.reserve(total);
    int start = 0;
    for (int k = 0; k < total; ++k) {
        const Encoded userData =
            partUserData(text.mid(start, ends[k] - start), coding, request.reference, total, k + 1);
        start = ends[k];
        QByteArray hex;
        hex.reserve(2 * 12 + digits.size() + 1 + userData.hex.size());
        // SMS-SUBMIT with a user-data header, no validity period, no status report.
        appendHexByte(hex, 0x01 | UserDataHeaderBit);
        appendHexByte(hex, 0x00); // TP-MR: the phone sets the reference
        appendHexByte(hex, static_cast<int>(digits.size()));
        hex.append(type);
        hex.append(swapSemiOctets(digits));
        appendHexByte(hex, 0x00); // TP-PID
        appendHexByte(hex, dcs);
        appendHexByte(hex, userData.count);
        hex.append(userData.hex);
        parts.append(Pdu{hex, static_cast<qint32>(hex.size() / 2)});
    }
    pdus = std::move(parts);
    return BuildResult::Ok;
}
