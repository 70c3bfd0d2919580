#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The one error type the program raises: a fixed English message that the caller shows
// as it stands (workers put it into their report list, the window into a message box).
class EPelorvane : public std::exception {
public:
    explicit EPelorvane(QString message);

    const QString &Message() const noexcept { return FMessage; }
    const char *what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};
