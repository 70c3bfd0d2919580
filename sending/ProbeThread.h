#pragma once

#include "link/BaseThread.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>

class TGsmLink;

// The device probe: a short-lived worker that reads the phone's battery level, manufacturer,
// model and signal strength (AT+CBC, AT+GMI, AT+GMM, AT+CSQ) and hands them to the UI thread.
// It sends no set-up commands and never reports to the phone's report list.
class TGetInfoThread : public TBaseThread {
    Q_OBJECT
public:
    static constexpr int RowCount = 4;
    // The rows in order: battery level, manufacturer, model, signal strength.
    static const std::array<QByteArray, RowCount> RowCaptions;

    enum TOutcome {
        poDone,    // every command answered OK
        poRefused, // the phone refused RefusedCommand: the values gathered before it
        poFailed,  // an error ended the probe (Error): no values
        poBusy,    // the link was already open: nothing was sent
    };

    struct TResult {
        TOutcome Outcome = poDone;
        std::array<QByteArray, RowCount> Values;
        QByteArray RefusedCommand;
        QString Error;
    };

    // Runs on the UI thread, the worker waiting, after the link has been closed. Not called
    // when the probe was stopped.
    using TDoneEvent = std::function<void(const TResult &result)>;

    explicit TGetInfoThread(TDoneEvent onDone);

    // The probe's sequence on an open link; raises on transport errors and on a signal
    // field that is not a number.
    static TResult Probe(TGsmLink &link);
    // "Low (v)", "Mid (v)", "High (v)" or "Unknown", v compared as an unsigned number.
    static QByteArray SignalText(int value);

protected:
    void Execute() override;

private:
    TDoneEvent FOnDone;
};
