#pragma once

#include "link/WorkerThread.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>

class GsmLink;

// The device probe: a short-lived worker that reads the phone's battery level, manufacturer,
// model and signal strength (AT+CBC, AT+GMI, AT+GMM, AT+CSQ) and hands them to the UI thread.
// It sends no set-up commands and never reports to the phone's report list.
class ProbeThread : public WorkerThread {
    Q_OBJECT
public:
    static constexpr int RowCount = 4;
    // The rows in order: battery level, manufacturer, model, signal strength.
    static const std::array<QByteArray, RowCount> RowCaptions;

    enum Outcome {
        Done,    // every command answered OK
        Refused, // the phone refused refusedCommand: the values gathered before it
        Failed,  // an error ended the probe (Error): no values
        Busy,    // the link was already open: nothing was sent
    };

    struct Result {
        Outcome outcome = Done;
        std::array<QByteArray, RowCount> values;
        QByteArray refusedCommand;
        QString error;
    };

    // Runs on the UI thread, the worker waiting, after the link has been closed. Not called
    // when the probe was stopped.
    using DoneEvent = std::function<void(const Result &result)>;

    explicit ProbeThread(DoneEvent onDone);

    // The probe's sequence on an open link; raises on transport errors and on a signal
    // field that is not a number.
    static Result probe(GsmLink &link);
    // "Low (v)", "Mid (v)", "High (v)" or "Unknown", v compared as an unsigned number.
    static QByteArray signalText(int value);

protected:
    void execute() override;

private:
    DoneEvent m_onDone;
};
