#include "sending/SenderThread.h"

#include "base/Error.h"
#include "base/OleDate.h"
#include "data/ContactList.h"
#include "data/MessageList.h"
#include "link/GsmSerial.h"
#include "sms/SmsParts.h"

namespace {

const QByteArray SetupCommands[] = {"AT+CMGF=?", "ATE0", "AT+CMGF=0"};
constexpr char CtrlZ = 26;
// One bit per part in Message::acceptedParts.
static_assert(maxParts(Coding::Gsm7Bit) <= 16 && maxParts(Coding::EightBit) <= 16 &&
              maxParts(Coding::Ucs2) <= 16);

// Closes the link however the run ends.
struct LinkCloser {
    GsmSerial &link;
    ~LinkCloser() { link.close(); }
};

} // namespace

SenderThread::SenderThread(MessageList &outbox, ContactList &contacts,
                           const std::function<void()> &refreshAll, ReferenceSource nextReference,
                           OutcomeLog &log)
    : m_outbox(outbox), m_contacts(contacts), m_refreshAll(refreshAll),
      m_nextReference(std::move(nextReference)), m_log(log) {}

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
        quint16 accepted = 0;
        int reference = -1;
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
                accepted = current->acceptedParts;
                reference = current->partReference;
            }
        }
        if (!current)
            break;
        refreshAll();

        lastOutcome = false;
        try {
            request.coding = detectCoding(request.text);
            // Taken once per message and kept with it, so that the parts of a later attempt
            // join the ones the phone has already accepted.
            if (request.isLong && reference < 0 && isValidNumber(request.number) &&
                messagePartCount(request.text, request.coding, true) > 1) {
                reference = takeReference();
                MessageList::Locker items(outbox);
                current->partReference = static_cast<qint16>(reference);
            }
            request.reference = static_cast<quint8>(std::max(reference, 0));
            if (buildSubmitParts(request, pdus) == BuildResult::InvalidNumber)
                addReport("Invalid phone number: " + request.number);
            else
                lastOutcome = sendPdus(pdus, *current, accepted);
        } catch (...) {
            // The outcome is written before the error goes on to the run's guard; when the log
            // is what failed, it is made in memory only.
            auto backToPending = [&] {
                MessageList::Locker items(outbox);
                current->status = MessageStatus::Pending;
                return *current;
            };
            try {
                m_log.commit(backToPending);
            } catch (const Error &) {
                backToPending();
            }
            {
                MessageList::Locker items(outbox);
                const int index = outbox.indexOf(current.get(), position);
                position = index >= 0 ? index + 1 : 0;
            }
            refreshAll();
            throw;
        }

        m_log.commit([&] {
            MessageList::Locker items(outbox);
            if (lastOutcome) {
                // The last part's time: the message is complete only now.
                current->sent = oleNow();
                current->status = MessageStatus::Sent;
                m_contacts.incSentCount(current->number);
            } else {
                current->status = MessageStatus::Pending;
            }
            return *current;
        });
        {
            MessageList::Locker items(outbox);
            // Deletions during the exchange move the records: find ours again, or scan
            // from the start when it is gone (no pending record is skipped that way).
            const int index = outbox.indexOf(current.get(), position);
            position = index >= 0 ? index + 1 : 0;
        }
        refreshAll();
    }
}

// Sends, in order, the PDUs whose bit in accepted is clear; for a message in parts every part
// the phone accepts is noted in the record at once. False at the first one not accepted.
bool SenderThread::sendPdus(const PduList &pdus, Message &record, quint16 accepted) {
    if (pdus.isEmpty())
        return false;
    const bool inParts = pdus.size() > 1;
    for (qsizetype k = 0; k < pdus.size(); ++k) {
        const auto bit = static_cast<quint16>(1u << k);
        if (inParts && (accepted & bit))
            continue;
        if (!sendPdu("00" + pdus[k].hex, pdus[k].length, record))
            return false;
        if (inParts) {
            m_log.commit([&] {
                MessageList::Locker items(m_outbox);
                record.acceptedParts |= bit;
                return record;
            });
        }
    }
    return true;
}

quint8 SenderThread::takeReference() {
    if (m_nextReference)
        return m_nextReference();
    return static_cast<quint8>(m_ownReference++ & 0xFF);
}

bool SenderThread::sendPdu(const QByteArray &pduText, int length, const Message &record) {
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
        if (!terminated()) {
            // Durable before the body goes: should the program end now, the message is known
            // to be possibly sent.
            Message taking;
            {
                MessageList::Locker items(m_outbox);
                taking = record;
            }
            m_log.inFlight(taking);
            result = link.sendAndWait(pduText + CtrlZ, QByteArray(), true) && link.resultOk;
        }
    }
    if (!result && !terminated())
        addReport(link.infoLine());
    return result;
}

void SenderThread::refreshAll() {
    if (m_refreshAll)
        synchronize(m_refreshAll);
}
