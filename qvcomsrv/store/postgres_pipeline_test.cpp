// A save on a database server sends its statements together: how many times it waits for the
// server, whatever the number of servers the application names, and what a save whose statement
// fails part-way reports and leaves (nothing). And what a save has the server do: no table of the
// farm's servers read whole, no application's row written again unchanged.
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/postgres_connection.h"
#include "qvcomsrv/store/store_test_support.h"

using namespace sky::farm;
using namespace sky::farm::testing;
using Code = Status::Code;

namespace {

// Ten servers more than the small farm's three: SERVER1 to SERVER10.
FarmImage farmOfThirteenServers() {
    FarmImage image = smallFarm();
    for (int i = 1; i <= 10; ++i)
        image.servers.push_back({"SERVER" + std::to_string(i), "East", 5, 0});
    return image;
}

Application applicationOn(const std::string& name, int servers) {
    Application app = newApplication("Applications/Office", name);
    for (int i = 1; i <= servers; ++i)
        app.servers.push_back("server" + std::to_string(i)); // stored as SERVER<i>
    app.users = {{1, 1, "CORP", "alice"}, {1, 1, "CORP", "bob"}};
    app.groups = {{2, 1, "CORP", "staff"}};
    app.icon = colourIcon(0xff2060a0);
    return app;
}

// Another program's session on the database, as a tool beside the store would have: its
// statements run when asked, and its transaction stays open until it commits.
class OtherProgram {
public:
    explicit OtherProgram(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
        if (PQstatus(conn_) != CONNECTION_OK)
            throw std::runtime_error(PQerrorMessage(conn_));
    }
    ~OtherProgram() { PQfinish(conn_); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    void run(const std::string& sql) {
        PGresult* result = PQexec(conn_, sql.c_str());
        const ExecStatusType status = PQresultStatus(result);
        const std::string why = PQresultErrorMessage(result);
        PQclear(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error(sql + ": " + why);
    }
    std::int64_t number(const std::string& sql) {
        PGresult* result = PQexec(conn_, sql.c_str());
        const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
        const std::int64_t value = ok ? std::stoll(PQgetvalue(result, 0, 0)) : -1;
        PQclear(result);
        return value;
    }

private:
    PGconn* conn_;
};

// A farm as a store created with one holds: 500 servers, SRV1 to SRV500, and 200 applications
// on three of them each. Its tables are large enough that a look-up by key that reads a table
// whole is the planner's choice, not the only one it has.
FarmImage farmOfManyServers() {
    FarmImage image = smallFarm();
    for (int i = 1; i <= 500; ++i)
        image.servers.push_back({"SRV" + std::to_string(i), i % 2 ? "East" : "West", 5, 2});
    for (int i = 0; i < 200; ++i) {
        Application app = newApplication("Applications/Office", "Loaded " + std::to_string(i));
        for (int s = 0; s < 3; ++s)
            app.servers.push_back("SRV" + std::to_string(1 + (i * 7 + s * 131) % 500));
        app.users = {{1, 1, "CORP", "user" + std::to_string(i)}};
        image.applications.push_back(std::move(app));
    }
    return image;
}

// What the sessions of a database that have ended did with a table: read it whole, read it
// through an index, inserted rows, changed rows.
struct TableWork {
    std::int64_t wholeReads = 0;
    std::int64_t indexReads = 0;
    std::int64_t inserts = 0;
    std::int64_t updates = 0;
};

// A session's counts reach the server's statistics when it ends: they are read once every other
// session of the database has gone (10 s at most).
void awaitOtherSessionsEnded(const PostgresTestDatabase& database, OtherProgram& look) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (look.number("SELECT count(*) FROM pg_stat_activity WHERE datname = '" + database.name() +
                       "' AND pid <> pg_backend_pid()") != 0) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the store's sessions did not end");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TableWork workOn(const PostgresTestDatabase& database, const std::string& table) {
    OtherProgram look(database.conninfo());
    awaitOtherSessionsEnded(database, look);
    const std::string of = " FROM pg_stat_user_tables WHERE relname = '" + table + "'";
    return {look.number("SELECT seq_scan" + of), look.number("SELECT idx_scan" + of),
            look.number("SELECT n_tup_ins" + of), look.number("SELECT n_tup_upd" + of)};
}

// The reads through one index of a table, by the sessions that have ended.
std::int64_t readsThrough(const PostgresTestDatabase& database, const std::string& index) {
    OtherProgram look(database.conninfo());
    awaitOtherSessionsEnded(database, look);
    return look.number("SELECT idx_scan FROM pg_stat_user_indexes WHERE indexrelname = '" + index +
                       "'");
}

class PostgresPipelinedSave : public ::testing::Test {
protected:
    void SetUp() override {
        auto created = createPostgresFarmStore(database_.conninfo(), farmOfThirteenServers());
        ASSERT_TRUE(created) << created.status().toString();
        store_ = std::move(*created);
        store_->setAuditing(true);
    }

