// What only a store on a database server meets: the server restarting, a server that cannot be
// reached, connection strings, another program's locks, databases that hold no farm store or
// one of another version.
#include <arpa/inet.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qvcomsrv/store/postgres_connection.h"
#include "qvcomsrv/store/store_test_support.h"
#include "sky/machine.h"
#include "sky/text.h"

using namespace sky::farm;
using namespace sky::farm::testing;
using Code = Status::Code;

namespace {

using PostgresFarmStore = FarmStoreTest;

} // namespace

INSTANTIATE_TEST_SUITE_P(OnlyKind, PostgresFarmStore, ::testing::Values(StoreKind::Postgres),
                         storeKindName);

TEST(PostgresServerRestart, AServerThatStopsAnsweringFailsTheCallWithinItsBoundAndServesAfter) {
    PostgresTestCluster cluster;
    cluster.createDatabase("farm");
    const std::string conninfo = cluster.conninfo("farm");
    ASSERT_TRUE(createPostgresFarmStore(conninfo, smallFarm()));
    // Statements bounded at 1 s, the server's answer awaited 1 s more.
    const postgres::ConnectionOptions brief{2, 1000, 500, 1000};
    auto opened = openPostgresFarmStore(conninfo, brief);
    ASSERT_TRUE(opened) << opened.status().toString();
    FarmStore& store = **opened;
    ASSERT_TRUE(store.saveApplication(newApplication("Applications/Office", "Word"), nullptr));

    // The server and its backends stopped where they stand, as a hung server: a read and a
    // save each fail (neither waits without end), and say why.
    cluster.freeze();
    auto read = store.applications(IconLoading::Skip);
    Application edit = newApplication("Applications/Office", "Excel");
    const Status saved = store.saveApplication(edit, nullptr).status();
    cluster.thaw();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.status().code(), Code::Unavailable);
    EXPECT_TRUE(contains(read.status().message(), "did not answer within 2 seconds"))
        << read.status().message();
    EXPECT_FALSE(saved);
    EXPECT_EQ(saved.code(), Code::Unavailable) << saved.toString();

    // The server answering again, the store connects afresh and serves.
    auto again = store.applications(IconLoading::Skip);
    ASSERT_TRUE(again) << again.status().toString();
    EXPECT_EQ(again->size(), 1u);
    EXPECT_TRUE(store.saveApplication(edit, nullptr));
}

TEST(PostgresServerRestart, AConnectionTheRestartClosedIsReplacedBeforeTheNextCall) {
    PostgresTestCluster cluster;
    cluster.createDatabase("farm");
    const std::string conninfo = cluster.conninfo("farm");
    auto created = createPostgresFarmStore(conninfo, smallFarm());
    ASSERT_TRUE(created) << created.status().toString();
    FarmStore& store = **created;
    ASSERT_TRUE(store.replace(smallFarm()));
    ASSERT_TRUE(store.saveApplication(newApplication("Applications/Office", "Word"), nullptr));

    // The first call after the restart connects again and goes on: a read, then a write.
    cluster.restart();
    auto applications = store.applications(IconLoading::Skip);
    ASSERT_TRUE(applications) << applications.status().toString();
    EXPECT_EQ(applications->size(), 1u);
    cluster.restart();
    ASSERT_TRUE(store.publish("Applications/Office/Word", "BETA"));
    auto after = openPostgresFarmStore(conninfo);
    ASSERT_TRUE(after) << after.status().toString();
    EXPECT_EQ((*after)->application("Applications/Office/Word")->servers,
              std::vector<std::string>{"BETA"});
}

