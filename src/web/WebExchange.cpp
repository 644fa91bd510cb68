#include "web/WebExchange.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utility>

ResponseFile::ResponseFile(int descriptor) : m_descriptor(descriptor) {}

ResponseFile::~ResponseFile() {
    ::close(m_descriptor);
}

std::int64_t ResponseFile::size() const {
    struct stat info {};
    return ::fstat(m_descriptor, &info) == 0 ? std::int64_t(info.st_size) : -1;
}

QByteArray ResponseFile::readAll() const {
    QByteArray bytes;
    char buffer[4096];
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(m_descriptor, buffer, sizeof buffer, offset);
        if (got <= 0)
            return bytes;
        bytes.append(buffer, got);
        offset += got;
    }
}

// The resume runs under the lock: once withdraw() has found nothing to take back, the
// connection has been resumed, not merely promised a resume.
void PendingResponse::complete(WebResponse response) {
    std::lock_guard lock(m_mutex);
    if (m_response)
        return;
    m_response = std::move(response);
    if (m_resume)
        std::exchange(m_resume, {})();
}

bool PendingResponse::isComplete() const {
    std::lock_guard lock(m_mutex);
    return m_response.has_value();
}

WebResponse PendingResponse::response() const {
    std::lock_guard lock(m_mutex);
    return m_response.value_or(WebResponse{});
}

bool PendingResponse::parkUntilComplete(const std::function<void()>& park,
                                        std::function<void()> resume) {
    std::lock_guard lock(m_mutex);
    if (m_response)
        return false;
    park(); // before a completion can resume it
    m_resume = std::move(resume);
    return true;
}

std::function<void()> PendingResponse::withdraw() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_resume, {});
}
