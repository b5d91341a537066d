#include "records/Forwarder.h"

#include <algorithm>
#include <random>

#include "records/Systemservices.h"
#include "records/Uuid.h"
#include "toolkit/Files.h"

namespace tolm::records {

namespace {
// True when offset is where a record of the file at path starts: just after a line break.
bool StartsRecord(const std::string& path, long long offset) {
    const int fd = OpenRegularFile(path);
    if (fd < 0) return false;
    char before = 0;
    const bool fits = offset <= OpenFileSize(fd) && ReadFileAt(fd, offset - 1, &before, 1) == 1 && before == '\n';
    CloseFile(fd);
    return fits;
}

std::string Lines(long n) { return std::to_string(n) + (n == 1 ? " line" : " lines"); }
// "1 line waits", "2 lines wait".
std::string LinesWait(long n) { return Lines(n) + (n == 1 ? " waits" : " wait"); }
}  // namespace

TRecordForwarder::TRecordForwarder(TForwarderSettings settings)
    : settings_(std::move(settings)), cursorPath_(CursorPath(settings_.ResultsPath)), reader_(settings_.ResultsPath) {}

TRecordForwarder::~TRecordForwarder() { Stop(); }

std::string TRecordForwarder::DatabaseFailure(const TDbError& error) const {
    return "the database (" + RedactedConnection(settings_.Database.Connection) + "): " + error.Line();
}

bool TRecordForwarder::Connect(std::string& why) {
    TDbError error;
    if (!store_) store_ = TRecordStore::Open(settings_.Database, TRecordStore::TPurpose::Write, error);
    if (!store_) why = DatabaseFailure(error);
    // The caller tells a failure at start; the thread then tells only the return.
    std::lock_guard<std::mutex> lock(mutex_);
    failing_ = store_ == nullptr;
    return store_ != nullptr;
}

bool TRecordForwarder::PushAll(std::string& why) { return Pass(true, why); }

bool TRecordForwarder::FindCursor(std::string& failure) {
    std::string why;
    if (!reader_.ReadHeader(why) || reader_.Identity().empty()) {
        // No header or no data record yet: nothing to send.
        cursorFound_ = false;
        failure = why;
        return why.empty();
    }
    const std::string fileId = NameBasedId("results file\n" + reader_.Identity());
    if (cursorFound_ && cursor_.FileId == fileId) return true;
    const auto saved = LoadCursor(cursorPath_, why);
    const TSendCursor start{fileId, reader_.DataStart(), 2};
    if (saved && saved->FileId == fileId && saved->Offset >= start.Offset &&
        StartsRecord(settings_.ResultsPath, saved->Offset)) {
        cursor_ = *saved;
    } else {
        cursor_ = start;
        if (!why.empty() || saved)
            Note((why.empty() ? cursorPath_ + " belongs to another file or does not fit this one" : why) +
                 ": " + settings_.ResultsPath + " is sent from its start (the database keeps each attempt once)");
    }
    cursorFound_ = true;
    countedEnd_ = cursor_.Offset;
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.Waiting = 0;
    return true;
}

bool TRecordForwarder::SendBatch(bool& more, std::string& failure) {
    std::string why;
    const auto records = reader_.Read(cursor_.Offset, cursor_.Number, settings_.BatchSize, why);
    more = records.size() == settings_.BatchSize;
    if (!why.empty()) {
        failure = why;
        return false;
    }
    if (records.empty()) return true;

    std::vector<TAttempt> attempts;
    std::vector<std::string> unreadable(records.size());  // why each record that is no attempt is not
    for (size_t i = 0; i < records.size(); ++i) {
        auto attempt = ParseAttempt(records[i].Text, reader_.Layout(), reader_.Identity(), records[i].Number,
                                    unreadable[i]);
        if (!attempt) continue;
        if (reader_.Layout() != TResultsLayout::Full) attempt->Station = settings_.Station;
        attempts.push_back(std::move(*attempt));
    }
    std::vector<TRecordStore::TResult> results;
    bool stored = true;
    if (!attempts.empty()) {
        TDbError error;
        if (!store_) store_ = TRecordStore::Open(settings_.Database, TRecordStore::TPurpose::Write, error);
        stored = store_ && store_->Store(attempts, results, error);
        if (!stored) {
            failure = DatabaseFailure(error);
            store_.reset();  // connected again next time
        }
    }

    // The cursor passes every record whose fate is settled, in the file's order.
    TForwardCounts settled;
    size_t result = 0, passed = 0;
    std::vector<std::string> notes;
    for (const TResultsRecord& record : records) {
        const std::string line = "line " + std::to_string(record.Number) + " of " + settings_.ResultsPath;
        const size_t i = static_cast<size_t>(&record - records.data());
        if (!unreadable[i].empty()) {
            ++settled.Skipped;
            notes.push_back(line + " is skipped: it is no attempt (" + unreadable[i] + ")");
        } else if (result < results.size()) {
            const auto& outcome = results[result++];
            if (outcome.Outcome == TRecordStore::TOutcome::Stored) ++settled.Sent;
            if (outcome.Outcome == TRecordStore::TOutcome::AlreadyThere) ++settled.AlreadyThere;
            if (outcome.Outcome == TRecordStore::TOutcome::Refused) {
                ++settled.Skipped;
                notes.push_back(line + " is skipped: the database refused it (" + outcome.Note + ")");
            }
        } else {
            break;
        }
        cursor_.Offset = record.End;
        cursor_.Number = record.Number + 1;
        ++passed;
    }
    if (passed > 0 && !SaveCursor(cursorPath_, cursor_, why) && !cursorSaveFailed_) {
        // The records are in the database; without the cursor they go again
        // after a restart and are found there.
        cursorSaveFailed_ = true;
        notes.push_back(why + " (what was sent will be sent again after a restart, and stored once)");
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        counts_.Sent += settled.Sent;
        counts_.AlreadyThere += settled.AlreadyThere;
        counts_.Skipped += settled.Skipped;
        if (cursor_.Offset > countedEnd_) {
            countedEnd_ = cursor_.Offset;
            counts_.Waiting = 0;
        } else {
            counts_.Waiting = std::max(0L, counts_.Waiting - static_cast<long>(passed));
        }
        for (auto& note : notes) notes_.push_back(std::move(note));
    }
    more = more && stored;
    return stored;
}

void TRecordForwarder::Recount() {
    if (!cursorFound_) return;
    std::string why;
    long long end = countedEnd_;
    const long more = reader_.Count(countedEnd_, end, why);
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.Waiting += more;
    countedEnd_ = end;
}

bool TRecordForwarder::Pass(bool connect, std::string& why) {
    why.clear();
    bool ok = FindCursor(why);
    // A command checks the database even when nothing waits, so that a wrong
    // setting shows at once rather than on the day a line waits.
    if (ok && connect) ok = Connect(why);
    for (bool more = ok && cursorFound_; more;) {
        ok = SendBatch(more, why);
        std::lock_guard<std::mutex> lock(mutex_);
        more = more && !stopping_;
    }
    Recount();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!cursorFound_) counts_.Waiting = 0;
    lastError_ = why;
    return ok;
}

