#pragma once

#include "data/MessageList.h"
#include "data/OutcomeLog.h"
#include "link/WorkerThread.h"
#include "sms/SmsSubmit.h"

#include <functional>

class ContactList;

// The worker that empties the outbox through the phone: PDU mode set-up, then the pending
// messages one by one in outbox order until one is refused, none is left or it is stopped.
// Accepted messages stay in the outbox marked sent until the window moves them. A long message
// that does not fit one SMS goes as concatenated parts; the parts the phone accepted are noted
// in the record, and a message with a refused or unsent part goes back to pending.
class SenderThread : public WorkerThread {
    Q_OBJECT
public:
    // Gives the concatenation reference for a message that goes in parts.
    using ReferenceSource = std::function<quint8()>;

    // refreshAll is read each time it is used (it may be set after the run starts) and runs on
    // the UI thread; it may be empty. All three outlive the run. nextReference is called on
    // the worker thread once per message sent in parts (a later attempt reuses the message's
    // reference); without one the run counts references from 0 itself. Every outcome goes
    // through log, which outlives the run too.
    SenderThread(MessageList &outbox, ContactList &contacts,
                 const std::function<void()> &refreshAll, ReferenceSource nextReference,
                 OutcomeLog &log);

protected:
    void execute() override;

private:
    void runSession();
    void sendMessages();
    bool sendPdus(const PduList &pdus, Message &record, quint16 accepted);
    bool sendPdu(const QByteArray &pduText, int length, const Message &record);
    quint8 takeReference();
    void refreshAll();

    MessageList &m_outbox;
    ContactList &m_contacts;
    const std::function<void()> &m_refreshAll;
    ReferenceSource m_nextReference;
    OutcomeLog &m_log;
    int m_ownReference = 0;
};
