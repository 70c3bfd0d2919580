#pragma once

#include "base/OleDate.h"
#include "data/MessageList.h"

// Adds count messages "message 1".. to numbers 5550101.., made now: the outbox of a run fixture.
inline void addNumberedMessages(MessageList &list, int count) {
    for (int i = 1; i <= count; ++i) {
        Message message;
        message.number = QByteArray::number(5550100 + i);
        message.text = QStringLiteral("message %1").arg(i);
        message.created = oleNow();
        list.add(message);
    }
}
