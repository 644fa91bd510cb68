#pragma once

#include "journal/JournalQuery.h"
#include "shared/WindowMessages.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Reads the journal's file for the journal window on a thread of its own, with the one
// reading connection there, so that the window thread never waits for the disk. The window
// asks and returns at once; the answers come back on the window thread as signals.
//
// A newer search replaces the one asked before it: if that one still waits it is never run,
// if it runs it is stopped within a moment, and its answer, should one come, is dropped.
// Closing drops what waits and stops a search or a reply being read; an export asked for is
// still written, and the file is closed after it. The destructor stops whatever runs, an
// export too (its file is not written), and waits only for that: a moment.
class JournalReader final : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int records = 0;    // a search finds at most the newest so many
        int replyLines = 0; // the pane shows so many lines of a record at most
    };
    struct Found {
        QString problem;              // why the file could not be read; empty when it was
        std::vector<JournalRow> rows; // the newest that matched, oldest first
        bool more = false;            // more matched than were found
        QString newestReply;          // the pane's text of the newest record
    };
    struct Exported {
        QString file;
        std::size_t records = 0;
        QString error; // empty when the file was written
    };
    // Run on the reader's thread, on its connection, before each search: tests hold a
    // search there.
    using SearchHold = std::function<void(const Sqlite::Connection&)>;

    JournalReader(QString path, Limits limits, QObject* parent = nullptr);
    ~JournalReader() override;

    // Opens the file anew (the writer may have begun a new one meanwhile); opened() follows
    // with the web addresses that it holds.
    void open();
    void close();
    void search(const JournalFilter& filter);
    // replyRead() follows.
    void readReply(std::int64_t record);
    // exported() follows.
    void exportRecords(const QString& file, std::vector<JournalRow> rows);
    // A search was asked for and its answer has not come yet.
    bool searching() const { return m_awaitedSearch != 0; }
    // Nothing asked waits or runs on the reader's thread; answers may still be on their way.
    bool idle() const;
    void setSearchHold(SearchHold hold);

signals:
    void opened(const QStringList& webAddresses);
    void found(const JournalReader::Found& found);
    void replyRead(std::int64_t record, const QString& text);
    void exported(const JournalReader::Exported& exported);

private:
    enum class Work { None, Open, Search, Reply, Export, Close };
    struct SearchRequest {
        std::uint64_t ticket = 0;
        JournalFilter filter;
    };
    struct ExportRequest {
        QString file;
        std::vector<JournalRow> rows;
    };

    void ask(const std::function<void()>& change);
    void stopRunning(std::initializer_list<Work> kinds);
    // The reader's thread.
    void run();
    bool hasWork() const;
    void doWork(std::unique_lock<std::mutex>& lock);
    JournalQuery& query();
    void openFile();
    void searchFile(const SearchRequest& request, const SearchHold& hold);
    void readFile(std::int64_t record);
    void exportFile(const ExportRequest& request);
    void answer(std::function<void()> deliver);
    // The window thread.
    void deliverAnswers();
    void deliverFound(std::uint64_t ticket, const Found& found);

    const QString m_path;
    const Limits m_limits;
    struct AnswersWaiting {};
    WindowMessageQueue<AnswersWaiting> m_messages;
    std::uint64_t m_lastTicket = 0;    // the window thread's
    std::uint64_t m_awaitedSearch = 0; // the window thread's: the search whose answer counts

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_openWanted = false;
    bool m_closeWanted = false;
    bool m_stopping = false;
    std::optional<SearchRequest> m_search;
    std::optional<std::int64_t> m_reply;
    std::deque<ExportRequest> m_exports;
    SearchHold m_hold;
    Work m_running = Work::None;
    std::vector<std::function<void()>> m_answers; // for the window thread, in order
    std::atomic<bool> m_stopRunning{false};       // the work that runs is no longer wanted

    std::optional<JournalQuery> m_query; // the reader's thread's
    std::thread m_thread;                // started by the first request
};
