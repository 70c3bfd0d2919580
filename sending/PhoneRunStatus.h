#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Where one phone of a run with several stands, for the status bar and the command line's
// progress: "ttyUSB2: paused — SIM blocked".
struct PhoneRunStatus {
    enum class State {
        Starting, // opening the port, readying the phone
        Sending,
        Waiting, // held by the pace (quiet hours, a cap); detail says until when
        Paused,  // this phone sends no more in this run; detail says why
        Done,    // no message left for it
    };

    // The port as the user gave it.
    QByteArray port;
    State state = State::Starting;
    // Messages this phone got accepted in this run.
    int sent = 0;
    // Why the phone is paused ("SIM blocked", "refused 3 times: +CMS ERROR: 500"), or what it
    // waits for; empty otherwise.
    QString detail;

    // The phone's part of the line; withWord adds " sent" after the count (the first phone's).
    QString text(bool withWord = true) const;
    // The same without the port: "120 sent", "paused — SIM blocked".
    QString stateText(bool withWord = true) const;
    // "ttyUSB0: 120 sent, ttyUSB1: 118, ttyUSB2: paused — SIM blocked".
    static QString line(const QList<PhoneRunStatus> &phones);
};
