#pragma once

#include "link/WorkerThread.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>

class GsmLink;

// The device probe: a short-lived worker that reads the phone's battery level, manufacturer,
// model and signal strength (AT+CBC, AT+GMI, AT+GMM, AT+CSQ), then what decides whether it
// can send: the SIM card, the network, the operator, the service centre, the signal in dBm and
// the IMEI, and hands them to the UI thread. A row that is not fine ends with what to do. It
// sends no set-up commands and never reports to the phone's report list.
class ProbeThread : public WorkerThread {
    Q_OBJECT
public:
    static constexpr int RowCount = 10;
    // The rows in order: battery level, manufacturer, model, signal strength, then SIM,
    // network, operator, service centre, signal (dBm) and IMEI.
    static const std::array<QByteArray, RowCount> RowCaptions;
    enum Row {
        BatteryRow,
        ManufacturerRow,
        ModelRow,
        SignalStrengthRow,
        SimRow,
        NetworkRow,
        OperatorRow,
        ServiceCentreRow,
        SignalRow,
        ImeiRow,
    };

    enum Outcome {
        Done,    // every command answered OK
        Refused, // the phone refused refusedCommand, one of the first four: the rows of those
                 // before it, and the checks after them
        Failed,  // an error ended the probe (Error): no values
        Busy,    // the link was already open: nothing was sent
    };

    struct Result {
        Outcome outcome = Done;
        std::array<QByteArray, RowCount> values;
        QByteArray refusedCommand;
        QString error;
        // Nothing the checks found stops a sending run (an unanswered check does not).
        bool canSend = true;
    };

    // Runs on the UI thread, the worker waiting, after the link has been closed. Not called
    // when the probe was stopped.
    using DoneEvent = std::function<void(const Result &result)>;

    // serviceCentre: the user's own number for sending runs (empty: the phone's is needed).
    explicit ProbeThread(DoneEvent onDone, QByteArray serviceCentre = {});

    // The probe's sequence on an open link; raises on transport errors and on a signal
    // field that is not a number.
    static Result probe(GsmLink &link, const QByteArray &serviceCentre = {});
    // "Low (v)", "Mid (v)", "High (v)" or "Unknown", v compared as an unsigned number.
    static QByteArray signalText(int value);

protected:
    void execute() override;

private:
    // The rows after the first four.
    static void checkPhone(GsmLink &link, const QByteArray &serviceCentre, int rssi,
                           Result &result);

    DoneEvent m_onDone;
    QByteArray m_serviceCentre;
};
