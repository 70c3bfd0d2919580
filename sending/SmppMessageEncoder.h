#pragma once

#include "smpp/SmppPdu.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A message of the outbox as the short messages of submit_sm: the coding and the parts the
// modem path would send (the same text cut, the same concatenation header), the octets laid out
// for a centre: GSM text as unpacked septets. Pure computation, callable from any thread.

// data_coding values this program sends.
inline constexpr quint8 SmppCodingDefault = 0x00; // the centre's default alphabet: GSM septets
inline constexpr quint8 SmppCodingLatin1 = 0x03;
inline constexpr quint8 SmppCodingUcs2 = 0x08;
// Flash (class 0) messages take the coding group with message class bits: GSM 7 bit, UCS-2.
inline constexpr quint8 SmppCodingGsmClass0 = 0x10;
inline constexpr quint8 SmppCodingUcs2Class0 = 0x18;

struct SmppEncodedMessage {
    quint8 dataCoding = SmppCodingDefault;
    quint8 esmClass = 0; // SmppEsmUdhIndicator when in parts
    // One short_message per part, the concatenation header in front when there are several.
    QList<QByteArray> parts;
};

struct SmppTextOptions {
    bool isLong = false;
    bool flash = false;
    // The centre reads data_coding 0 as Latin-1: a GSM text that Latin-1 holds goes as
    // data_coding 3, a GSM text it does not hold (Greek capitals, the euro sign) as UCS-2.
    bool latin1Default = false;
    quint8 reference = 0; // the concatenation reference of all parts
};

// How many parts the text needs; 1 when it fits one (or is not long, and is then cut to fit).
int smppPartCount(const QString &text, const SmppTextOptions &options);

SmppEncodedMessage encodeSmppText(const QString &text, const SmppTextOptions &options);

// The originator's address: a number ("+4915112345678", "4915112345678") as international
// (TON 1, NPI 1), a name ("Club") as alphanumeric (TON 5, NPI 0), empty for the centre's own.
// Nullopt for a name over 11 characters or a number over 20 digits, which no network carries.
std::optional<SmppAddress> smppSourceAddress(const QString &source);

// The recipient in E.164 (number as the outbox keeps it, already parsed when queued):
// international (TON 1, NPI 1) without the "+"; a short code as typed (TON 0, NPI 1).
SmppAddress smppDestinationAddress(const QByteArray &e164OrShortCode);
