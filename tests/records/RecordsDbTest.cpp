// Results files sent to real databases: the private PostgreSQL cluster that
// postgres.sh starts for these tests (its facts in the state file), and SQLite
// through its ODBC driver. What arrived is read back with each database's own
// client (psql, sqlite3), not with the code under test.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <fstream>
#include <map>
#include <thread>

#include "../e2e/StationFixture.h"
#include "Programs.h"
#include "TestSupport.h"
#include "records/Attempt.h"
#include "records/Forwarder.h"
#include "records/Sendcursor.h"
#include "records/Uuid.h"

using namespace tolm::records;
using namespace std::chrono_literals;

namespace {
std::map<std::string, std::string> StateFacts() {
    std::map<std::string, std::string> facts;
    std::ifstream state(TOLM_TEST_PG_STATE);
    for (std::string line; std::getline(state, line);)
        if (const size_t eq = line.find('='); eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
    return facts;
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

class RecordsDb : public ::testing::Test {
protected:
    void SetUp() override {
        facts_ = StateFacts();
        if (facts_["TOLM_TEST_DB_SKIP"] == "1") GTEST_SKIP() << "TOLM_SKIP_DB=1: no database tests";
        ASSERT_FALSE(facts_["TOLM_TEST_PG_CONNECTION"].empty()) << "no PostgreSQL cluster: " << TOLM_TEST_PG_STATE;
        // A database of each test's own.
        name_ = std::string("t_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        Psql("postgres", "DROP DATABASE IF EXISTS " + name_);
        Psql("postgres", "CREATE DATABASE " + name_);
        database_.Connection = facts_["TOLM_TEST_PG_CONNECTION"] + ";Database=" + name_;
        database_.Password = facts_["TOLM_TEST_PG_PASSWORD"];
        results_ = dir_.File("bench.csv");
    }
    void TearDown() override {
        if (!name_.empty()) Resume();  // a test that failed with the server paused
    }

    // psql over the cluster's socket; its output unaligned, without headers.
    std::string Psql(const std::string& db, const std::string& sql) {
        return Output("psql -XAtq -v ON_ERROR_STOP=1 -h " + facts_["TOLM_TEST_PG_SOCKET"] + " -p " +
                      facts_["TOLM_TEST_PG_PORT"] + " -U tolm -d " + db + " -c \"" + sql + "\" 2>&1");
    }
    std::string Sql(const std::string& sql) { return Psql(name_, sql); }
    // The attempt IDs in the order the rows were stored.
    std::string StoredIds() { return Sql("SELECT string_agg(attempt_id, ',' ORDER BY ctid) FROM tolm_attempts"); }
    void Pause() { ASSERT_EQ(std::system((facts_["TOLM_TEST_PG_CONTROL"] + " pause " TOLM_TEST_PG_STATE).c_str()), 0); }
    void Resume() {
        if (std::system((facts_["TOLM_TEST_PG_CONTROL"] + " resume " TOLM_TEST_PG_STATE " 2>/dev/null").c_str()) != 0) {
        }  // it may be running already
    }

    // Appends attempts with IDs of their own (the newest header); returns their IDs, joined by commas.
    std::string Append(int count, const std::string& terminalName = "T") {
        std::ofstream file(results_, std::ios::app);
        if (file.tellp() == 0) file << kResultsHeader << "\n";
        std::string ids;
        for (int i = 0; i < count; ++i) {
            const std::string id = NewAttemptId();
            file << "2026-12-08T21:30:00+0100,COM3,3QR,Q1,12,0000" << i << "," << CsvField(terminalName)
                 << ",Upgrade PASS,4.5,abc,3.4.9," << id << ",bench-1,op7,2026-12-08T20:29:55Z,2026-12-08T20:30:00Z,"
                 << "D" << i << "\n";
            ids += (ids.empty() ? "" : ",") + id;
        }
        return ids;
    }
    TForwarderSettings Settings() const {
        TForwarderSettings settings;
        settings.ResultsPath = results_;
        settings.Database = database_;
        settings.Station = "bench-1";
        settings.FirstRetry = 100ms;
        settings.LongestRetry = 500ms;
        settings.LookInterval = 200ms;
        return settings;
    }

    std::map<std::string, std::string> facts_;
    std::string name_;
    TDatabase database_;
    tolm::test::TempDir dir_;
    std::string results_;
};
}  // namespace

TEST_F(RecordsDb, EachLineIsStoredOnceInTheFilesOrder) {
    std::string ids = Append(250);  // three transactions
    TRecordForwarder forwarder(Settings());
    std::string why;
    ASSERT_TRUE(forwarder.PushAll(why)) << why;
    EXPECT_EQ(StoredIds(), ids);
    ids += "," + Append(5);
    ASSERT_TRUE(forwarder.PushAll(why)) << why;
    EXPECT_EQ(StoredIds(), ids);
    EXPECT_EQ(forwarder.Counts().Sent, 255);
    EXPECT_EQ(forwarder.Counts().Waiting, 0);
}

TEST_F(RecordsDb, ServerAwayMidRunThenBackLosesAndDoublesNothing) {
    TRecordForwarder forwarder(Settings());
    forwarder.Start();
    std::string ids = Append(40);
    forwarder.Notify();
    ASSERT_TRUE(forwarder.WaitUntilSent(30s)) << forwarder.LastError();
    Pause();
    for (int i = 0; i < 3; ++i) {  // lines that arrive while the server is away
        ids += "," + Append(20);
        forwarder.Notify();
        std::this_thread::sleep_for(100ms);
    }
    for (int i = 0; i < 100 && forwarder.LastError().empty(); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_NE(forwarder.LastError(), "");
    EXPECT_GT(forwarder.Counts().Waiting, 0);
    Resume();
    ASSERT_TRUE(forwarder.WaitUntilSent(60s)) << forwarder.LastError();
    forwarder.Stop();
    EXPECT_EQ(StoredIds(), ids);
    const auto notes = forwarder.TakeNotes();
    std::string told;
    for (const auto& note : notes) told += note + "\n";
    ASSERT_EQ(notes.size(), 2u) << "the loss is told once, and the return:\n" << told;
    EXPECT_NE(notes[0].find("wait in"), std::string::npos) << notes[0];
    EXPECT_EQ(notes[0].find(database_.Password), std::string::npos) << notes[0];
}

TEST_F(RecordsDb, ACursorThatLagsBehindTheDatabaseSendsNothingTwice) {
    const std::string ids = Append(10);
    std::string why;
    ASSERT_TRUE(TRecordForwarder(Settings()).PushAll(why)) << why;
    const std::string cursor = CursorPath(results_);
    const std::string lagging = dir_.Read("bench.csv.cursor");
    Append(10);
    ASSERT_TRUE(TRecordForwarder(Settings()).PushAll(why)) << why;
    // A crash after the commit, before the cursor was written.
    dir_.Write("bench.csv.cursor", lagging);
    TRecordForwarder again(Settings());
    ASSERT_TRUE(again.PushAll(why)) << why;
    EXPECT_EQ(again.Counts().Sent, 0);
    EXPECT_EQ(again.Counts().AlreadyThere, 10);
    EXPECT_EQ(Sql("SELECT COUNT(*), COUNT(DISTINCT attempt_id) FROM tolm_attempts"), "20|20");
}

TEST_F(RecordsDb, HostileAndChineseTextsArriveAsTextInBothDatabases) {
    const std::string hostile = "'); DROP TABLE x; --";
    const std::string chinese = "終端機一號 \"甲\"";
    Sql("CREATE TABLE x (y INTEGER)");
    Append(1, hostile);
    Append(1, chinese);
    std::string why;
    ASSERT_TRUE(TRecordForwarder(Settings()).PushAll(why)) << why;
    EXPECT_EQ(Sql("SELECT string_agg(terminal_name, '|' ORDER BY terminal_id) FROM tolm_attempts"), hostile + "|" + chinese);
    EXPECT_EQ(Sql("SELECT COUNT(*) FROM x"), "0");

    TForwarderSettings sqlite = Settings();
    const std::string file = dir_.File("records.db");
    sqlite.Database = {"Driver=SQLite3;Database=" + file, ""};
    std::remove(CursorPath(results_).c_str());
    ASSERT_TRUE(TRecordForwarder(sqlite).PushAll(why)) << why;
    EXPECT_EQ(Output("sqlite3 " + file + " \"SELECT terminal_name FROM tolm_attempts ORDER BY terminal_id\""),
              hostile + "\n" + chinese);
}

TEST_F(RecordsDb, AWrongPasswordIsOneClearLineThatNeverShowsIt) {
    Append(3);
    const std::string secret = "Wr0ng-s3cret-Pa55";
    setenv("TOLM_TEST_WRONG_PASSWORD", secret.c_str(), 1);
    for (const auto& args : {std::vector<std::string>{"--db", database_.Connection, "--db-password-env",
                                                      "TOLM_TEST_WRONG_PASSWORD"},
                             std::vector<std::string>{"--db", database_.Connection + ";PWD=" + secret}}) {
        std::vector<std::string> command{"records", "push", "--results", results_};
        command.insert(command.end(), args.begin(), args.end());
        const auto run = tolm::test::Run(TOLM_UPGRADE_CLI, command, 60000);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find("password authentication failed"), std::string::npos) << run.err;
        EXPECT_EQ((run.out + run.err).find(secret), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "0 sent, 0 already in the database, 0 skipped, 3 waiting\n");
    }
}

TEST_F(RecordsDb, AnOlderSchemaIsUpgradedKeepingItsRows) {
    // The tables as version 1 made them, with a row.
    Sql("CREATE TABLE tolm_schema (version INTEGER NOT NULL); INSERT INTO tolm_schema VALUES (1); "
        "CREATE TABLE tolm_attempts (attempt_id VARCHAR(36) NOT NULL PRIMARY KEY, local_time VARCHAR(40), "
        "port VARCHAR(255), family VARCHAR(16), model_code VARCHAR(255), kernel_digits VARCHAR(255), "
        "terminal_id VARCHAR(255), terminal_name VARCHAR(255), result VARCHAR(255), seconds DOUBLE PRECISION, "
        "firmware_sha256 VARCHAR(64), program_version VARCHAR(64)); "
        "INSERT INTO tolm_attempts (attempt_id, result) VALUES ('00000000-0000-4000-8000-000000000001', 'Upgrade PASS')");
    // Stations that start at once race to upgrade it.
    std::vector<std::thread> stations;
    std::vector<std::string> whys(4);
    for (auto& why : whys)
        stations.emplace_back([&] { TRecordForwarder(Settings()).Connect(why); });
    for (auto& station : stations) station.join();
    for (const auto& why : whys) EXPECT_EQ(why, "");
    Append(2);
    std::string why;
    ASSERT_TRUE(TRecordForwarder(Settings()).PushAll(why)) << why;
    EXPECT_EQ(Sql("SELECT MAX(version) FROM tolm_schema"), "2");
    EXPECT_EQ(Sql("SELECT COUNT(*), COUNT(station), COUNT(device_id) FROM tolm_attempts"), "3|2|2");
    EXPECT_EQ(Sql("SELECT indexdef FROM pg_indexes WHERE indexname = 'tolm_attempts_device_time'"),
              "CREATE INDEX tolm_attempts_device_time ON public.tolm_attempts USING btree (device_id, ended_utc)");
}

TEST_F(RecordsDb, AnOldFileGetsTheSameDerivedIdsEveryTime) {
    tolm::test::TempDir other;
    dir_.Write("bench.csv", std::string(kResultsHeaderShort) +
                                "\n2026-12-08T21:30:00+0100,COM3,2LB,LB1Y,7_1_0,,,Upgrade PASS,12.3"
                                "\n2026-12-08T21:31:00+0100,COM4,2LB,LB1Y,7_1_0,,,Upgrade Error,2.0"
                                "\n2026-12-08T21:3"  // cut by a crash; the next write ended it
                                "\n2026-12-08T21:32:00+0100,COM4,2LB,LB1Y,7_1_0,,,Upgrade PASS,12.0\n");
    setenv("TOLM_TEST_PG_PASSWORD", database_.Password.c_str(), 1);
    const std::vector<std::string> push{"records", "push",  "--results",       results_, "--db",
                                        database_.Connection, "--db-password-env", "TOLM_TEST_PG_PASSWORD"};
    auto run = tolm::test::Run(TOLM_UPGRADE_CLI, push, 60000);
    EXPECT_EQ(run.exitCode, 5) << run.err;
    EXPECT_EQ(run.out, "3 sent, 0 already in the database, 1 skipped, 0 waiting\n");
    EXPECT_NE(run.err.find("line 4 of " + results_ + " is skipped"), std::string::npos) << run.err;
    const std::string ids = StoredIds();
    // Without its cursor, the file goes again: the same IDs, stored once.
    std::remove(CursorPath(results_).c_str());
    run = tolm::test::Run(TOLM_UPGRADE_CLI, push, 60000);
    EXPECT_EQ(run.out, "0 sent, 3 already in the database, 1 skipped, 0 waiting\n") << run.err;
    EXPECT_EQ(StoredIds(), ids);
    EXPECT_EQ(Sql("SELECT COUNT(*) FROM tolm_attempts WHERE station IS NOT NULL AND ended_utc LIKE '2026-12-08T20:3%'"), "3");
}

// A station with emulated scanners, as a bench runs it: every attempt goes to
// the results file and from there to the database.
namespace {
class StationToDatabase : public RecordsDb {
protected:
    void SetUp() override {
        RecordsDb::SetUp();
        if (IsSkipped()) return;
        setenv("TOLM_PORT_DIR", dir_.Path().c_str(), 1);
        setenv("XDG_STATE_HOME", dir_.Path().c_str(), 1);
        setenv("TOLM_TEST_PG_PASSWORD", database_.Password.c_str(), 1);
        auto gen = tolm::test::Run(TOLM_DEVSIM, {"gen", "scanner-fw", "--out", dir_.File("lb1y.bin"), "--set",
                                                 "blank=1-150"}, 30000);
        ASSERT_EQ(gen.exitCode, 0) << gen.err;
    }
    void TearDown() override {
        station_.reset();  // killed, if still running
        RecordsDb::TearDown();
    }

    std::vector<std::string> StationArgs() const {
        return {"--port", "3", "--results", results_, "--station", "bench-7", "--operator", "op-1", "--db",
                database_.Connection, "--db-password-env", "TOLM_TEST_PG_PASSWORD", dir_.File("lb1y.bin")};
    }
    void StartStation() {
        station_ = std::make_unique<tolm::e2e::StationProcess>(StationArgs(), dir_.File("station.err"));
    }
    int EndStation(int sig) { return station_ ? station_->End(sig) : -1; }
    // A scanner plugged in on COM3 (the one before it unplugged).
    void Plug() {
        device_.reset();
        device_ = std::make_unique<tolm::test::BackgroundDevice>(
            TOLM_DEVSIM, std::vector<std::string>{"run", "scanner", "--link", dir_.File("COM3")});
        ASSERT_FALSE(device_->Pty().empty());
    }
    std::vector<std::string> FileIds() {
        std::vector<std::string> ids;
        std::ifstream file(results_);
        std::string line;
        std::getline(file, line);
        while (std::getline(file, line)) ids.push_back(CsvFields(line)->at(11));
        return ids;
    }
    std::string Rows() { return Sql("SELECT COUNT(*) FROM tolm_attempts"); }
    std::string FileIdsJoined() {
        std::string joined;
        for (const auto& id : FileIds()) joined += (joined.empty() ? "" : ",") + id;
        return joined;
    }

    std::unique_ptr<tolm::e2e::StationProcess> station_;
    std::unique_ptr<tolm::test::BackgroundDevice> device_;
};
}  // namespace

// The server stops between two devices and comes back: the station works on,
// says how many lines wait, and sends them in order, each once.
TEST_F(StationToDatabase, LinesWaitWhileTheServerIsAwayAndArriveOnceInOrder) {
    StartStation();
    Plug();
    ASSERT_TRUE(tolm::e2e::WaitFor([&] { return Rows() == "1"; }, 60)) << dir_.Read("station.err");
    Pause();
    for (int device = 2; device <= 3; ++device) {
        Plug();
        ASSERT_TRUE(tolm::e2e::WaitFor([&] { return FileIds().size() == static_cast<size_t>(device); }, 60))
            << dir_.Read("station.err");
    }
    EXPECT_TRUE(tolm::e2e::WaitFor([&] { return dir_.Read("station.err").find("2 lines wait to be sent") != std::string::npos; },
                        30))
        << dir_.Read("station.err");
    Resume();
    EXPECT_TRUE(tolm::e2e::WaitFor([&] { return Rows() == "3"; }, 90)) << dir_.Read("station.err");
    EXPECT_EQ(StoredIds(), FileIdsJoined());
    EXPECT_EQ(Sql("SELECT DISTINCT station || ' ' || operator || ' ' || result FROM tolm_attempts"),
              "bench-7 op-1 Upgrade PASS");
    EXPECT_EQ(EndStation(SIGINT), 130);
    EXPECT_EQ(dir_.Read("station.err").find("not sent to the database"), std::string::npos) << dir_.Read("station.err");
}

// A crash after the database stored lines but before the cursor said so
// (the cursor lost): the restarted station sends nothing twice.
TEST_F(StationToDatabase, ARestartAfterACrashBetweenInsertAndCursorSendsNothingTwice) {
    StartStation();
    Plug();
    ASSERT_TRUE(tolm::e2e::WaitFor([&] { return Rows() == "1"; }, 60)) << dir_.Read("station.err");
    EndStation(SIGKILL);
    std::remove(CursorPath(results_).c_str());
    StartStation();
    Plug();
    ASSERT_TRUE(tolm::e2e::WaitFor([&] { return FileIds().size() == 2 && Rows() == "2"; }, 60)) << dir_.Read("station.err");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(Rows(), "2");
    EXPECT_EQ(StoredIds(), FileIdsJoined());
}

// A refused login is told once, at start, without the password; the station
// then works from its file alone, or with --db-required ends before any device.
TEST_F(StationToDatabase, ARefusedLoginIsOneLineAndDbRequiredEndsBeforeAnyDevice) {
    const std::string secret = "Secret-Station-42";
    setenv("TOLM_TEST_PG_PASSWORD", secret.c_str(), 1);
    Plug();
    auto required = StationArgs();
    required.insert(required.begin(), {"station", "--db-required"});
    auto run = tolm::test::Run(TOLM_UPGRADE_CLI, required, 60000);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.find(secret), std::string::npos);
    EXPECT_TRUE(FileIds().empty());

    StartStation();
    ASSERT_TRUE(tolm::e2e::WaitFor([&] { return FileIds().size() == 1; }, 60)) << dir_.Read("station.err");
    EXPECT_EQ(EndStation(SIGINT), 130);
    const std::string err = dir_.Read("station.err");
    EXPECT_EQ(err.find(secret), std::string::npos) << err;
    EXPECT_NE(err.find("1 line of " + results_ + " is not sent to the database"), std::string::npos) << err;
    EXPECT_EQ(Sql("SELECT COUNT(*) FROM pg_tables WHERE tablename = 'tolm_attempts'"), "0");
}

// A one-off upgrade with --results and --db: its line in the file and the table.
TEST_F(StationToDatabase, AnUpgradeWithResultsAndDbRecordsItsAttemptInBoth) {
    Plug();
    auto run = tolm::test::Run(TOLM_UPGRADE_CLI,
                               {"upgrade", "--port", "3", "--results", results_, "--db", database_.Connection,
                                "--db-password-env", "TOLM_TEST_PG_PASSWORD", dir_.File("lb1y.bin")},
                               120000);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(FileIds().size(), 1u);
    EXPECT_TRUE(IsUuid(FileIds()[0]));
    EXPECT_EQ(StoredIds(), FileIds()[0]);
}
