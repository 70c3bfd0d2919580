#pragma once

#include "app/ComposeOutbox.h"

#include <QList>
#include <QString>
#include <QStringList>

// How much room one text takes, counted by the encoder's own rules (sms/SmsParts.h): GSM 7 bit
// when every character is in the GSM basic or extension table, else UCS-2; units are septets
// (an extension character is two) or UTF-16 code units; parts is the number of SMS the whole
// text needs as a long message (partEnds: one up to 160 septets or 70 code units, else parts
// of 153 or 67 that never split an escape pair or a surrogate pair).
struct TextSize {
    bool ucs2 = false;
    int units = 0;
    int parts = 1;
    // More than a long message holds (LongMessageLimit units or maxParts parts): the encoder
    // sends only what fits.
    bool overLongLimit = false;
};
TextSize measureText(const QString &text);

// The worst case of a personal message over its recipients, worked out before anything is
// queued. Indices are positions in the recipient list given to analyseCompose.
struct ComposeAnalysis {
    // Placeholders nobody knows: the text cannot be queued.
    QStringList unknownPlaceholders;
    // Recipients whose number can be sent; only they are looked at.
    int recipientCount = 0;
    // The SMS each recipient's text needs; 0 for a recipient whose number cannot be sent.
    QList<int> parts;
    // The recipient with the most parts (then the most units; the first of equals), or -1
    // when there is none, with its text and size.
    int longest = -1;
    QString longestText;
    TextSize longestSize;
    // The fewest parts any recipient needs, and the recipients that need more.
    int fewestParts = 0;
    QList<int> moreParts;
    // The recipients whose text needs more than one SMS: without the long flag it is cut.
    QList<int> overOneSms;
    // The recipients whose text is more than even a long message holds.
    QList<int> overLongLimit;
    // The text needs UCS-2 whoever receives it.
    bool textNeedsUcs2 = false;
    // When it does not: the recipients whose name or number makes it UCS-2, in order.
    QList<int> ucs2Recipients;
};

// One pass over the recipients; the texts themselves are built only for the longest one and
// for those that need more than one part. 10,000 recipients take a few milliseconds.
ComposeAnalysis analyseCompose(const QString &subject, const QString &body,
                               const QList<Recipient> &recipients);
