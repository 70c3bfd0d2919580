#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The message of the Error that f raises; empty when it raises none.
QString errorMessage(const std::function<void()> &f);

// A file's bytes, or "<missing>" when it cannot be read.
QByteArray readAll(const QString &path);

// Writes a fixture file; a test that cannot write its own fixture stops at once.
void writeAll(const QString &path, const QByteArray &bytes);
