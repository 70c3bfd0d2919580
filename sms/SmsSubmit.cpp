#include "sms/GsmSmsUnit.h"

#include <algorithm>
#include <array>

namespace {

// One byte per UTF-16 code unit: NotFound, or the septet with EscapedBit for the extension
// table. Filled last-to-first so that the first hit of each table wins.
constexpr quint8 NotFound = 0xFF;
constexpr quint8 EscapedBit = 0x80;

constexpr std::array<quint8, 0x10000> BuildLookup() {
    std::array<quint8, 0x10000> table{};
    for (auto &entry : table)
        entry = NotFound;
    for (int i = std::size(GsmExtensionTable) - 1; i >= 0; --i)
        table[GsmExtensionTable[i].Char] = EscapedBit | GsmExtensionTable[i].Septet;
    for (int septet = 127; septet >= 0; --septet)
        table[GsmBasicTable[septet]] = static_cast<quint8>(septet);
    return table;
}

constexpr std::array<quint8, 0x10000> Lookup = BuildLookup();

// Septets one code unit costs in GSM 7 bit.
inline int GsmCost(char16_t ch) {
    const quint8 entry = Lookup[ch];
    return entry == NotFound ? 0 : (entry & EscapedBit) ? 2 : 1;
}

void AppendHexByte(QByteArray &out, int value) {
    out.append(HexDigit(value >> 4));
    out.append(HexDigit(value));
}

constexpr int MaxAddressDigits = 20; // TP-DA holds at most ten octets of semi-octets

// The address digits and type of a number, or false when they are not usable.
bool SplitAddress(const QByteArray &number, QByteArray &digits, QByteArray &type) {
    digits = number;
    digits.replace('-', QByteArray());
    type = AddressType(digits);
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

bool IsKnownCoding(TCoding coding) {
    return coding < CodingCount;
}

} // namespace

TGsmLookup LookupGsmChar(QChar ch) {
    const quint8 entry = Lookup[ch.unicode()];
    if (entry == NotFound)
        return {};
    return {true, (entry & EscapedBit) != 0, static_cast<quint8>(entry & 0x7F)};
}

TCoding DetectCoding(const QString &text) {
    bool allGsm = true;
    for (QChar ch : text) {
        if (Lookup[ch.unicode()] == NotFound) {
            allGsm = false;
            break;
        }
    }
    if (allGsm)
        return cdGsm7Bit;
    for (QChar ch : text) {
        if (ch.unicode() > 0xFF)
            return cdUcs2;
    }
    return cd8Bit;
}

TEncoded EncodeGsm7(const QString &text) {
    QByteArray septets;
    septets.reserve(text.size() * 2);
    for (QChar ch : text) {
        const TGsmLookup hit = LookupGsmChar(ch);
        if (!hit.Found)
            continue;
        if (hit.Escaped)
            septets.append(static_cast<char>(GsmEscape));
        septets.append(static_cast<char>(hit.Septet));
    }
    return {PackSeptets(septets), static_cast<int>(septets.size())};
}

TEncoded Encode8Bit(const QString &text) {
    TEncoded result;
    result.Hex.reserve(text.size() * 2);
    for (QChar ch : text)
        AppendHexByte(result.Hex, ch.unicode() & 0xFF);
    result.Count = static_cast<int>(text.size());
    return result;
}

TEncoded EncodeUcs2(const QString &text) {
    TEncoded result;
    result.Hex.reserve(text.size() * 4);
    for (QChar ch : text) {
        AppendHexByte(result.Hex, ch.unicode() >> 8);
        AppendHexByte(result.Hex, ch.unicode() & 0xFF);
    }
    result.Count = static_cast<int>(text.size() * 2);
    return result;
}

TEncoded Encode(const QString &text, TCoding coding) {
    switch (coding) {
    case cdGsm7Bit:
        return EncodeGsm7(text);
    case cd8Bit:
        return Encode8Bit(text);
    case cdUcs2:
        break;
    }
    return EncodeUcs2(text);
}

QByteArray PackSeptets(const QByteArray &septets) {
    const auto n = septets.size();
    QByteArray hex;
    hex.reserve((n - n / 8) * 2);
    int shift = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const int current = static_cast<quint8>(septets[i]) & 0x7F;
        const int next = i + 1 < n ? static_cast<quint8>(septets[i + 1]) : 0;
        AppendHexByte(hex, (current >> shift) | ((next << (7 - shift)) & 0xFF));
        if (shift == 6) {
            ++i; // the next septet went whole into this octet
            shift = 0;
        } else {
            ++shift;
        }
    }
    return hex;
}

