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
};

// Cuts the body from its end until the compose text fits, choosing the coding anew for every
// length, in one pass over at most the limit's length of text. A surrogate pair is never
// split. When the subject alone is too long the body is emptied and Count is the real count
// over the limit.
ComposeCount countCompose(const QString &subject, const QString &body, bool longMessage);
