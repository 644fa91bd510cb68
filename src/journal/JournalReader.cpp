#include "journal/JournalReader.h"

#include "journal/JournalTexts.h"

#include <algorithm>
#include <pthread.h>

JournalReader::JournalReader(QString path, Limits limits, QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_limits(limits) {
    m_messages.setHandler([this](AnswersWaiting&) { deliverAnswers(); });
}

JournalReader::~JournalReader() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_stopRunning = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    m_messages.setHandler(nullptr);
}

void JournalReader::open() {
    ask([this] {
        m_openWanted = true;
        m_closeWanted = false;
    });
}

void JournalReader::close() {
    m_awaitedSearch = 0; // an answer already on its way is dropped
    if (!m_thread.joinable())
        return;
    ask([this] {
        m_openWanted = false;
        m_search.reset();
        m_reply.reset();
        m_closeWanted = true;
        stopRunning({Work::Search, Work::Reply});
    });
}

void JournalReader::search(const JournalFilter& filter) {
    m_awaitedSearch = ++m_lastTicket;
    ask([&] {
        m_search = SearchRequest{m_awaitedSearch, filter};
        m_reply.reset(); // the newest record's reply comes with the search
        stopRunning({Work::Search, Work::Reply});
    });
}

void JournalReader::readReply(std::int64_t record) {
    ask([&] {
        m_reply = record;
        stopRunning({Work::Reply});
    });
}

void JournalReader::exportRecords(const QString& file, std::vector<JournalRow> rows) {
    ask([&] { m_exports.push_back({file, std::move(rows)}); });
}

bool JournalReader::idle() const {
    std::lock_guard lock(m_mutex);
    return m_running == Work::None && !hasWork();
}

void JournalReader::setSearchHold(SearchHold hold) {
    std::lock_guard lock(m_mutex);
    m_hold = std::move(hold);
}

// The window thread: `change` runs under the lock; the thread starts with the first request.
void JournalReader::ask(const std::function<void()>& change) {
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    {
        std::lock_guard lock(m_mutex);
        change();
    }
    m_wake.notify_one();
}

// Under the lock: the work that runs, if it is of these kinds, is no longer wanted.
void JournalReader::stopRunning(std::initializer_list<Work> kinds) {
    if (std::find(kinds.begin(), kinds.end(), m_running) != kinds.end())
        m_stopRunning = true;
}

void JournalReader::run() {
    pthread_setname_np(pthread_self(), "journal-read");
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || hasWork(); });
        if (m_stopping)
            break;
        m_stopRunning = false;
        doWork(lock);
        m_running = Work::None;
    }
    lock.unlock();
    m_query.reset();
}

bool JournalReader::hasWork() const {
    return m_openWanted || m_search || m_reply || !m_exports.empty() || m_closeWanted;
}

// Takes the most urgent request and does it without the lock: an opening first, then the
// search, the reply, the exports in the order asked, and last the closing.
void JournalReader::doWork(std::unique_lock<std::mutex>& lock) {
    if (std::exchange(m_openWanted, false)) {
        m_running = Work::Open;
        lock.unlock();
        openFile();
    } else if (m_search) {
        const SearchRequest request = *std::exchange(m_search, std::nullopt);
        const SearchHold hold = m_hold;
        m_running = Work::Search;
        lock.unlock();
        searchFile(request, hold);
    } else if (m_reply) {
        const std::int64_t record = *std::exchange(m_reply, std::nullopt);
        m_running = Work::Reply;
        lock.unlock();
        readFile(record);
    } else if (!m_exports.empty()) {
        const ExportRequest request = std::move(m_exports.front());
        m_exports.pop_front();
        m_running = Work::Export;
        lock.unlock();
        exportFile(request);
    } else {
        m_closeWanted = false;
        m_running = Work::Close;
        lock.unlock();
        m_query.reset();
    }
    lock.lock();
}

JournalQuery& JournalReader::query() {
    if (!m_query)
        m_query.emplace(m_path, [this] { return m_stopRunning.load(); });
    return *m_query;
}

void JournalReader::openFile() {
    m_query.reset();
    const QStringList addresses = query().webAddresses();
    answer([this, addresses] { emit opened(addresses); });
}

void JournalReader::searchFile(const SearchRequest& request, const SearchHold& hold) {
    Found found;
    JournalQuery& file = query();
    if (file.isOpen() && hold)
        hold(file.connection());
    JournalQuery::Found result = file.find(request.filter, m_limits.records);
    if (result.failed) {
        found.problem = file.problem();
    } else {
        found.rows = std::move(result.rows);
        found.more = result.more;
        if (!found.rows.empty())
            found.newestReply =
                JournalTexts::replyPane(file, found.rows.back().id, m_limits.replyLines)
                    .value_or(QString());
    }
    answer(
        [this, ticket = request.ticket, found = std::move(found)] { deliverFound(ticket, found); });
}

void JournalReader::readFile(std::int64_t record) {
    JournalQuery& file = query();
    const std::optional<QString> pane = JournalTexts::replyPane(file, record, m_limits.replyLines);
    if (m_stopRunning) // a newer request wants something else
        return;
    const QString text =
        pane ? *pane : QStringLiteral("Файл журнала не читается: ") + file.problem();
    answer([this, record, text] { emit replyRead(record, text); });
}

void JournalReader::exportFile(const ExportRequest& request) {
    Exported result{request.file, request.rows.size(), {}};
    JournalTexts::exportRecords(request.file, request.rows, query(), result.error,
                                [this] { return m_stopRunning.load(); });
    answer([this, result] { emit exported(result); });
}

// The reader's thread: `deliver` runs on the window thread, after the answers before it.
void JournalReader::answer(std::function<void()> deliver) {
    {
        std::lock_guard lock(m_mutex);
        m_answers.push_back(std::move(deliver));
    }
    m_messages.post(AnswersWaiting{});
}

void JournalReader::deliverAnswers() {
    std::vector<std::function<void()>> answers;
    {
        std::lock_guard lock(m_mutex);
        answers.swap(m_answers);
    }
    for (const auto& deliver : answers)
        deliver();
}

void JournalReader::deliverFound(std::uint64_t ticket, const Found& found) {
    if (ticket != m_awaitedSearch) // a newer search was asked for, or the window closed
        return;
    m_awaitedSearch = 0;
    emit this->found(found);
}
