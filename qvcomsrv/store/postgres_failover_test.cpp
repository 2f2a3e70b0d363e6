// The farm on a primary and its synchronous standby, through one connection string naming both
// (the primary first, target_session_attrs=read-write): the primary stopped (fast or immediate)
// and the standby promoted while a store works on it; the old primary started again without
// fencing, as writable as before and behind the farm.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qvcomsrv/store/postgres_connection.h"
#include "qvcomsrv/store/store_test_support.h"
#include "sky/machine.h"

using namespace sky::farm;
using namespace sky::farm::testing;
using Code = Status::Code;

namespace {

std::string socketOf(const std::string& host) {
    return "the server on socket \"" + host + "/.s.PGSQL.5432\"";
}

// Applications "Applications/Office/App N" for N from 0 to count - 1.
std::string appName(int n) {
    return "Applications/Office/App " + std::to_string(n);
}

class PostgresFailover : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        pair_.createDatabase("farm");
        conninfo_ = pair_.conninfo("farm");
        auto created = createPostgresFarmStore(conninfo_, smallFarm());
        ASSERT_TRUE(created) << created.status().toString();
        store_ = std::move(*created);
    }

    // The farm as the server in `host` holds it: which applications run on BETA.
    std::set<std::string> publishedOn(const std::string& host) const {
        std::set<std::string> published;
        for (const std::string& dn : queryPostgresColumn(
                 PostgresTestPair::conninfoOf(host, "farm"),
                 "SELECT a.name FROM application a JOIN publication p ON p.application_id = a.id "
                 "JOIN server s ON s.id = p.server_id WHERE s.name = 'BETA'"))
            published.insert("Applications/Office/" + dn);
        return published;
    }
    std::set<std::string> auditedOn(const std::string& host) const {
        const auto rows = queryPostgresColumn(PostgresTestPair::conninfoOf(host, "farm"),
                                              "SELECT dn FROM audit WHERE operation = 'Publish'");
        return {rows.begin(), rows.end()};
    }

    PostgresTestPair pair_;
    std::string conninfo_;
    std::unique_ptr<FarmStore> store_;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Stop, PostgresFailover, ::testing::Values("fast", "immediate"),
                         [](const auto& info) { return std::string(info.param); });

