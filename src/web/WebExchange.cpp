#include "WebExchange.h"

#include <utility>

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
