// The records without a database: results files read while they grow, the
// IDs of attempts recorded without one, times in UTC, the cursor and the
// report's counts.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "records/Attempt.h"
#include "records/Report.h"
#include "records/Resultsreader.h"
#include "records/Sendcursor.h"
#include "records/Uuid.h"

using namespace tolm::records;

namespace {
std::vector<std::string> Texts(const std::vector<TResultsRecord>& records) {
    std::vector<std::string> texts;
    for (const auto& r : records) texts.push_back(r.Text);
    return texts;
}

TAttempt Parsed(const std::string& record, TResultsLayout layout, const std::string& identity, long number) {
    std::string why;
    auto attempt = ParseAttempt(record, layout, identity, number, why);
    EXPECT_TRUE(attempt) << record << ": " << why;
    return attempt.value_or(TAttempt{});
}
}  // namespace

TEST(ResultsReader, ReadsWholeRecordsOnlyAndKeepsFieldsAsTheFileHoldsThem) {
    tolm::test::TempDir dir;
    const std::string id = "0b7c1e52-3f7a-4d2e-9c51-2a6f0e8d4b13";
    const std::string quoted = "2026-12-08T21:30:00+0100,COM3,3QR,Q1,12,00000001,\"'=HYPERLINK(\"\"x\"\"), line\nbreak\","
                               "Upgrade PASS,4.5,abc,3.4.9," + id + ",產線三,op7,2026-12-08T20:29:55Z,"
                               "2026-12-08T20:30:00Z,D-1";
    dir.Write("r.csv", std::string(kResultsHeader) + "\r\n" + quoted + "\n2026-12-08T21:31:00+0100,COM4,2LB");
    TResultsReader reader(dir.File("r.csv"));
    std::string why;
    ASSERT_TRUE(reader.ReadHeader(why)) << why;
    EXPECT_EQ(reader.Layout(), TResultsLayout::Full);
    EXPECT_EQ(reader.Identity(), quoted);
    // The last record has no line break yet: it is being written, and waits.
    auto records = reader.Read(reader.DataStart(), 2, 10, why);
    ASSERT_EQ(Texts(records), std::vector<std::string>{quoted});
    long long end = 0;
    EXPECT_EQ(reader.Count(reader.DataStart(), end, why), 1);
    const TAttempt a = Parsed(records[0].Text, reader.Layout(), reader.Identity(), records[0].Number);
    EXPECT_EQ(a.AttemptId, id);
    EXPECT_EQ(a.TerminalName, "'=HYPERLINK(\"x\"), line\nbreak");  // the writer's guard stays
    EXPECT_EQ(a.Station, "產線三");
    EXPECT_EQ(a.Seconds, 4.5);

    dir.Write("r.csv", dir.Read("r.csv") + ",,,,,,,,,,,,,,\n");
    records = reader.Read(records[0].End, records[0].Number + 1, 10, why);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Number, 3);

    dir.Write("short.csv", std::string(kResultsHeaderShort) + "\n");
    TResultsReader shortReader(dir.File("short.csv"));
    ASSERT_TRUE(shortReader.ReadHeader(why));
    EXPECT_EQ(shortReader.Layout(), TResultsLayout::Short);
    EXPECT_EQ(shortReader.Identity(), "");
    dir.Write("other.csv", "name,value\nx,1\n");
    TResultsReader otherReader(dir.File("other.csv"));
    EXPECT_FALSE(otherReader.ReadHeader(why));
    EXPECT_NE(why.find("not a results file"), std::string::npos) << why;
}

TEST(AttemptIds, RecordsWithoutOneMapToTheSameIdEachTimeAndNeverShareOne) {
    const std::string line = "2026-12-08T21:30:00+0100,COM3,2LB,LB1Y,7_1_0,,,Upgrade PASS,12.3,abc,3.4.8";
    const std::string first = "2026-12-08T20:00:00+0100,COM1,2LB,LB1Y,7_1_0,,,Upgrade PASS,11.0,abc,3.4.8";
    const auto id = Parsed(line, TResultsLayout::WithoutIds, first, 5).AttemptId;
    EXPECT_TRUE(IsUuid(id)) << id;
    EXPECT_EQ(id[14], '5');  // name-based
    EXPECT_EQ(Parsed(line, TResultsLayout::WithoutIds, first, 5).AttemptId, id);
    // The same bytes in another line of the file, or in another file.
    EXPECT_NE(Parsed(line, TResultsLayout::WithoutIds, first, 6).AttemptId, id);
    EXPECT_NE(Parsed(line, TResultsLayout::WithoutIds, line, 5).AttemptId, id);
    // A new attempt's ID is random (version 4, RFC 4122 variant).
    const std::string a = NewAttemptId(), b = NewAttemptId();
    EXPECT_TRUE(IsUuid(a) && a[14] == '4' && std::string("89ab").find(a[19]) != std::string::npos) << a;
    EXPECT_NE(a, b);
}

