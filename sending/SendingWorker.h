#pragma once

#include "link/WorkerThread.h"
#include "sending/PhoneRunStatus.h"
#include "sending/RunProgress.h"
#include "sending/RunSummary.h"

// A worker that empties the outbox (through one phone, several, or an SMS centre): what the
// window and the command line read of a run, whatever sends it.
class SendingWorker : public WorkerThread {
    Q_OBJECT
public:
    // What the run did; read it once the run has ended (the phone's end handler).
    virtual const RunSummary &summary() const = 0;
    // How far the run has got; readable from any thread while it runs.
    virtual const RunProgress &progress() const = 0;
    // Where each phone of a run over several stands, in the order of the ports; empty for a
    // run through one phone. Readable from any thread while the run goes.
    virtual QList<PhoneRunStatus> phoneStatuses() const { return {}; }
};
