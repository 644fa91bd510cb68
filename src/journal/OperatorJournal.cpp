#include "journal/OperatorJournal.h"

#include <QDateTime>
#include <QDir>

#include <chrono>
#include <pthread.h>

OperatorJournal::OperatorJournal(Settings settings, QObject* parent)
    : QObject(parent), m_path(settings.path), m_clock(std::move(settings.clock)),
      m_steady(std::move(settings.steady)), m_store(settings.path, settings.limits) {
    m_messages.setHandler([this](Trouble& trouble) { emit this->trouble(trouble.text); });
    m_writer = std::thread([this] { run(); });
}

OperatorJournal::~OperatorJournal() {
    finish();
    m_messages.setHandler(nullptr);
}

void OperatorJournal::finish() {
    if (!m_writer.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_writer.join();
    std::lock_guard lock(m_mutex);
    m_recording = false;
}

std::int64_t OperatorJournal::systemClock() {
    return QDateTime::currentMSecsSinceEpoch();
}

std::int64_t OperatorJournal::steadyClock() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Journal::Record OperatorJournal::commandQueued(CommandSource source, QByteArrayView address,
                                               QByteArrayView text) {
    const Record command = ++m_lastCommand;
    report({JournalReport::Kind::Queued, 0, source, 0, command, text, address});
    return command;
}

void OperatorJournal::commandSent(Record command, bool afterGiveUp) {
    report({JournalReport::Kind::Sent, std::uint8_t(afterGiveUp), {}, 0, command, {}, {}});
}

void OperatorJournal::commandEnded(Record command, CommandEnd end) {
    report({JournalReport::Kind::Ended, std::uint8_t(end), {}, 0, command, {}, {}});
}

void OperatorJournal::replyLine(Record command, QByteArrayView line) {
    report({JournalReport::Kind::Line, 0, {}, 0, command, line, {}});
}

void OperatorJournal::commandRefused(Refusal why, CommandSource source, QByteArrayView address,
                                     QByteArrayView text) {
    report({JournalReport::Kind::Refused, std::uint8_t(why), source, 0, 0, text, address});
}

void OperatorJournal::requestRefused(Refusal why, QByteArrayView address, QByteArrayView text) {
    if (m_refusals.count(why, address, m_clock(), m_steady()))
        commandRefused(why, CommandSource::Web, address, text);
}

void OperatorJournal::webEvent(WebEvent event, QByteArrayView address) {
    report({JournalReport::Kind::Web, std::uint8_t(event), CommandSource::Web, 0, 0, {}, address});
}

void OperatorJournal::portEvent(PortEvent event, QByteArrayView device) {
    report({JournalReport::Kind::Port, std::uint8_t(event), {}, 0, 0, device, {}});
}

void OperatorJournal::stopSent(Record command, QByteArrayView device) {
    report({JournalReport::Kind::Stop, std::uint8_t(PortEvent::Stop), {}, 0, command, device, {}});
}

namespace {
// The journal whose burst this thread has under way, if any.
thread_local const OperatorJournal* t_burstOf = nullptr;
} // namespace

bool OperatorJournal::beginBurst() {
    if (t_burstOf != nullptr || m_burstTaken.exchange(true))
        return false;
    t_burstOf = this;
    m_burstTime = m_clock();
    return true;
}

void OperatorJournal::endBurst() {
    queueBurst();
    t_burstOf = nullptr;
    m_burstTaken = false;
}

void OperatorJournal::report(JournalReport report) {
    if (t_burstOf == this) {
        report.time = m_burstTime;
        if (!m_burst.append(report)) {
            queueBurst();
            m_burst.append(report);
        }
        return;
    }
    report.time = m_clock();
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_recording)
            return;
        const std::size_t before = m_queue.bytes();
        wake = queued(m_queue.append(report) ? 1 : 0, 1, before);
    }
    if (wake)
        m_wake.notify_one();
}

