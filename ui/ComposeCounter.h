#pragma once

#include "app/ComposeOutbox.h"
#include "sms/SmsSubmit.h"

#include <QString>

// The counter of the compose view: which coding the message takes, how many units it uses
// and how much of the body stays so that it fits one message.
struct ComposeCount {
    Coding coding = Coding::Gsm7Bit;
    int count = 0;            // units of the compose text that is kept
    int limit = 0;            // the coding's limit, or LongLimit for a long message
    qsizetype bodyLength = 0; // UTF-16 code units of the body that stay
};

inline constexpr int LongLimit = 1000;

// Cuts the body from its end until the compose text fits its own coding's limit, choosing the
// coding anew for every length, in one pass over at most the limit's length of text. A
// surrogate pair is never split: the shorter text still fits. When the subject alone is too
// long the body is emptied and Count is the real count over the limit.
ComposeCount countCompose(const QString &subject, const QString &body, bool longMessage);
