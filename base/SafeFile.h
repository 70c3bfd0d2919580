#pragma once

#include <QIODevice>
#include <QString>

#include <functional>

// Writes a file so that a failure never costs the previous one: write() fills a new file
// beside it, which replaces the old file only once every byte is written and synced. On any
// failure the new file is discarded, the old one is left as it was, and the error is raised:
// the exception write() threw, "Stream write error" for a failed write or flush, or the
// file's own error (cannot create, cannot replace).
void writeFileSafely(const QString &fileName, const std::function<void(QIODevice &device)> &write);