namespace {

// Ends the sessions of every other program on the test's database, as an administrator's
// pg_terminate_backend or a failing-over server does, and waits until they are gone.
void endOtherSessions(const PostgresTestDatabase& database, const std::string& which = "true") {
    const std::string others = "FROM pg_stat_activity WHERE datname = '" + database.name() +
                               "' AND pid <> pg_backend_pid() AND " + which;
    EXPECT_FALSE(
        queryPostgresColumn(database.conninfo(), "SELECT pg_terminate_backend(pid) " + others)
            .empty())
        << "no session to end";
    for (int wait = 0; wait < 500; ++wait) {
        if (queryPostgresColumn(database.conninfo(), "SELECT pid " + others).empty())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the sessions did not end";
}

} // namespace

namespace {

// A server that speaks just enough of PostgreSQL's protocol to be connected to: it takes every
// session without a password and answers every query "SET". Told to, it sends the newest
// session the reason a server gives when it ends one (FATAL, 57P01) and leaves its socket open:
// the moment between the two, which a real server passes in a blink (after it has taken the
// session out of pg_stat_activity), held for as long as the test needs.
class HalfClosingServer {
public:
    HalfClosingServer() : folder_((sky::machine::root() / "half-closing").string()) {
        std::filesystem::create_directories(folder_);
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = folder_ + "/.s.PGSQL.5432";
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener_, 4), 0);
        EXPECT_EQ(pipe2(commands_, O_CLOEXEC), 0);
        thread_ = std::thread([this] { serve(); });
    }
    ~HalfClosingServer() {
        [[maybe_unused]] const ssize_t sent = write(commands_[1], "q", 1);
        thread_.join();
        for (int fd : {listener_, commands_[0], commands_[1]})
            close(fd);
    }
    HalfClosingServer(const HalfClosingServer&) = delete;
    HalfClosingServer& operator=(const HalfClosingServer&) = delete;

    std::string conninfo() const { return "host=" + folder_ + " user=skyfarm dbname=farm"; }
    int sessions() {
        std::lock_guard lock(mutex_);
        return sessions_;
    }
    // Sends the newest session its end, and returns once it is written.
    void endNewestSession() {
        std::unique_lock lock(mutex_);
        const int before = ended_;
        [[maybe_unused]] const ssize_t sent = write(commands_[1], "e", 1);
        changed_.wait(lock, [&] { return ended_ > before; });
    }

private:
    struct Client {
        int fd = -1;
        bool started = false;
        std::string input;
    };

    static void send(int fd, char type, const std::string& body) {
        std::string message(1, type);
        const std::uint32_t length = htonl(static_cast<std::uint32_t>(body.size() + 4));
        message.append(reinterpret_cast<const char*>(&length), 4);
        message += body;
        [[maybe_unused]] const ssize_t sent = write(fd, message.data(), message.size());
    }

    // Answers what a client sent, as far as it is whole; false when it said goodbye.
    bool answer(Client& client) {
        while (true) {
            const std::size_t header = client.started ? 5 : 4;
            if (client.input.size() < header)
                return true;
            std::uint32_t length = 0;
            std::memcpy(&length, client.input.data() + header - 4, 4);
            length = ntohl(length);
            if (client.input.size() < header - 4 + length)
                return true;
            const char type = client.started ? client.input[0] : 0;
            client.input.erase(0, header - 4 + length);
            if (!client.started) {
                client.started = true; // no encryption is asked for on a Unix socket
                send(client.fd, 'R', std::string(4, '\0'));
                send(client.fd, 'Z', "I");
                std::lock_guard lock(mutex_);
                ++sessions_;
            } else if (type == 'Q') {
                send(client.fd, 'C', std::string("SET") + '\0');
                send(client.fd, 'Z', "I");
            } else if (type == 'X') {
                return false;
            }
        }
    }

    void serve() {
        std::vector<Client> clients;
        while (true) {
            std::vector<pollfd> waits{{listener_, POLLIN, 0}, {commands_[0], POLLIN, 0}};
            for (const Client& client : clients)
                waits.push_back({client.fd, POLLIN, 0});
            if (poll(waits.data(), waits.size(), 10000) <= 0)
                break;
            if (waits[0].revents & POLLIN)
                clients.push_back({accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)});
            if (waits[1].revents & POLLIN) {
                char command = 0;
                [[maybe_unused]] const ssize_t got = read(commands_[0], &command, 1);
                if (command == 'q')
                    break;
                std::string reason = "SFATAL";
                reason += '\0';
                reason += "VFATAL";
                reason += '\0';
                reason += "C57P01";
                reason += '\0';
                reason += "Mterminating connection due to administrator command";
                reason += '\0';
                reason += '\0';
                if (!clients.empty())
                    send(clients.back().fd, 'E', reason);
                std::lock_guard lock(mutex_);
                ++ended_;
                changed_.notify_all();
            }
            for (std::size_t i = 2; i < waits.size(); ++i) {
                Client& client = clients[i - 2];
                if (!(waits[i].revents & (POLLIN | POLLHUP)))
                    continue;
                char buffer[4096];
                const ssize_t got = read(client.fd, buffer, sizeof buffer);
                if (got > 0)
                    client.input.append(buffer, static_cast<std::size_t>(got));
                if (got <= 0 || !answer(client)) {
                    close(client.fd);
                    client.fd = -1;
                }
            }
            std::erase_if(clients, [](const Client& client) { return client.fd < 0; });
        }
        for (const Client& client : clients)
            close(client.fd);
    }

    std::string folder_;
    int listener_ = -1;
    int commands_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable changed_;
    int sessions_ = 0;
    int ended_ = 0;
    std::thread thread_;
};

} // namespace

