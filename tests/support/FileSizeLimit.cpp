#include "support/FileSizeLimit.h"

#include <csignal>
#include <sys/resource.h>

TFileSizeLimit::TFileSizeLimit(qint64 limit) {
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    FOldSoft = r.rlim_cur;
    r.rlim_cur = rlim_t(limit);
    setrlimit(RLIMIT_FSIZE, &r);
}

TFileSizeLimit::~TFileSizeLimit() {
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = FOldSoft;
    setrlimit(RLIMIT_FSIZE, &r);
    std::signal(SIGXFSZ, FOldHandler);
}