QByteArray SwapSemiOctets(const QByteArray &digits) {
    QByteArray swapped = digits;
    if (swapped.size() % 2 != 0)
        swapped.append('F');
    for (qsizetype i = 0; i + 1 < swapped.size(); i += 2)
        std::swap(swapped[i], swapped[i + 1]);
    return swapped;
}

QByteArray AddressType(const QByteArray &number) {
    return number.startsWith('+') ? QByteArrayLiteral("91") : QByteArrayLiteral("81");
}

char HexDigit(int value) {
    return "0123456789ABCDEF"[value & 0x0F];
}

int CountUnits(const QString &text, TCoding coding) {
    if (coding != cdGsm7Bit)
        return static_cast<int>(text.size());
    int septets = 0;
    for (QChar ch : text)
        septets += GsmCost(ch.unicode());
    return septets;
}

int FitLength(const QString &text, TCoding coding, int limit) {
    const auto size = text.size();
    if (limit < 0)
        return 0;
    if (coding != cdGsm7Bit)
        return static_cast<int>(std::min<qsizetype>(size, limit));
    // Characters outside the alphabet cost nothing, so they stay when they follow the last
    // character that fits, just as the loop keeps them.
    const char16_t *units = reinterpret_cast<const char16_t *>(text.constData());
    int used = 0;
    for (qsizetype i = 0; i < size; ++i) {
        used += GsmCost(units[i]);
        if (used > limit)
            return static_cast<int>(i);
    }
    return static_cast<int>(size);
}

int FitLengthRedetect(const QString &text, int keep, int fixedLimit) {
    const qsizetype size = text.size();
    const int longest =
        fixedLimit > 0 ? fixedLimit : std::max({CodingLimit[0], CodingLimit[1], CodingLimit[2]});
    keep = std::clamp<int>(keep, 0, static_cast<int>(size));
    int best = -1;
    bool allGsm = true;
    bool above8Bit = false;
    int septets = 0;
    // A prefix of n code units counts at least n in every coding, so past the largest limit
    // nothing fits any more.
    for (qsizetype n = 0; n <= size && n <= longest; ++n) {
        if (n > 0) {
            const char16_t ch = text[n - 1].unicode();
            if (Lookup[ch] == NotFound)
                allGsm = false;
            else
                septets += GsmCost(ch);
            above8Bit = above8Bit || ch > 0xFF;
        }
        const TCoding coding = allGsm ? cdGsm7Bit : above8Bit ? cdUcs2 : cd8Bit;
        const int count = allGsm ? septets : static_cast<int>(n);
        const int limit = fixedLimit > 0 ? fixedLimit : CodingLimit[coding];
        if (count <= limit && n >= keep)
            best = static_cast<int>(n);
    }
    return best < 0 ? keep : best;
}

bool IsValidNumber(const QByteArray &number) {
    QByteArray digits, type;
    return SplitAddress(number, digits, type);
}

TBuildResult BuildSubmitPdu(const TSmsSubmit &request, TPDUs &pdus) {
    if (request.Long)
        return brLong;

    QByteArray digits, type;
    if (!SplitAddress(request.Number, digits, type)) {
        // Leave nothing behind that a caller could send to the previous recipient.
        pdus.clear();
        return brInvalidNumber;
    }

    const TCoding coding =
        IsKnownCoding(request.Coding) ? request.Coding : DetectCoding(request.Text);
    const int fit = FitLength(request.Text, coding, CodingLimit[coding]);
    const TEncoded userData = Encode(request.Text.left(fit), coding);

    quint8 dcs = CodingDcs[coding];
    if (request.Flash)
        dcs |= FlashDcsBit;

    QByteArray hex;
    hex.reserve(2 * 12 + digits.size() + 1 + userData.Hex.size());
    AppendHexByte(hex, 0x01); // SMS-SUBMIT, no validity period, no status report
    AppendHexByte(hex, 0x00); // TP-MR: the phone sets the reference
    AppendHexByte(hex, static_cast<int>(digits.size()));
    hex.append(type);
    hex.append(SwapSemiOctets(digits));
    AppendHexByte(hex, 0x00); // TP-PID
    AppendHexByte(hex, dcs);
    AppendHexByte(hex, userData.Count);
    hex.append(userData.Hex);

    pdus = {TPDU{hex, static_cast<qint32>(hex.size() / 2)}};
    return brOk;
}
