#pragma once
// Sends a station's results file to the site database, record by record in
// the file's order, from a cursor kept beside the file (Sendcursor.h). The
// file stays the bench's record and its spool: nothing is ever removed from
// it, and what the database has not taken waits there.
//
// Each batch of records goes in one transaction; the cursor is written after
// the commit. A crash between the two sends the batch again on the next
// start, and the database's key on the attempt ID stores each attempt once.
// A record that cannot be read (a line cut by a crash) or that the database
// will never take (a value longer than its column) is skipped with a note,
// so that it never holds back the records after it.
//
// Two ways to run:
// - PushAll: one pass on the calling thread, for commands.
// - Start: a thread of its own, for a station. It sends what waits whenever
//   Notify says a line was appended (and every LookInterval without being
//   told); while the database cannot be reached it tries again after a pause
//   that doubles from FirstRetry up to LongestRetry (each varied by up to a
//   fifth, so that many stations do not return at the same instant).
//
// Thread contract:
// - Start, Stop and the destructor are called from one thread (the owner's).
//   Stop (and the destructor) ends the thread and returns once it has ended:
//   at once while it waits, otherwise after the database call it is in. The
//   driver's login time-out (TDatabase::LoginTimeoutSeconds) bounds a call
//   that connects, and a server that stops or refuses ends a call at once; a
//   statement on a connection whose server vanished without a word (a cable
//   pulled at the server) lasts until the system gives the connection up.
// - Notify, Counts, LastError, TakeNotes and WaitUntilSent may be called from
//   any thread at any time, also while the thread runs; none of them waits
//   for the database.
// - Connect and PushAll run on the caller's thread and must not be called
//   while the thread runs (between Start and Stop).
// - Nothing is called back: the owner asks for counts and notes.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "records/Recordstore.h"
#include "records/Resultsreader.h"
#include "records/Sendcursor.h"

namespace tolm::records {

struct TForwarderSettings {
    std::string ResultsPath;
    TDatabase Database;
    // The station written for records whose file has no station column.
    std::string Station;
    size_t BatchSize = 100;  // records per transaction
    std::chrono::milliseconds FirstRetry{1000};
    std::chrono::milliseconds LongestRetry{60000};
    std::chrono::milliseconds LookInterval{2000};
};

struct TForwardCounts {
    long Sent = 0;          // stored by this forwarder
    long AlreadyThere = 0;  // found stored before (sent again after a crash, or by another push)
    long Skipped = 0;       // unreadable, or refused by the database
    long Waiting = 0;       // whole records of the file not yet in the database
};

class TRecordForwarder {
public:
    explicit TRecordForwarder(TForwarderSettings settings);
    ~TRecordForwarder();
    TRecordForwarder(const TRecordForwarder&) = delete;
    TRecordForwarder& operator=(const TRecordForwarder&) = delete;

    // Connects and makes the tables ready now: a station checks its database
    // so at start. False, with why set to one line, when it cannot; the
    // thread started after such a failure does not tell it again (its notes
    // tell when the records are sent again).
    bool Connect(std::string& why);
    // Connects (even when nothing waits) and sends every whole record that
    // the file holds now; true when all of them
    // were settled (stored, found there or skipped). Otherwise why says in one
    // line what stopped it (the database, named without its password, or the
    // file), and Counts tells what waits.
    bool PushAll(std::string& why);

    void Start();
    void Notify();
    void Stop();
    // Waits until no record waits or timeout passes; true when none waits.
    bool WaitUntilSent(std::chrono::milliseconds timeout);

    TForwardCounts Counts() const;
    // Why the last pass stopped, as PushAll says it; empty after a pass that
    // settled everything.
    std::string LastError() const;
    // Notes since the last call, oldest first: records skipped and why, the
    // database lost (once for each time it goes) and back.
    std::vector<std::string> TakeNotes();

private:
    bool Pass(bool connect, std::string& why);
    bool FindCursor(std::string& why);
    bool SendBatch(bool& more, std::string& why);
    std::string DatabaseFailure(const TDbError& error) const;
    void Recount();
    void Note(const std::string& text);
    void Run();

    const TForwarderSettings settings_;
    const std::string cursorPath_;
    // Touched only by the thread that sends (the caller of PushAll, or the thread).
    TResultsReader reader_;
    std::unique_ptr<TRecordStore> store_;
    TSendCursor cursor_;
    bool cursorFound_ = false;
    long long countedEnd_ = 0;  // the whole records up to here are counted in counts_.Waiting
    bool cursorSaveFailed_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    TForwardCounts counts_;
    std::string lastError_;
    std::vector<std::string> notes_;
    bool notified_ = false;
    bool passing_ = false;
    bool stopping_ = false;
    bool failing_ = false;
    std::thread thread_;
};

}  // namespace tolm::records
