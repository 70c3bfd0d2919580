#include "sending/SenderThread.h"

#include "base/Error.h"
#include "base/OleDate.h"
#include "data/ContactList.h"
#include "data/MessageList.h"
#include "link/GsmSerial.h"

namespace {

const QByteArray SetupCommands[] = {"AT+CMGF=?", "ATE0", "AT+CMGF=0"};
constexpr char CtrlZ = 26;

// Closes the link however the run ends.
struct LinkCloser {
    GsmSerial &link;
    ~LinkCloser() { link.close(); }
};

} // namespace

SenderThread::SenderThread(MessageList &outbox, ContactList &contacts,
                           const std::function<void()> &refreshAll)
    : m_outbox(outbox), m_contacts(contacts), m_refreshAll(refreshAll) {}

void SenderThread::execute() {
    WorkerThread::execute();
    if (link()->connected()) {
        addReport("Phone already busy");
        stop();
        return;
    }
    try {
        runSession();
    } catch (const Error &e) {
        addReport(e.message().toLocal8Bit());
    }
}

void SenderThread::runSession() {
    GsmSerial &link = *this->link();
    link.port().setPortName(portName ? portName() : QByteArray("COM1"));
    link.open();
    LinkCloser closer{link};
    abortLinkOnStop = true;

    for (const QByteArray &command : SetupCommands) {
        if (!link.executeCommand(command)) {
            // A false result without a stop request is the phone's failure line.
            if (!terminated())
                addReport(link.infoLine());
            return;
        }
        if (terminated())
            break;
    }
    sendMessages();
}

void SenderThread::sendMessages() {
    MessageList &outbox = m_outbox;
    SmsSubmit request;
    PduList pdus;
    int position = 0;
    bool lastOutcome = true;

    while (!terminated() && lastOutcome) {
        // The record is shared: it stays valid if the window deletes it while we send it.
        MessageList::Item current;
        {
            MessageList::Locker items(outbox);
            const int count = static_cast<int>(items->size());
            for (int i = std::min(position, count); i < count; ++i) {
                if ((*items)[i]->status == MessageStatus::Pending) {
                    current = (*items)[i];
                    current->status = MessageStatus::Sending;
                    position = i;
                    break;
                }
            }
            if (current) {
                request.text = current->text;
                request.number = current->number;
                request.flash = current->flash != 0;
                request.isLong = current->isLong != 0;
            }
        }
        if (!current)
            break;
        refreshAll();

        lastOutcome = false;
        try {
            request.coding = detectCoding(request.text);
            pdus.clear();
            switch (buildSubmitPdu(request, pdus)) {
            case BuildResult::Ok:
                lastOutcome = sendPdus(pdus);
                break;
            case BuildResult::Long:
                addReport("Long messages are not supported");
                break;
            case BuildResult::InvalidNumber:
                addReport("Invalid phone number: " + request.number);
                break;
            }
        } catch (...) {
            // The outcome is written before the error goes on to the run's guard.
            {
                MessageList::Locker items(outbox);
                current->status = MessageStatus::Pending;
                const int index = outbox.indexOf(current.get(), position);
                position = index >= 0 ? index + 1 : 0;
            }
            refreshAll();
            throw;
        }

        {
            MessageList::Locker items(outbox);
            if (lastOutcome) {
                current->sent = oleNow();
                current->status = MessageStatus::Sent;
                m_contacts.incSentCount(current->number);
            } else {
                current->status = MessageStatus::Pending;
            }
            // Deletions during the exchange move the records: find ours again, or scan
            // from the start when it is gone (no pending record is skipped that way).
            const int index = outbox.indexOf(current.get(), position);
            position = index >= 0 ? index + 1 : 0;
        }
        refreshAll();
    }
}

bool SenderThread::sendPdus(const PduList &pdus) {
    bool result = false;
    for (const Pdu &pdu : pdus) {
        result = sendPdu("00" + pdu.hex, pdu.length);
        if (!result)
            break;
    }
    return result;
}

bool SenderThread::sendPdu(const QByteArray &pduText, int length) {
    if (terminated())
        return false;
    GsmSerial &link = *this->link();
    bool result = false;
    if (link.sendAndWait("AT+CMGS=" + QByteArray::number(length), "> ", false) && link.resultOk) {
        // The phone is taking the message: a stop must not cut the exchange off.
        abortLinkOnStop = false;
        struct RestoreAbort {
            std::atomic<bool> &flag;
            ~RestoreAbort() { flag = true; }
        } restore{abortLinkOnStop};
        if (!terminated())
            result = link.sendAndWait(pduText + CtrlZ, QByteArray(), true) && link.resultOk;
    }
    if (!result && !terminated())
        addReport(link.infoLine());
    return result;
}

void SenderThread::refreshAll() {
    if (m_refreshAll)
        synchronize(m_refreshAll);
}