TEST(AttemptTimes, LocalTimesWithTheirOffsetBecomeUtc) {
    EXPECT_EQ(UtcOfLocalTime("2026-01-01T00:30:00+0100"), "2025-12-31T23:30:00Z");
    EXPECT_EQ(UtcOfLocalTime("2028-02-28T20:00:00-05:30"), "2028-02-29T01:30:00Z");
    EXPECT_EQ(UtcOfLocalTime("2026-12-08T21:30:00Z"), "2026-12-08T21:30:00Z");
    for (const char* bad : {"", "2026-12-08 21:30:00", "2026-12-08T21:30:00", "2026-13-08T21:30:00+0100"})
        EXPECT_EQ(UtcOfLocalTime(bad), "") << bad;
    const auto line = "2026-12-08T21:30:00+0800,COM3,2LB,LB1Y,7_1_0,,,Upgrade PASS,12.3";
    EXPECT_EQ(Parsed(line, TResultsLayout::Short, line, 2).EndedUtc, "2026-12-08T13:30:00Z");
}

TEST(SendCursor, KeepsItsPlaceAndRefusesWhatIsNoCursor) {
    tolm::test::TempDir dir;
    const std::string path = CursorPath(dir.File("r.csv"));
    std::string why;
    EXPECT_FALSE(LoadCursor(path, why));
    EXPECT_EQ(why, "");  // none yet
    const TSendCursor cursor{"6f1c0b2e-0000-5000-8000-000000000001", 12345, 87};
    ASSERT_TRUE(SaveCursor(path, cursor, why)) << why;
    EXPECT_EQ(LoadCursor(path, why), cursor);
    dir.Write("r.csv.cursor", "offset 12\n");
    EXPECT_FALSE(LoadCursor(path, why));
    EXPECT_NE(why, "");
}

TEST(Report, CountsByDayAndNamesDevicesWhoseLastAttemptFailed) {
    auto attempt = [](const std::string& time, const std::string& device, const std::string& result) {
        TAttempt a;
        a.LocalTime = time;
        a.EndedUtc = UtcOfLocalTime(time);
        a.ModelCode = "Q1";
        a.TerminalId = device;
        a.Result = result;
        return a;
    };
    const std::vector<TAttempt> attempts = {
        attempt("2026-12-09T08:00:00+0100", "A", "Upgrade PASS"),   // after A's failure below
        attempt("2026-12-08T23:30:00+0100", "A", "Upgrade Error"),  // the 8th locally, the 8th in UTC too
        attempt("2026-12-09T00:30:00+0100", "B", "Upgrade PASS"),   // the 9th locally, the 8th in UTC
        attempt("2026-12-09T09:00:00+0100", "B", "G006.4 Firmware dons not support this model"),
        attempt("2026-12-09T09:10:00+0100", "", "Upgrade Error"),   // no device named
        // A device that passed, found again by a station: no attempt, and not failing.
        attempt("2026-12-09T09:20:00+0100", "A", "Upgrade skipped (already upgraded)"),
    };
    const auto days = GroupAttempts(attempts, TReportBy::Day);
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[0].Key, "2026-12-08");
    EXPECT_EQ(days[0].Attempts, 1);
    EXPECT_EQ(days[1].Key, "2026-12-09");
    EXPECT_EQ(days[1].Attempts, 4);
    EXPECT_EQ(days[1].Passed, 2);
    EXPECT_EQ(days[1].Failed, 2);
    const auto failing = FailingDevices(attempts);
    ASSERT_EQ(failing.size(), 1u);
    EXPECT_EQ(failing[0].TerminalId, "B");
}
