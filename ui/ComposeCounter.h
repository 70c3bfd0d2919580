#pragma once

#include "app/ComposeOutbox.h"
#include "sms/SmsParts.h"
#include "sms/SmsSubmit.h"

#include <QString>

// The counter of the compose view: which coding the message takes, how many units and SMS it
// uses and how much of the body stays so that it fits (one SMS, or a long message's limit).
struct ComposeCount {
    Coding coding = Coding::Gsm7Bit;
    int count = 0;            // units of the compose text that is kept
    int limit = 0;            // the coding's limit, or LongMessageLimit for a long message
    int parts = 0;            // SMS the kept compose text costs; 0 when it is empty
    qsizetype bodyLength = 0; // UTF-16 code units of the body that stay
    Ucs2Reasons reasons;      // why the kept text is UCS-2
    bool fits = true;         // the whole compose text fits: nothing of the body would go
};

// Cuts the body from its end until the compose text fits, choosing the coding anew for every
// length, in one pass over at most the limit's length of text. A surrogate pair is never
// split. When the subject alone is too long the body is emptied and Count is the real count
// over the limit.
ComposeCount countCompose(const QString &subject, const QString &body, bool longMessage);

// The whole compose text as it is, nothing cut: its coding and count, and whether it fits
// (bodyLength tells how much of the body would stay when it does not). Linear in the text.
ComposeCount measureCompose(const QString &subject, const QString &body, bool longMessage);

// How far a count is over its limit (negative while there is room); a long message that has
// run out of parts counts as over.
int composeOverflow(const ComposeCount &count);
