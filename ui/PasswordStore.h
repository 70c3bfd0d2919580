#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The SMS centre's password in the desktop's password store (Secret Service, KWallet) through
// QtKeychain, never in the settings file. One entry per account: the key names the system ID,
// the host and the port, so that two accounts keep two passwords.
class PasswordStore {
public:
    struct ReadResult {
        std::optional<QByteArray> password; // nothing when none is kept or the store failed
        QString error;                      // why the store could not answer; empty otherwise
    };

    static QString keyFor(const QString &host, quint16 port, const QByteArray &systemId);

    // Each waits for the store (it may ask the user to unlock it) while the window keeps
    // painting.
    static ReadResult read(const QString &key);
    // The store's error in plain words, empty when kept. Either way read gives it back until
    // the program ends.
    static QString write(const QString &key, const QByteArray &password);
    static QString remove(const QString &key);
};