    // Waits until a session of the database waits for another's lock (10 s at most).
    void awaitALockWait() {
        OtherProgram watcher(database_.conninfo());
        const std::string sql = "SELECT count(*) FROM pg_stat_activity WHERE datname = '" +
                                database_.name() + "' AND wait_event_type = 'Lock'";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (watcher.number(sql) < 1) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no save waited for a lock";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // What a save left: rows of the application named, its publications, grants, icon, and the
    // audit entries naming it.
    std::int64_t traces(const std::string& dn) {
        OtherProgram look(database_.conninfo());
        const std::string key = "'" + nameKey(dn) + "'";
        const std::string app = "(SELECT id FROM application WHERE dn_key = " + key + ")";
        return look.number("SELECT (SELECT count(*) FROM application WHERE dn_key = " + key +
                           ") + (SELECT count(*) FROM publication WHERE application_id = " + app +
                           ") + (SELECT count(*) FROM account_grant WHERE application_id = " + app +
                           ") + (SELECT count(*) FROM application_icon WHERE "
                           "application_id = " +
                           app + ") + (SELECT count(*) FROM audit WHERE dn_key = " + key + ")");
    }

    PostgresTestDatabase database_;
    std::unique_ptr<FarmStore> store_;
};

} // namespace

TEST_F(PostgresPipelinedSave, ASaveWaitsForTheSameFewRoundTripsWithOneServerAndWithTen) {
    // A statement is prepared on its first use in the same round trip as its first run, so
    // that the first saves of a connection (and the first with a new number of audit entries or
    // servers) wait no more than those after them.
    for (int servers : {1, 10}) {
        SCOPED_TRACE(std::to_string(servers) + " servers");
        const Application app = applicationOn("App on " + std::to_string(servers), servers);
        std::uint64_t before = postgres::Connection::serverWaits();
        const std::uint64_t readsBefore = postgres::Connection::socketReads();
        auto created = store_->saveApplication(app, nullptr);
        ASSERT_TRUE(created) << created.status().toString();
        // The folder, names and servers looked up; then everything written, with the commit.
        EXPECT_EQ(postgres::Connection::serverWaits() - before, 2u);
        // The answers of a wait come together and are taken together: a read or two of the
        // socket a wait (once before it answers, once after), where there were 28 to 40 a save
        // (a read before each answer and before the end of each).
        EXPECT_LE(postgres::Connection::socketReads() - readsBefore, 2u * 3u);
        EXPECT_NE(created->id, 0);
        EXPECT_EQ(created->servers.size(), static_cast<std::size_t>(servers));
        EXPECT_EQ(created->servers.front(), "SERVER1");

        // A change of the description and of a server: the application as it is now with the
        // look-ups of the names the change gives, then the writes and the commit.
        Application edit = *created;
        edit.description = "Changed";
        edit.servers.back() = "BETA";
        before = postgres::Connection::serverWaits();
        const std::uint64_t changeReadsBefore = postgres::Connection::socketReads();
        auto saved = store_->saveApplication(edit, &*created);
        ASSERT_TRUE(saved) << saved.status().toString();
        EXPECT_EQ(postgres::Connection::serverWaits() - before, 2u);
        EXPECT_LE(postgres::Connection::socketReads() - changeReadsBefore, 2u * 3u);

        auto reread = store_->application(created->distinguishedName());
        ASSERT_TRUE(reread) << reread.status().toString();
        EXPECT_EQ(reread->description, "Changed");
        EXPECT_TRUE(reread->isPublishedOn("BETA"));
        EXPECT_EQ(reread->servers.size(), static_cast<std::size_t>(servers));
        EXPECT_EQ(reread->users, app.users);
        EXPECT_EQ(reread->groups, app.groups);
        EXPECT_EQ(reread->icon, app.icon);
    }
    // Another administrator publishes the application on a server meanwhile: the save keeps
    // it, looking the server up after it read it (a round trip more).
    auto loaded = store_->application("Applications/Office/App on 1");
    ASSERT_TRUE(loaded) << loaded.status().toString();
    ASSERT_TRUE(store_->publish("Applications/Office/App on 1", "SERVER7"));
    Application edit = *loaded;
    edit.description = "Changed again";
    edit.servers.push_back("gamma");
    const std::uint64_t before = postgres::Connection::serverWaits();
    auto saved = store_->saveApplication(edit, &*loaded);
    ASSERT_TRUE(saved) << saved.status().toString();
    EXPECT_EQ(postgres::Connection::serverWaits() - before, 3u);
    std::vector<std::string> servers = saved->servers;
    std::sort(servers.begin(), servers.end());
    EXPECT_EQ(servers, (std::vector<std::string>{"BETA", "GAMMA", "SERVER7"}));
    auto reread = store_->application("Applications/Office/App on 1");
    ASSERT_TRUE(reread) << reread.status().toString();
    EXPECT_EQ(reread->description, "Changed again");
    EXPECT_EQ(reread->servers, (std::vector<std::string>{"BETA", "GAMMA", "SERVER7"}));

    // The trail has the change as it was made: the description, and GAMMA gained (SERVER7 was
    // the other administrator's, recorded with the publish).
    auto trail = store_->auditTrail({});
    ASSERT_TRUE(trail);
    ASSERT_GE(trail->size(), 3u);
    EXPECT_EQ((*trail)[0].operation, "ChangeApplication");
    EXPECT_EQ((*trail)[0].newValue, "Changed again");
    EXPECT_EQ((*trail)[1].operation, "Publish");
    EXPECT_EQ((*trail)[1].newValue, "GAMMA");
    EXPECT_EQ((*trail)[2].operation, "Publish");
    EXPECT_EQ((*trail)[2].newValue, "SERVER7");
}

TEST_F(PostgresPipelinedSave,
       ANameTakenByAnotherProgramBetweenReadAndWriteIsReportedAndLeavesNothing) {
    // The other program's new application with the name is not committed yet when the save
    // looks the name up; the save's insert waits for it, and fails once it is committed. The
    // save, run again, finds the name taken.
    ASSERT_TRUE(store_->saveApplication(applicationOn("Template", 0), nullptr));
    OtherProgram other(database_.conninfo());
    other.run("BEGIN");
    other.run("INSERT INTO application SELECT * FROM jsonb_populate_record(NULL::application, "
              "(SELECT to_jsonb(a) || jsonb_build_object('id', a.id + 1000, 'name', 'Word', "
              "'dn_key', '" +
              nameKey("Applications/Office/Word") +
              "') FROM application a WHERE a.name = 'Template'))");
    auto saving = std::async(std::launch::async, [&] {
        return store_->saveApplication(applicationOn("Word", 3), nullptr).status();
    });
    awaitALockWait();
    other.run("COMMIT");
    const Status saved = saving.get();
    EXPECT_EQ(saved.code(), Code::AlreadyExists) << saved.toString();
    EXPECT_EQ(saved.message(), "The application Applications/Office/Word already exists.");
    // The other program's row alone: no publication, grant, icon or audit entry of the save.
    EXPECT_EQ(traces("Applications/Office/Word"), 1);
}

TEST_F(PostgresPipelinedSave, AServerRemovedBetweenReadAndWriteIsReportedAndLeavesNothing) {
    // The save finds BETA; another program removes it meanwhile (its removal holds the row until
    // it commits), and the save's publication on it waits and fails. Run again, the save finds
    // no BETA.
    OtherProgram other(database_.conninfo());
    other.run("BEGIN");
    other.run("DELETE FROM server WHERE name_key = '" + nameKey("BETA") + "'");
    Application app = applicationOn("Word", 2);
    app.servers.push_back("BETA");
    auto saving = std::async(std::launch::async,
                             [&] { return store_->saveApplication(app, nullptr).status(); });
    awaitALockWait();
    other.run("COMMIT");
    const Status saved = saving.get();
    EXPECT_EQ(saved.code(), Code::NotFound) << saved.toString();
    EXPECT_EQ(saved.message(), "There is no server named BETA in the farm.");
    EXPECT_EQ(traces("Applications/Office/Word"), 0);

    // The same for a change of an application that exists: it stays as it was.
    auto word = store_->saveApplication(applicationOn("Word", 2), nullptr);
    ASSERT_TRUE(word) << word.status().toString();
    const std::int64_t before = traces("Applications/Office/Word");
    other.run("BEGIN");
    other.run("DELETE FROM server WHERE name_key = '" + nameKey("SERVER5") + "'");
    Application edit = *word;
    edit.description = "Changed";
    edit.servers.push_back("SERVER5");
    auto changing = std::async(std::launch::async,
                               [&] { return store_->saveApplication(edit, &*word).status(); });
    awaitALockWait();
    other.run("COMMIT");
    const Status changed = changing.get();
    EXPECT_EQ(changed.code(), Code::NotFound) << changed.toString();
    EXPECT_EQ(changed.message(), "There is no server named SERVER5 in the farm.");
    EXPECT_EQ(traces("Applications/Office/Word"), before);
    auto reread = store_->application(word->distinguishedName());
    ASSERT_TRUE(reread) << reread.status().toString();
    EXPECT_EQ(reread->description, word->description);
    EXPECT_EQ(reread->servers, word->servers);
}

TEST_F(PostgresPipelinedSave, ATextTheDatabaseCannotHoldFailsItsStatementAndLeavesNothing) {
    // A NUL character goes in no text of a PostgreSQL database: in the application's own row,
    // in a grant, and in the audit entry (the actor's name), each sent after others of the save.
    const std::string expected =
        "The farm store " + database_.conninfo() +
        " cannot hold a value it was given (invalid byte sequence for encoding \"UTF8\": 0x00).";
    Application inRow = applicationOn("Word", 3);
    inRow.description = std::string("Words\0and more", 14);
    Application inGrant = applicationOn("Word", 3);
    inGrant.groups.push_back({2, 1, "CORP", std::string("staff\0x", 7)});
    for (const Application* app : {&inRow, &inGrant}) {
        const Status saved = store_->saveApplication(*app, nullptr).status();
        EXPECT_EQ(saved.code(), Code::InvalidArgument) << saved.toString();
        EXPECT_EQ(saved.message(), expected);
        EXPECT_EQ(traces("Applications/Office/Word"), 0);
    }

    auto word = store_->saveApplication(applicationOn("Word", 3), nullptr);
    ASSERT_TRUE(word) << word.status().toString();
    const std::int64_t before = traces("Applications/Office/Word");
    Application edit = *word;
    edit.description = "Changed";
    edit.servers.pop_back();
    store_->setActor({std::string("eve\0x", 5), "DESK"});
    const Status saved = store_->saveApplication(edit, &*word).status();
    EXPECT_EQ(saved.code(), Code::InvalidArgument) << saved.toString();
    EXPECT_EQ(saved.message(), expected);
    EXPECT_EQ(traces("Applications/Office/Word"), before);
    auto reread = store_->application(word->distinguishedName());
    ASSERT_TRUE(reread) << reread.status().toString();
    EXPECT_EQ(reread->description, word->description);
    EXPECT_EQ(reread->servers, word->servers);

    // The connection serves on.
    store_->setActor({"eve", "DESK"});
    EXPECT_TRUE(store_->saveApplication(edit, &*word));
}

TEST_F(PostgresPipelinedSave, AServerSessionEndedMidPipelineFailsTheSaveAsMidStatement) {
    // The save's audit entry, sent with its other writes and the commit, waits for the trail,
    // which another program holds; the save's session is ended while it waits.
    OtherProgram holder(database_.conninfo());
    holder.run("BEGIN");
    holder.run("LOCK TABLE audit IN ACCESS EXCLUSIVE MODE");
    auto saving = std::async(std::launch::async, [&] {
        return store_->saveApplication(applicationOn("Word", 3), nullptr).status();
    });
    awaitALockWait();
    OtherProgram admin(database_.conninfo());
    admin.run("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
              database_.name() + "' AND wait_event_type = 'Lock'");
    const Status saved = saving.get();
    holder.run("ROLLBACK");
    EXPECT_EQ(saved.code(), Code::Unavailable) << saved.toString();
    EXPECT_TRUE(contains(saved.message(),
                         "The connection to the farm store " + database_.conninfo() + " broke ("))
        << saved.message();
    EXPECT_TRUE(contains(saved.message(), "the next call connects again.")) << saved.message();
    EXPECT_EQ(traces("Applications/Office/Word"), 0);

    // The next call connects again, and the save is made whole.
    auto again = store_->saveApplication(applicationOn("Word", 3), nullptr);
    ASSERT_TRUE(again) << again.status().toString();
    EXPECT_EQ(again->servers.size(), 3u);
    // The row, three publications, three grants, the icon and the audit entry.
    EXPECT_EQ(traces("Applications/Office/Word"), 9);
}

// A store of farmOfManyServers(), closed once made: a test's own connection is its only one,
// whose counts reach the server's statistics when it closes.
class PostgresSaveWork : public ::testing::Test {
protected:
    void SetUp() override {
        auto created = createPostgresFarmStore(database_.conninfo(), farmOfManyServers());
        ASSERT_TRUE(created) << created.status().toString();
    }

