#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What a refusal means for a sending run.
enum class RefusalClass {
    Permanent,  // this message can never go (the number is not in use, ...): it fails, the run
                // goes on
    Transient,  // it may go later (the network is busy, ...): it is tried again after a while
    PhoneLevel, // no message can go until someone acts (no SIM card, no service centre, ...)
};

// A final error line of the phone, read: "+CMS ERROR: n" (GSM 07.05 / 3GPP TS 27.005 3.2.5),
// "+CME ERROR: n" (GSM 07.07 / 3GPP TS 27.007 9.2), the same with the standard's words in place
// of n, or a plain "ERROR".
struct PhoneRefusal {
    enum class Kind { Plain, Cms, Cme };

    Kind kind = Kind::Plain;
    int code = -1; // -1 for a plain ERROR and for words the table does not know
    RefusalClass refusalClass = RefusalClass::Transient;
    QString reason; // plain words for the user ("number not in use")
    QString advice; // what the user can do, for PhoneLevel; empty otherwise
};

// One row of the table: the codes first..last of one kind. The reasons and advice are what
// the user reads; standardText is the standard's own wording, which a phone set to give words
// (AT+CMEE=2) sends in place of the number.
struct RefusalRow {
    PhoneRefusal::Kind kind;
    int first;
    int last;
    RefusalClass refusalClass;
    const char *reason;
    const char *advice;
    const char *standardText;
};

// The rows in the order they are looked up: single codes before the ranges that hold them.
const QList<RefusalRow> &refusalTable();

// Reads a final error line; a line of neither kind, and a number or words the table does not
// hold, give a Transient refusal.
PhoneRefusal readRefusal(const QByteArray &line);

// The advice given when the phone refuses the same way whatever it is asked to send.
QString sameRefusalAdvice();