void TRecordForwarder::Note(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    notes_.push_back(text);
}

void TRecordForwarder::Start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this] { Run(); });
}

void TRecordForwarder::Notify() {
    std::lock_guard<std::mutex> lock(mutex_);
    notified_ = true;
    wake_.notify_all();
}

void TRecordForwarder::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

bool TRecordForwarder::WaitUntilSent(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return wake_.wait_for(lock, timeout, [this] { return counts_.Waiting == 0 && !notified_ && !passing_; });
}

void TRecordForwarder::Run() {
    unsigned seed = 0;
    RandomBytes(&seed, sizeof seed);
    std::minstd_rand random(seed);
    std::uniform_real_distribution<double> spread(0.8, 1.2);
    auto retry = settings_.FirstRetry;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        notified_ = false;
        passing_ = true;
        // While the database is away, each try connects, even when nothing
        // waits: its return is told only once it has been reached.
        const bool wasFailing = failing_;
        lock.unlock();
        std::string why;
        const bool ok = Pass(wasFailing, why);
        lock.lock();
        passing_ = false;
        wake_.notify_all();
        if (ok) {
            if (wasFailing)
                notes_.push_back("the records are sent again; " + LinesWait(counts_.Waiting));
            failing_ = false;
            retry = settings_.FirstRetry;
            wake_.wait_for(lock, settings_.LookInterval, [this] { return stopping_ || notified_; });
            continue;
        }
        if (!wasFailing)
            notes_.push_back("the records cannot be sent (" + why + "); " + LinesWait(counts_.Waiting) + " in " +
                             settings_.ResultsPath + ", tried again from time to time");
        failing_ = true;
        // A line appended meanwhile waits for the pause to end: it does not
        // hasten the next try at a database that is away.
        const auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(retry * spread(random));
        wake_.wait_for(lock, pause, [this] { return stopping_; });
        retry = std::min(retry * 2, settings_.LongestRetry);
    }
}

TForwardCounts TRecordForwarder::Counts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

std::string TRecordForwarder::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

std::vector<std::string> TRecordForwarder::TakeNotes() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> notes;
    notes.swap(notes_);
    return notes;
}

}  // namespace tolm::records