    std::unique_ptr<FarmStore> open() const {
        auto opened = openPostgresFarmStore(database_.conninfo());
        EXPECT_TRUE(opened) << opened.status().toString();
        if (!opened)
            return nullptr;
        (*opened)->setAuditing(true);
        return std::move(*opened);
    }

    PostgresTestDatabase database_;
};

TEST_F(PostgresSaveWork, ASaveLooksItsServersUpByKeyWithoutReadingTheTableOfServers) {
    // Two reads of servers read the table whole on a farm of 500: a list of keys looked up at
    // once (each row compared with every key), and an application's servers read joined to its
    // publications. Either made much of a save's work on the server, and marked every server
    // read in the save's transaction.
    const TableWork before = workOn(database_, "server");
    {
        auto opened = open();
        ASSERT_TRUE(opened);
        FarmStore& store = *opened;
        for (int i = 0; i < 10; ++i) {
            Application app = newApplication("Applications/Office", "New " + std::to_string(i));
            for (int s : {1, 2, 3, 4})
                app.servers.push_back("srv" + std::to_string(s * 100 + i));
            app.users = {{1, 1, "CORP", "alice"}, {1, 1, "CORP", "bob"}};
            app.icon = colourIcon(0xff000000u + static_cast<std::uint32_t>(i));
            auto created = store.saveApplication(app, nullptr);
            ASSERT_TRUE(created) << created.status().toString();
            Application edit = *created;
            edit.description = "Changed";
            edit.servers.back() = "SRV" + std::to_string(450 + i);
            ASSERT_TRUE(store.saveApplication(edit, &*created));
            auto loaded = store.application("Applications/Office/Loaded " + std::to_string(i));
            ASSERT_TRUE(loaded) << loaded.status().toString();
            edit = *loaded;
            edit.description = "Changed";
            ASSERT_TRUE(store.saveApplication(edit, &*loaded));
        }
    }
    const TableWork after = workOn(database_, "server");
    EXPECT_EQ(after.wholeReads - before.wholeReads, 0);
    // Each save looked its servers up, by the table's index.
    EXPECT_GE(after.indexReads - before.indexReads, 20 * 4);
}

TEST_F(PostgresSaveWork, APublishSavedWritesThePublicationAndNotTheApplicationsRow) {
    // As the object model publishes: the application loaded, published on a server, saved.
    // The application's row holds its names, type, description and settings; a save that
    // changed none of them wrote the row again all the same, a new version of it and its log.
    const TableWork applicationsBefore = workOn(database_, "application");
    const TableWork publicationsBefore = workOn(database_, "publication");
    {
        auto opened = open();
        ASSERT_TRUE(opened);
        FarmStore& store = *opened;
        for (int i = 0; i < 20; ++i) {
            const std::string dn = "Applications/Office/Loaded " + std::to_string(i);
            auto loaded = store.application(dn);
            ASSERT_TRUE(loaded) << loaded.status().toString();
            Application edit = *loaded;
            ASSERT_TRUE(publishOn(edit, "SRV" + std::to_string(400 + i)));
            ASSERT_TRUE(store.saveApplication(edit, &*loaded));
            // A change of the row's own columns writes it.
            if (i % 4 == 0) {
                auto published = store.application(dn);
                ASSERT_TRUE(published) << published.status().toString();
                edit = *published;
                edit.description = "Changed";
                ASSERT_TRUE(store.saveApplication(edit, &*published));
            }
        }
        auto reread = store.application("Applications/Office/Loaded 4");
        ASSERT_TRUE(reread) << reread.status().toString();
        EXPECT_EQ(reread->description, "Changed");
        EXPECT_TRUE(reread->isPublishedOn("SRV404"));
        EXPECT_EQ(reread->servers.size(), 4u);
        auto trail = store.auditTrail({});
        ASSERT_TRUE(trail);
        ASSERT_FALSE(trail->empty());
        EXPECT_EQ(trail->front().operation, "Publish");
        EXPECT_EQ(trail->front().newValue, "SRV419");
    }
    EXPECT_EQ(workOn(database_, "application").updates - applicationsBefore.updates, 5);
    EXPECT_EQ(workOn(database_, "publication").inserts - publicationsBefore.inserts, 20);
}

TEST_F(PostgresSaveWork, AChangeThatKeepsItsPlaceAndServersLooksNoNameUp) {
    // Most changes keep the application where it is, under its name, on its servers: a change
    // of its description or settings, accounts or icon. The folder and the servers named were
    // looked up by key all the same, two statements of a change's few.
    const auto folderKeys = [&] { return readsThrough(database_, "folder_dn_key_key"); };
    const auto serverKeys = [&] { return readsThrough(database_, "server_name_key_key"); };
    const std::int64_t foldersBefore = folderKeys();
    const std::int64_t serversBefore = serverKeys();
    {
        auto opened = open();
        ASSERT_TRUE(opened);
        for (int i = 0; i < 20; ++i) {
            auto loaded = opened->application("Applications/Office/Loaded " + std::to_string(i));
            ASSERT_TRUE(loaded) << loaded.status().toString();
            Application edit = *loaded;
            edit.description = "Changed";
            edit.name = "LOADED " + std::to_string(i);
            edit.users.push_back({1, 1, "CORP", "extra"});
            ASSERT_TRUE(opened->saveApplication(edit, &*loaded));
        }
        auto reread = opened->application("Applications/Office/Loaded 7");
        ASSERT_TRUE(reread) << reread.status().toString();
        EXPECT_EQ(reread->name, "LOADED 7");
        EXPECT_EQ(reread->users.size(), 2u);
    }
    EXPECT_EQ(folderKeys() - foldersBefore, 0);
    EXPECT_EQ(serverKeys() - serversBefore, 0);
    // A change that moves the application, or publishes it on another server, looks them up.
    {
        auto opened = open();
        ASSERT_TRUE(opened);
        auto loaded = opened->application("Applications/Office/Loaded 30");
        ASSERT_TRUE(loaded) << loaded.status().toString();
        Application edit = *loaded;
        edit.folder = "Applications/Office/Tools";
        edit.servers.push_back("SRV499");
        ASSERT_TRUE(opened->saveApplication(edit, &*loaded));
    }
    EXPECT_GE(folderKeys() - foldersBefore, 1);
    EXPECT_GE(serverKeys() - serversBefore, 1);
}
