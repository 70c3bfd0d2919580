#pragma once

#include <QtGlobal>

// While it lives, no file of this process can grow beyond limit bytes: a write past it fails
// as on a full disk (the SIGXFSZ signal is ignored for the time). Works without privileges,
// so tests reach the real write-failure path of files on disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 limit);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    quint64 m_oldSoft;
    void (*m_oldHandler)(int);
};
