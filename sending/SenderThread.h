#pragma once

#include "link/WorkerThread.h"
#include "sms/SmsSubmit.h"

#include <functional>

class ContactList;
class MessageList;

// The worker that empties the outbox through the phone: PDU mode set-up, then the pending
// messages one by one in outbox order until one is refused, none is left or it is stopped.
// Accepted messages stay in the outbox marked sent until the window moves them.
class SenderThread : public WorkerThread {
    Q_OBJECT
public:
    // refreshAll is read each time it is used (it may be set after the run starts) and runs on
    // the UI thread; it may be empty. All three outlive the run.
    SenderThread(MessageList &outbox, ContactList &contacts,
                 const std::function<void()> &refreshAll);

protected:
    void execute() override;

private:
    void runSession();
    void sendMessages();
    bool sendPdus(const PduList &pdus);
    bool sendPdu(const QByteArray &pduText, int length);
    void refreshAll();

    MessageList &m_outbox;
    ContactList &m_contacts;
    const std::function<void()> &m_refreshAll;
};
