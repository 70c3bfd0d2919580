#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>

// Replaces the content of fileName with bytes so that neither a failure nor a crash costs the
// previous content. A new file is written beside the old one, synced, given the old one's
// mode, owner and group, and renamed over it. When the folder cannot take a new file (or the
// owner could not be kept) but the file itself is writable, the file is rewritten in place:
// its old content is first kept in a backup in the state folder, which readFileSafely uses
// should the rewrite be cut off, and is put back at once when a write fails. Every write is
// checked. On failure the previous file is left as it was and Error is raised:
// "Cannot write NAME: " and the system's reason ("No space left on device").
void writeFileSafely(const QString &fileName, const QByteArray &bytes);

// The same with the content made by write on a buffer; an exception from write is passed on
// and nothing is written.
void writeFileSafely(const QString &fileName, const std::function<void(QIODevice &device)> &write);

// The content of a file written by writeFileSafely: its bytes, or, when a rewrite in place was
// cut off half-way (a power loss, a kill), the content it had before. Only reads. Raises
// Error with the file's own error when it cannot be read.
QByteArray readFileSafely(const QString &fileName);