// The burst's reports into the queue.
void OperatorJournal::queueBurst() {
    if (m_burst.empty())
        return;
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_recording) {
            const std::size_t before = m_queue.bytes();
            wake = queued(m_queue.appendAll(m_burst), m_burst.size(), before);
        }
    }
    m_burst.clear();
    if (wake)
        m_wake.notify_one();
}

// Under the lock: of `offered` reports the queue took `taken`, and those it had no room
// for are counted as lost. True when the writer is to wake: for the first report waiting,
// to time its gathering, and when the queue has filled up to WRITE_AT_BYTES.
bool OperatorJournal::queued(std::size_t taken, std::size_t offered, std::size_t bytesBefore) {
    m_reported += taken;
    m_lost += offered - taken;
    const std::size_t bytes = m_queue.bytes();
    return (bytesBefore == 0 && bytes > 0) ||
           (bytesBefore < WRITE_AT_BYTES && bytes >= WRITE_AT_BYTES);
}

void OperatorJournal::flush() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_reported;
    m_hurry = true;
    m_wake.notify_one();
    m_written.wait(lock, [&] { return m_done >= target || !m_recording; });
}

bool OperatorJournal::isRecording() const {
    std::lock_guard lock(m_mutex);
    return m_recording;
}

QString OperatorJournal::problem() const {
    std::lock_guard lock(m_mutex);
    return m_problem;
}

std::size_t OperatorJournal::waitingReports() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

// The writer: sleeps until reports come (or the daily pruning or a sum of refusals is due),
// gathers them for at most GATHER_MS, and writes them in one go. A batch that another
// program's lock holds up is tried again after each gathering, and the queue waits behind
// it.
void OperatorJournal::run() {
    pthread_setname_np(pthread_self(), "journal");
    if (!openStore())
        return;
    // Both rooms are touched here, once, so that the first flood does not pay for the
    // memory's first use on the window's thread; the reports that came meanwhile move in.
    JournalReports batch(QUEUE_BYTES, true); // takes the queue's place after each batch
    JournalReports room(QUEUE_BYTES, true);
    std::unique_lock lock(m_mutex);
    room.appendAll(m_queue);
    m_queue.swap(room);
    room = JournalReports();
    std::size_t done = 0; // of the batch, the reports in the file
    JournalStore::Counts counts;
    for (;;) {
        const std::int64_t due = std::min(m_nextPrune, m_refusals.nextDue().value_or(m_nextPrune));
        const auto untilDue =
            std::chrono::milliseconds(std::max<std::int64_t>(0, due - m_steady()));
        const auto hasWork = [&] {
            return m_stopping || !m_queue.empty() || !batch.empty() || !counts.empty();
        };
        // The text index's work waits for the reports and for what is due, and is done a
        // slice at a time while none come.
        const bool indexing = m_store.indexWanted() && untilDue.count() > 0;
        if (!m_wake.wait_for(lock, indexing ? std::chrono::milliseconds(0) : untilDue, hasWork) &&
            indexing) {
            lock.unlock();
            if (!buildIndex())
                return;
            lock.lock();
            continue;
        }
        m_wake.wait_for(lock, std::chrono::milliseconds(GATHER_MS),
                        [&] { return m_stopping || m_hurry || m_queue.bytes() >= WRITE_AT_BYTES; });
        if (batch.empty()) {
            batch.swap(m_queue);
            counts.lost += std::exchange(m_lost, 0);
            for (RefusalSums::Sum& sum : m_refusals.takeDue(m_steady(), m_stopping))
                counts.refusals.push_back(std::move(sum));
        }
        m_hurry = false;
        const bool stopping = m_stopping;
        const bool queueEmpty = m_queue.empty();
        lock.unlock();
        const Write write = writeBatch(batch, done, counts);
        if (write == Write::Failed || !pruneWhenDue())
            return;
        if (write == Write::Done || stopping) { // at the end, a held batch is given up
            settle(batch.size());
            batch.clear();
            done = 0;
        }
        if (stopping && (write == Write::Held || queueEmpty)) {
            m_store.close(m_clock());
            return;
        }
        lock.lock();
    }
}

