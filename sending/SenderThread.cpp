#include "sending/SenderThread.h"

#include "app/Database.h"
#include "app/Errors.h"
#include "app/Setting.h"
#include "data/OleDate.h"
#include "link/GsmSerial.h"

namespace {

const QByteArray SetupCommands[] = {"AT+CMGF=?", "ATE0", "AT+CMGF=0"};
constexpr char CtrlZ = 26;

// Closes the link however the run ends.
struct TLinkCloser {
    TGsmSerial &Link;
    ~TLinkCloser() { Link.Close(); }
};

} // namespace

TSenderThread::TSenderThread(TDataModule1 &data) : FData(data) {}

void TSenderThread::Execute() {
    TBaseThread::Execute();
    if (Link()->Connected()) {
        AddReport("Phone already busy");
        Stop();
        return;
    }
    try {
        Run();
    } catch (const EPelorvane &e) {
        AddReport(e.Message().toLocal8Bit());
    }
}

void TSenderThread::Run() {
    TGsmSerial &link = *Link();
    link.Port().SetPortName(Settings ? Settings->ComPortName() : QByteArray("COM1"));
    link.Open();
    TLinkCloser closer{link};
    AbortLinkOnStop = true;

    for (const QByteArray &command : SetupCommands) {
        if (!link.ExecuteCommand(command)) {
            // A false result without a stop request is the phone's failure line.
            if (!Terminated())
                AddReport(link.InfoLine());
            return;
        }
        if (Terminated())
            break;
    }
    SendMessages();
}

void TSenderThread::SendMessages() {
    TMessageList &outbox = *FData.OutboxList;
    TSmsSubmit request;
    TPDUs pdus;
    int position = 0;
    bool lastOutcome = true;

    while (!Terminated() && lastOutcome) {
        // The record is shared: it stays valid if the window deletes it while we send it.
        TMessageList::TItem current;
        {
            TMessageList::TLocker items(outbox);
            const int count = static_cast<int>(items->size());
            for (int i = std::min(position, count); i < count; ++i) {
                if ((*items)[i]->Status == msPending) {
                    current = (*items)[i];
                    current->Status = msSending;
                    position = i;
                    break;
                }
            }
            if (current) {
                request.Text = current->Text;
                request.Number = current->Number;
                request.Flash = current->Flash != 0;
                request.Long = current->Long != 0;
            }
        }
        if (!current)
            break;
        RefreshAll();

        lastOutcome = false;
        try {
            request.Coding = DetectCoding(request.Text);
            pdus.clear();
            switch (BuildSubmitPdu(request, pdus)) {
            case brOk:
                lastOutcome = SendPdus(pdus);
                break;
            case brLong:
                AddReport("Long messages are not supported");
                break;
            case brInvalidNumber:
                AddReport("Invalid phone number: " + request.Number);
                break;
            }
        } catch (...) {
            // The outcome is written before the error goes on to the run's guard.
            {
                TMessageList::TLocker items(outbox);
                current->Status = msPending;
                const int index = outbox.IndexOf(current.get(), position);
                position = index >= 0 ? index + 1 : 0;
            }
            RefreshAll();
            throw;
        }

        {
            TMessageList::TLocker items(outbox);
            if (lastOutcome) {
                current->Sent = OleNow();
                current->Status = msSent;
                FData.ContactList->IncSentCount(current->Number);
            } else {
                current->Status = msPending;
            }
            // Deletions during the exchange move the records: find ours again, or scan
            // from the start when it is gone (no pending record is skipped that way).
            const int index = outbox.IndexOf(current.get(), position);
            position = index >= 0 ? index + 1 : 0;
        }
        RefreshAll();
    }
}

bool TSenderThread::SendPdus(const TPDUs &pdus) {
    bool result = false;
    for (const TPDU &pdu : pdus) {
        result = SendPdu("00" + pdu.Hex, pdu.Length);
        if (!result)
            break;
    }
    return result;
}

bool TSenderThread::SendPdu(const QByteArray &pduText, int length) {
    if (Terminated())
        return false;
    TGsmSerial &link = *Link();
    bool result = false;
    if (link.SendAndWait("AT+CMGS=" + QByteArray::number(length), "> ", false) && link.ResultOk) {
        // The phone is taking the message: a stop must not cut the exchange off.
        AbortLinkOnStop = false;
        struct TRestoreAbort {
            std::atomic<bool> &Flag;
            ~TRestoreAbort() { Flag = true; }
        } restore{AbortLinkOnStop};
        if (!Terminated())
            result = link.SendAndWait(pduText + CtrlZ, QByteArray(), true) && link.ResultOk;
    }
    if (!result && !Terminated())
        AddReport(link.InfoLine());
    return result;
}

void TSenderThread::RefreshAll() {
    if (FData.OnRefreshAll)
        Synchronize(FData.OnRefreshAll);
}
