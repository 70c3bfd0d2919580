#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The one error type the program raises: a fixed English message that the caller shows
// as it stands (workers put it into their report list, the window into a message box).
class Error : public std::exception {
public:
    explicit Error(QString message);

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};
