#pragma once

#include <QtGlobal>

// While it lives, no file of this process can grow beyond limit bytes: a write past it fails
// as on a full disk (the SIGXFSZ signal is ignored for the time). Works without privileges,
// so tests reach the real write-failure path of files on disk.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(qint64 limit);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit &) = delete;
    TFileSizeLimit &operator=(const TFileSizeLimit &) = delete;

private:
    quint64 FOldSoft;
    void (*FOldHandler)(int);
};
