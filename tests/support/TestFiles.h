#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The message of the EPelorvane that f raises; empty when it raises none.
QString ErrorMessage(const std::function<void()> &f);

// A file's bytes, or "<missing>" when it cannot be read.
QByteArray ReadAll(const QString &path);

// Writes a fixture file; a test that cannot write its own fixture stops at once.
void WriteAll(const QString &path, const QByteArray &bytes);
