#pragma once

#include "tools/cli/Cli.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class AppData;

// "--smpp HOST:PORT" and the options that go with it: the SMS centre a command talks to for
// this run only; the stored settings are never changed. The password comes from
// --password-file (its first line) or the environment variable PELORVANE_SMPP_PASSWORD.
struct SmppChoice {
    QString host;
    int port = 0;
    QString systemId;
    QString systemType;
    QString passwordFile;
    std::optional<QString> source;
    std::optional<bool> tls;
    QString certificate; // trusted besides the system's certificates; needs --tls
    std::optional<bool> transmitter;
    std::optional<bool> receipts;
    std::optional<int> window;
    std::optional<double> rate;
    std::optional<bool> latin1;

    // Takes args[i] (and its value) when it is one of the options; false when it is not. A
    // missing or wrong value sets error.
    bool take(const QStringList &args, int &i, QString &error);
    bool given() const { return !host.isEmpty(); }
    // An option of the group without --smpp, or --smpp without --system-id: why that is wrong.
    QString problem() const;
    // Gives the data module the password, and with --smpp makes its runs and probes go to the
    // centre; ExitOk, or the status to exit with after telling the user (a password file that
    // cannot be read).
    int apply(AppData &data, CliContext &context) const;

private:
    bool m_optionsGiven = false;
};
