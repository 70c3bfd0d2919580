#pragma once

#include "link/BaseThread.h"
#include "sms/GsmSmsUnit.h"

class TDataModule1;

// The worker that empties the outbox through the phone: PDU mode set-up, then the pending
// messages one by one in outbox order until one is refused, none is left or it is stopped.
// Accepted messages stay in the outbox marked sent until the window moves them.
class TSenderThread : public TBaseThread {
    Q_OBJECT
public:
    explicit TSenderThread(TDataModule1 &data);

protected:
    void Execute() override;

private:
    void Run();
    void SendMessages();
    bool SendPdus(const TPDUs &pdus);
    bool SendPdu(const QByteArray &pduText, int length);
    void RefreshAll();

    TDataModule1 &FData;
};