// The server's reason for ending the session came, its socket is not closed yet: the connection
// is over all the same, and the next operation connects again rather than sending its statements
// into a session that is going. (The check took such a connection for a live one: the first call
// after an ended session failed when it came in between, as CI's sanitizer run met once.)
TEST(PostgresSessionEnd, ASessionWhoseServerSaidItEndsIsReplacedThoughItsSocketIsStillOpen) {
    HalfClosingServer server;
    postgres::Connection db(server.conninfo(), {});
    ASSERT_EQ(server.sessions(), 1);
    db.prepareForUse();
    EXPECT_EQ(server.sessions(), 1) << "a live session was replaced";
    server.endNewestSession();
    db.prepareForUse();
    EXPECT_EQ(server.sessions(), 2);
}

TEST_P(PostgresFarmStore, ASessionEndedBetweenCallsIsReplacedAndTheCallGoesOn) {
    auto store = createSmallFarm();
    ASSERT_TRUE(store->saveApplication(newApplication("Applications/Office", "Word"), nullptr));
    for (int round = 0; round < 3; ++round) {
        endOtherSessions(*database_);
        const std::string server = std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}[round];
        Status published = store->publish("Applications/Office/Word", server);
        EXPECT_TRUE(published) << published.toString();
    }
    endOtherSessions(*database_);
    auto word = store->application("Applications/Office/Word");
    ASSERT_TRUE(word) << word.status().toString();
    EXPECT_EQ(word->servers, (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
    // Each publish is in the audit trail once.
    EXPECT_EQ(queryPostgresColumn(testStorePath(),
                                  "SELECT count(*) FROM audit WHERE operation = 'Publish'"),
              std::vector<std::string>{"3"});
}

TEST_P(PostgresFarmStore, ACallCutOffAfterItsFirstStatementFailsAndIsNotRunAgain) {
    auto store = createSmallFarm();
    ASSERT_TRUE(store->saveApplication(newApplication("Applications/Office", "Word"), nullptr));
    // The publish writes its row, then waits for the audit trail, which another program holds;
    // its session is ended while it waits.
    PGconn* holder = PQconnectdb(testStorePath().c_str());
    ASSERT_EQ(PQstatus(holder), CONNECTION_OK) << PQerrorMessage(holder);
    PQclear(PQexec(holder, "BEGIN; LOCK TABLE audit IN ACCESS EXCLUSIVE MODE"));
    Status published;
    std::thread publisher([&] { published = store->publish("Applications/Office/Word", "BETA"); });
    const std::string waiting =
        "wait_event_type = 'Lock' AND pid <> " + std::to_string(PQbackendPID(holder));
    for (int wait = 0; wait < 400; ++wait) {
        if (!queryPostgresColumn(testStorePath(),
                                 "SELECT pid FROM pg_stat_activity WHERE " + waiting)
                 .empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    endOtherSessions(*database_, waiting);
    publisher.join();
    PQclear(PQexec(holder, "ROLLBACK"));
    PQfinish(holder);

    EXPECT_EQ(published.code(), Code::Unavailable) << published.toString();
    EXPECT_TRUE(contains(published.message(),
                         "The connection to the farm store " + testStorePath() + " broke ("))
        << published.message();
    EXPECT_TRUE(contains(published.message(), "the next call connects again."));
    // Nothing of it was done, and it was not done again behind the caller's back.
    EXPECT_EQ(queryPostgresColumn(testStorePath(), "SELECT count(*) FROM publication"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(queryPostgresColumn(testStorePath(),
                                  "SELECT count(*) FROM audit WHERE operation = 'Publish'"),
              std::vector<std::string>{"0"});
    // The next call connects again.
    ASSERT_TRUE(store->publish("Applications/Office/Word", "BETA"));
    EXPECT_EQ(store->application("Applications/Office/Word")->servers,
              std::vector<std::string>{"BETA"});
}

TEST_P(PostgresFarmStore, AServerThatCannotBeReachedIsNamedWithTheReason) {
    const std::string noSocket = "host=/tmp/no-such-farm-cluster user=skyfarm dbname=farm";
    auto missing = openPostgresFarmStore(noSocket);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.status().code(), Code::Unavailable);
    EXPECT_TRUE(contains(missing.status().message(), "The farm store " + noSocket +
                                                         " cannot be reached: connection to "
                                                         "server on socket "
                                                         "\"/tmp/no-such-farm-cluster/"))
        << missing.status().message();
    EXPECT_TRUE(contains(missing.status().message(), "No such file or directory"))
        << missing.status().message();

    // Nothing listens on port 1 of this machine.
    const std::string refused = "host=127.0.0.1 port=1 user=skyfarm dbname=farm";
    auto tcp = openFarmStore({std::string(kPostgresStoreType), refused});
    EXPECT_EQ(tcp.status().code(), Code::Unavailable);
    EXPECT_TRUE(contains(tcp.status().message(), "\"127.0.0.1\", port 1 failed"))
        << tcp.status().message();

    // A database that is not there is named by the server.
    auto noDatabase = openPostgresFarmStore(PostgresTestDatabase::conninfoFor("no_such_farm"));
    EXPECT_EQ(noDatabase.status().code(), Code::Unavailable);
    EXPECT_TRUE(contains(noDatabase.status().message(), "database \"no_such_farm\" does not exist"))
        << noDatabase.status().message();
}

TEST_P(PostgresFarmStore, AConnectionStringWithAPasswordIsRefusedWithoutShowingIt) {
    for (const std::string& conninfo : std::vector<std::string>{
             database_->conninfo() + " password=hunter2", "postgresql://skyfarm:hunter2@/farm"}) {
        auto opened = openFarmStore({std::string(kPostgresStoreType), conninfo});
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.status().code(), Code::InvalidArgument);
        EXPECT_TRUE(contains(opened.status().message(), "must not hold a password"));
        EXPECT_FALSE(contains(opened.status().message(), "hunter2"));
        EXPECT_EQ(createFarmStore({std::string(kPostgresStoreType), conninfo}, FarmInfo{"F"})
                      .status()
                      .code(),
                  Code::InvalidArgument);
    }
    EXPECT_EQ(postgres::checkConnectionString("dbname='unterminated").code(),
              Code::InvalidArgument);
    EXPECT_TRUE(postgres::checkConnectionString(database_->conninfo()));
    EXPECT_TRUE(postgres::checkConnectionString(database_->uri()));
}

TEST_P(PostgresFarmStore, ADatabaseWithoutAFarmStoreOrWithAnotherOne) {
    auto empty = openPostgresFarmStore(testStorePath());
    EXPECT_EQ(empty.status().code(), Code::NotFound);
    EXPECT_EQ(empty.status().message(), "There is no farm store in the database " +
                                            testStorePath() +
                                            "; create one with \"qvfarm create NAME --postgres "
                                            "...\".");

    createSmallFarm();
    EXPECT_EQ(create(FarmInfo{"Second"}).status().message(),
              "The farm store " + testStorePath() + " already exists.");

    database_->run("UPDATE store_version SET version = 7");
    auto newer = openPostgresFarmStore(testStorePath());
    EXPECT_EQ(newer.status().code(), Code::NotSupported);
    EXPECT_EQ(newer.status().message(), "The farm store " + testStorePath() +
                                            " has format version 7; this program reads version " +
                                            std::to_string(kPostgresSchemaVersion) + ".");
    database_->run("UPDATE store_version SET format = 'something else', version = 1");
    auto other = openPostgresFarmStore(testStorePath());
    EXPECT_EQ(other.status().code(), Code::Corrupt);
    EXPECT_EQ(other.status().message(), testStorePath() + " is not a farm store.");

    ASSERT_TRUE(removeFarmStore(location()));
    EXPECT_EQ(openPostgresFarmStore(testStorePath()).status().code(), Code::NotFound);
    ASSERT_TRUE(create(FarmInfo{"Afresh"})); // the database can take a farm again
}

TEST_P(PostgresFarmStore, ACreationCutOffPartWayLeavesNoStoreAndTwoCreationsTakeTurns) {
    // What a program killed while filling a new store leaves: the tables, but no store_version.
    ASSERT_TRUE(createFarmStore(location(), smallFarm()));
    database_->run("DROP TABLE store_version");
    EXPECT_EQ(openPostgresFarmStore(testStorePath()).status().code(), Code::NotFound);
    auto again = createFarmStore(location(), smallFarm());
    ASSERT_TRUE(again) << again.status().toString();
    EXPECT_EQ((*again)->servers()->size(), 3u);
    again->reset();
    ASSERT_TRUE(removeFarmStore(location()));

    // Of two programs creating the store at once, one makes it and the other finds it made.
    std::vector<Status> outcomes(2);
    std::vector<std::thread> creators;
    for (Status& outcome : outcomes)
        creators.emplace_back([&] {
            auto made = createFarmStore(location(), smallFarm());
            outcome = made ? Status::ok() : made.status();
        });
    for (std::thread& creator : creators)
        creator.join();
    EXPECT_NE(bool(outcomes[0]), bool(outcomes[1]))
        << outcomes[0].toString() << " / " << outcomes[1].toString();
    for (const Status& outcome : outcomes) {
        if (!outcome) {
            EXPECT_EQ(outcome.code(), Code::AlreadyExists) << outcome.toString();
        }
    }
    auto store = openPostgresFarmStore(testStorePath());
    ASSERT_TRUE(store) << store.status().toString();
    EXPECT_EQ((*store)->zones()->size(), 2u);
}

TEST_P(PostgresFarmStore, AStoreHeldTooLongGivesABusyError) {
    createSmallFarm();
    PGconn* holder = PQconnectdb(testStorePath().c_str());
    ASSERT_EQ(PQstatus(holder), CONNECTION_OK) << PQerrorMessage(holder);
    PQclear(PQexec(holder, "BEGIN; LOCK TABLE administrator IN EXCLUSIVE MODE"));

    auto store = reopen(100);
    // Readers are not held up by a writer.
    EXPECT_TRUE(store->applications(IconLoading::Skip));
    EXPECT_TRUE(*store->isAdministrator("alice"));
    Status busy = store->addAdministrator("bob");
    EXPECT_EQ(busy.code(), Code::Busy);
    EXPECT_EQ(busy.message(), "The farm store " + testStorePath() +
                                  " is in use by another program and did not become free in "
                                  "time; try again.");
    PQclear(PQexec(holder, "ROLLBACK"));
    PQfinish(holder);
    EXPECT_TRUE(store->addAdministrator("bob"));
}

TEST_P(PostgresFarmStore, NamesAreMatchedThroughKeysTheStoreFolds) {
    auto store = createSmallFarm();
    // The key columns hold the platform's folding of the names; the database compares them byte
    // by byte, whatever its collation.
    FarmImage image = smallFarm();
    image.servers.push_back({"\xc3\xa9t\xc3\xa9", "East", 5, 2}); // "été"
    ASSERT_TRUE(store->replace(image));
    EXPECT_EQ(store->server("\xc3\x89T\xc3\x89")->name, "\xc3\xa9t\xc3\xa9"); // "ÉTÉ"
    EXPECT_EQ(store->servers()->back().name, "\xc3\xa9t\xc3\xa9"); // after GAMMA, as bytes go
    EXPECT_EQ(store->server("ete").status().code(), Code::NotFound);
}

TEST_P(PostgresFarmStore, KeysFoldedByAnotherRuleAreFoldedAgainWhenTheStoreOpens) {
    createSmallFarm();
    database_->run("UPDATE server SET name_key = lower(name); UPDATE meta SET value = 'an older "
                   "rule' WHERE name = 'folding'");
    EXPECT_EQ(openPostgresFarmStore(testStorePath()).value()->server("alpha")->name, "ALPHA");
    database_->run("DO $$ BEGIN IF (SELECT value FROM meta WHERE name = 'folding') <> '" +
                   std::string(sky::foldingRule()) +
                   "' THEN RAISE EXCEPTION 'the rule is not recorded'; END IF; END $$");
}