// A slice of the text index; another program holding the file is waited out like a write.
bool OperatorJournal::buildIndex() {
    if (m_store.buildIndex() || m_store.busy())
        return pruneWhenDue();
    stopRecording(m_store.problem());
    return false;
}

// Another program holding the file is waited out; anything else that keeps the file from
// opening stops the journal.
bool OperatorJournal::openStore() {
    bool opened = m_store.open(m_clock());
    while (!opened && m_store.busy() && pauseWhileHeld())
        opened = m_store.open(m_clock());
    if (!m_store.renamedAside().isEmpty())
        tellSetAside();
    if (!opened) {
        stopRecording(m_store.problem());
        return false;
    }
    m_ageFromSteady = m_nextPrune = m_steady(); // the first pruning at start-up
    m_ageFrom = std::min(m_clock(), m_store.newestTime(m_clock()));
    return pruneWhenDue();
}

// A moment before the file is tried again; false once the journal is to end.
bool OperatorJournal::pauseWhileHeld() {
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(GATHER_MS), [&] { return m_stopping; });
}

// A file found damaged while writing is set aside, and the batch goes into the new one.
OperatorJournal::Write OperatorJournal::writeBatch(const JournalReports& batch, std::size_t& done,
                                                   JournalStore::Counts& counts) {
    if (done == batch.size() && counts.empty())
        return Write::Done;
    if (m_store.write(batch, done, counts, m_clock()))
        return Write::Done;
    if (m_store.damaged() && m_store.replaceDamaged(m_clock())) {
        tellSetAside();
        if (m_store.write(batch, done, counts, m_clock()))
            return Write::Done;
    }
    if (m_store.busy())
        return Write::Held;
    stopRecording(m_store.problem());
    return Write::Failed;
}

// The batch's reports are in the file, or given up: flush() waits no more for them.
void OperatorJournal::settle(std::size_t reports) {
    {
        std::lock_guard lock(m_mutex);
        m_done += reports;
    }
    m_written.notify_all();
}

// At start-up, once a day after that by the steady clock (a step of the clock neither
// hastens nor stops it), and whenever the file has grown past its size.
bool OperatorJournal::pruneWhenDue() {
    const std::int64_t now = m_steady();
    if (now < m_nextPrune && !m_store.tooBig())
        return true;
    if (now >= m_nextPrune)
        m_nextPrune = now + JournalStore::DAY_MS;
    if (m_store.prune(ageTime()))
        return true;
    if (m_store.busy()) { // tried again at the next wake
        m_nextPrune = now;
        return true;
    }
    stopRecording(m_store.problem());
    return false;
}

// The time by which records age. A clock far ahead at start-up would make every record
// old, so age is counted from the clock then or from the newest record, whichever is
// earlier, and from there by the steady clock: no step of the clock while the program runs
// makes a record older.
std::int64_t OperatorJournal::ageTime() const {
    return m_ageFrom + (m_steady() - m_ageFromSteady);
}

// The journal stops for the rest of the run: what waits is dropped, and nothing more is
// taken.
void OperatorJournal::stopRecording(const QString& reason) {
    {
        std::lock_guard lock(m_mutex);
        m_recording = false;
        m_problem = reason;
        m_queue.clear();
    }
    m_written.notify_all();
    tell(QStringLiteral("Журнал не ведётся: %1: %2").arg(QDir::toNativeSeparators(m_path), reason));
}

void OperatorJournal::tellSetAside() {
    tell(QStringLiteral("Файл журнала %1 повреждён: он сохранён как %2, начат новый журнал.")
             .arg(QDir::toNativeSeparators(m_path),
                  QDir::toNativeSeparators(m_store.renamedAside())));
}

void OperatorJournal::tell(const QString& text) {
    m_messages.post(Trouble{text});
}