// A publish loop while the primary is stopped and the standby promoted, from another thread at
// a third of the way: every publish reported done is in the new primary's farm and audit trail;
// every one reported failed is in neither, but for at most the one whose commit the stop cut off
// (which says the connection broke and does not claim either way).
TEST_P(PostgresFailover, NothingReportedDoneIsLostAndNothingReportedFailedIsThere) {
    constexpr int kApplications = 300;
    FarmImage image = smallFarm();
    for (int n = 0; n < kApplications; ++n)
        image.applications.push_back(
            newApplication("Applications/Office", "App " + std::to_string(n)));
    ASSERT_TRUE(store_->replace(image));

    std::atomic<int> reached{0};
    std::string faultFailed;
    std::thread fault([&] {
        while (reached.load() < kApplications / 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        try {
            pair_.halt(pair_.primary(), GetParam());
            pair_.promote(pair_.standby());
        } catch (const std::exception& e) {
            faultFailed = e.what();
        }
    });
    std::set<std::string> done;
    std::map<std::string, std::string> failed;
    for (int n = 0; n < kApplications; ++n) {
        reached = n;
        // The last fifty after the promotion, however fast the calls in between failed.
        if (n == kApplications - 50)
            fault.join();
        const Status published = store_->publish(appName(n), "BETA");
        if (published)
            done.insert(appName(n));
        else
            failed[appName(n)] = published.toString();
    }
    ASSERT_EQ(faultFailed, "");
    EXPECT_GE(done.size(), static_cast<std::size_t>(kApplications / 3));
    EXPECT_TRUE(done.contains(appName(kApplications - 1))) << "not served after the promotion";

    const std::set<std::string> farm = publishedOn(pair_.standby());
    const std::set<std::string> audited = auditedOn(pair_.standby());
    for (const std::string& dn : done) {
        EXPECT_TRUE(farm.contains(dn)) << dn << " was reported published and is not";
        EXPECT_TRUE(audited.contains(dn)) << dn << " was reported published and is not audited";
    }
    int cutOff = 0;
    for (const auto& [dn, why] : failed) {
        EXPECT_TRUE(contains(why, "cannot be reached") || contains(why, "broke")) << why;
        EXPECT_EQ(farm.contains(dn), audited.contains(dn)) << dn;
        if (farm.contains(dn)) {
            ++cutOff;
            EXPECT_TRUE(contains(why, "broke")) << dn << " was reported failed: " << why;
            EXPECT_TRUE(contains(why, "while the change was being committed: it may or may not "
                                      "have been made"))
                << why;
        }
    }
    EXPECT_LE(cutOff, 1);
}

// The old primary started again without fencing takes writes, behind the farm: a program of the
// machine that meets it first is refused it and served by the next host of the string; a string
// naming it alone gets an error naming it; and a program that was connected to it before the
// machine saw the new primary leaves it before its next call.
TEST_P(PostgresFailover, AnOldPrimaryStartedAgainIsRefusedAndTheNextHostServes) {
    ASSERT_TRUE(store_->saveApplication(newApplication("Applications/Office", "Word"), nullptr));
    // One program on the old primary the machine knows nothing else of; it sees the farm there.
    std::filesystem::remove_all(sky::machine::root() / "farms" / "timelines");
    auto early = openPostgresFarmStore(conninfo_);
    ASSERT_TRUE(early) << early.status().toString();

    pair_.halt(pair_.primary(), GetParam());
    pair_.promote(pair_.standby());
    // The first call after an idle failover works, on the new primary.
    ASSERT_TRUE(store_->publish("Applications/Office/Word", "BETA"));
    pair_.resume(pair_.primary());
    const std::vector<std::string> stale = queryPostgresColumn(
        PostgresTestPair::conninfoOf(pair_.primary(), "farm"), "SELECT pg_is_in_recovery()");
    ASSERT_EQ(stale, std::vector<std::string>{"f"}) << "the old primary does not take writes";

    // Another program of this machine: libpq reaches the old primary first and the store passes
    // over it; the farm it reads is the new primary's.
    auto second = openPostgresFarmStore(conninfo_);
    ASSERT_TRUE(second) << second.status().toString();
    auto word = (*second)->application("Applications/Office/Word");
    ASSERT_TRUE(word) << word.status().toString();
    EXPECT_EQ(word->servers, std::vector<std::string>{"BETA"});

    // The old primary alone is refused, named, with the farm's timeline and where it was seen.
    const std::string alone = PostgresTestPair::conninfoOf(pair_.primary(), "farm");
    auto refused = openPostgresFarmStore(alone);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.status().code(), Code::Unavailable);
    EXPECT_TRUE(contains(refused.status().message(),
                         "The farm store " + alone + " refused " + socketOf(pair_.primary()) +
                             ", which takes writes but is behind the farm: it is on timeline 1, "
                             "and this machine saw the farm on timeline 2 (" +
                             socketOf(pair_.standby()) + ", "))
        << refused.status().message();
    EXPECT_TRUE(contains(refused.status().message(),
                         "It is a primary that a failover left behind, and must be fenced"))
        << refused.status().message();

    // The program that connected before the failover reconnected to the old primary when it
    // came back (its connection broke with the stop), then learnt of the new one from the
    // machine's record before its next call.
    auto earlyWord = (*early)->application("Applications/Office/Word");
    ASSERT_TRUE(earlyWord) << earlyWord.status().toString();
    EXPECT_EQ(earlyWord->servers, std::vector<std::string>{"BETA"});
    ASSERT_TRUE((*early)->publish("Applications/Office/Word", "GAMMA"));
    EXPECT_EQ(queryPostgresColumn(PostgresTestPair::conninfoOf(pair_.primary(), "farm"),
                                  "SELECT count(*) FROM publication"),
              std::vector<std::string>{"0"});
}

// The machine's record of timelines: raised, never lowered, by any program; a damaged or foreign
// file names no timeline.
TEST(PostgresTimelineRecord, RisesOnlyAndReadsNothingFromAFileItDidNotWrite) {
    EXPECT_EQ(postgres::knownTimeline("123").timeline, 0);
    postgres::raiseKnownTimeline("123", 3, "the server at \"db2\", port 5432");
    postgres::raiseKnownTimeline("123", 2, "the server at \"db1\", port 5432");
    const postgres::KnownTimeline known = postgres::knownTimeline("123");
    EXPECT_EQ(known.timeline, 3);
    EXPECT_EQ(known.server, "the server at \"db2\", port 5432");
    EXPECT_EQ(known.time.size(), std::string("2026-12-08T16:50:48.123Z").size()) << known.time;
    postgres::raiseKnownTimeline("123", 10, "the server at \"db3\", port 5432");
    EXPECT_EQ(postgres::knownTimeline("123").timeline, 10);
    // Nothing outside the folder is named by an identifier.
    postgres::raiseKnownTimeline("../123", 4, "x");
    EXPECT_FALSE(std::filesystem::exists(sky::machine::root() / "farms" / "123"));
    std::ofstream(sky::machine::root() / "farms" / "timelines" / "456") << "garbage here\n";
    EXPECT_EQ(postgres::knownTimeline("456").timeline, 0);
}
