#pragma once

#include <QByteArray>
#include <QList>
#include <QThread>

#include <atomic>
#include <functional>

class TGsmSerial;
class TSettings;

// Base of the worker threads that talk to the phone. A worker is created suspended (not
// started), handed to TPhone::Start, and destroys itself after its end handler has run on
// the UI thread. It reaches the UI thread only through Synchronize.
class TBaseThread : public QThread {
    Q_OBJECT
public:
    TBaseThread();
    ~TBaseThread() override;

    // Both set by TPhone::Start before the thread runs.
    void SetLink(TGsmSerial *link) { FLink = link; }
    TGsmSerial *Link() const { return FLink; }
    QList<QByteArray> *Reports = nullptr;
    // Where the worker reads the port name just before it opens the link.
    TSettings *Settings = nullptr;

    // Whether Stop also aborts the link's current wait. A worker clears it for the one
    // exchange that must run to its end (the phone taking a message body).
    std::atomic<bool> AbortLinkOnStop{true};

    // Terminate request, then (while allowed) the link's Aborted latch.
    void Stop();
    bool Terminated() const { return isInterruptionRequested(); }

protected:
    // The thread body; workers call the base first, then do their own work.
    virtual void Execute() {}
    void AddReport(const QByteArray &line);
    // Runs fn on the UI thread and waits for it; runs it at once when already there.
    static void Synchronize(const std::function<void()> &fn);

private:
    void run() final;

    TGsmSerial *FLink = nullptr;
};
