#include "support/FileSizeLimit.h"

#include <csignal>
#include <sys/resource.h>

FileSizeLimit::FileSizeLimit(qint64 limit) {
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    m_oldSoft = r.rlim_cur;
    r.rlim_cur = rlim_t(limit);
    setrlimit(RLIMIT_FSIZE, &r);
}

FileSizeLimit::~FileSizeLimit() {
    rlimit r{};
    getrlimit(RLIMIT_FSIZE, &r);
    r.rlim_cur = m_oldSoft;
    setrlimit(RLIMIT_FSIZE, &r);
    std::signal(SIGXFSZ, m_oldHandler);
}
