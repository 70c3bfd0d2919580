#pragma once

#include "sms/SmsSubmit.h"

#include <QList>
#include <QString>

// Long messages as concatenated SMS (3GPP TS 23.040 9.2.3.24.1, 8-bit reference): every part
// is an SMS-SUBMIT whose user data starts with the header 05 00 03 <reference> <total> <seq>.
// Pure computation, callable from any thread.

// The user-data header of one part: its length octet and one information element of five.
inline constexpr int ConcatHeaderOctets = 6;
// TP-UDHI in the first octet of an SMS-SUBMIT.
inline constexpr quint8 UserDataHeaderBit = 0x40;

// What one part holds besides the header, in the units of codingLimit: 153 septets (the
// header and one fill bit take seven), 134 octets, 67 UCS-2 code units.
constexpr int partCapacity(Coding coding) {
    constexpr int capacities[CodingCount] = {153, 134, 67};
    return capacities[static_cast<int>(coding)];
}

// A long message holds at most this many units of its coding (septets with an extension
// character counting two, octets, UCS-2 code units) ...
inline constexpr int LongMessageLimit = 1000;
// ... and at most this many parts: enough for the limit in GSM and 8-bit data; in UCS-2 a
// text of surrogate pairs can need more parts than the limit alone would give.
constexpr int maxParts(Coding coding) {
    constexpr int parts[CodingCount] = {7, 8, 15};
    return parts[static_cast<int>(coding)];
}

// Where the parts of a text end, as UTF-16 offsets in order (the last is the text's length).
// A text that fits one message (codingLimit) is one part; otherwise every part but the last
// is as full as partCapacity allows without splitting an escape pair (GSM) or a surrogate
// pair (UCS-2). A code unit that GSM 7 bit cannot encode costs nothing there, as in the
// encoder. No limit on the number of parts: see fitLongLength.
QList<int> partEnds(QStringView text, Coding coding);

// How many leading code units of a text a long message keeps: the longest prefix within
// LongMessageLimit units and maxParts(coding) parts that does not end inside a surrogate pair.
int fitLongLength(QStringView text, Coding coding);

// The number of SMS a message costs: without the long flag always one (the text is cut to
// fit), with it the parts of the text cut to fitLongLength.
int messagePartCount(QStringView text, Coding coding, bool isLong);

// Characters of a text that need UCS-2, for telling the user why a text is not GSM 7 bit.
struct Ucs2Reasons {
    static constexpr int MaxShown = 8;
    QList<char32_t> characters; // distinct, in order of first appearance, at most MaxShown
    bool more = false;          // further distinct characters were left out
    bool lookalikes = false;    // at least one has a GSM look-alike (sms/GsmLookalikes.h)
};

// The compose view's count of a text, found in one pass over at most its limit's length (or
// keep code units, when more).
struct TextFit {
    int length = 0; // leading UTF-16 code units that stay
    Coding coding = Coding::Gsm7Bit;
    int units = 0;       // the count of what stays in its coding (septets or UCS-2 code units)
    int limit = 0;       // codingLimit, or LongMessageLimit for a long message
    int parts = 0;       // SMS that what stays costs: 1 for a message that is not long
    Ucs2Reasons reasons; // for UCS-2: the characters of what stays that made it UCS-2
};

// The cut where the coding is chosen anew for every shorter text: the largest length >= keep
// whose prefix fits its own coding (GSM 7 bit or UCS-2): within codingLimit, or for a long
// message within LongMessageLimit units and maxParts parts. A surrogate pair is never split.
// When no such prefix exists the length is keep (clamped to the text) and its count may exceed
// the limit.
TextFit fitText(QStringView text, int keep, bool isLong);
