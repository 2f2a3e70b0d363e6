#include "qvcomsrv/store/postgres_connection.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "qvcomsrv/store/audit.h"
#include "sky/machine.h"

namespace sky::farm::postgres {

using sql::Failure;

std::atomic<std::uint64_t> Connection::serverWaits_{0};
std::atomic<std::uint64_t> Connection::socketReads_{0};
using sql::throwStatus;

// libpq's messages end in a line break and may run over several lines; a Status message is
// one line.
std::string oneLine(std::string_view text) {
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '.'))
        line.pop_back();
    return line;
}

namespace {

// Type identifiers of the server's built-in types, fixed since the first releases: bool, int8,
// int2, int4.
constexpr Oid kBoolType = 16;
constexpr Oid kInt8Type = 20;
constexpr Oid kInt2Type = 21;
constexpr Oid kInt4Type = 23;

std::uint64_t bigEndian(const char* bytes, int length) {
    std::uint64_t value = 0;
    for (int i = 0; i < length; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

struct ParsedOptions {
    PQconninfoOption* options = nullptr;
    std::string problem;
    explicit ParsedOptions(std::string_view conninfo) {
        char* error = nullptr;
        options = PQconninfoParse(std::string(conninfo).c_str(), &error);
        if (!options)
            problem = error ? oneLine(error) : "libpq cannot read it";
        PQfreemem(error);
    }
    ~ParsedOptions() { PQconninfoFree(options); }
    ParsedOptions(const ParsedOptions&) = delete;
    ParsedOptions& operator=(const ParsedOptions&) = delete;
};

} // namespace

Result<std::string> conninfoForDatabase(std::string_view conninfo, std::string_view database) {
    ParsedOptions parsed(conninfo);
    if (!parsed.options)
        return Status::invalidArgument(
            "\"" + std::string(conninfo) +
            "\" is not a PostgreSQL connection string: " + parsed.problem + ".");
    std::string result;
    for (const PQconninfoOption* o = parsed.options; o->keyword; ++o) {
        const bool isDatabase = std::strcmp(o->keyword, "dbname") == 0;
        if (!isDatabase && !o->val)
            continue;
        const std::string_view value = isDatabase ? database : std::string_view(o->val);
        // A value in single quotes, with its quotes and backslashes escaped by a backslash.
        std::string quoted = "'";
        for (char c : value) {
            if (c == '\'' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        result += (result.empty() ? "" : " ") + std::string(o->keyword) + "=" + quoted + "'";
    }
    return result;
}

Status checkConnectionString(std::string_view conninfo) {
    ParsedOptions parsed(conninfo);
    if (!parsed.options)
        return Status::invalidArgument(
            "\"" + std::string(conninfo) +
            "\" is not a PostgreSQL connection string: " + parsed.problem + ".");
    for (const PQconninfoOption* o = parsed.options; o->keyword; ++o) {
        if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val)
            return Status::invalidArgument(
                "The connection string of a farm store must not hold a password, which would "
                "be kept in the machine's registry and shown in messages; give it in a password "
                "file (~/.pgpass, or passfile=FILE in the string) or use peer or certificate "
                "authentication.");
    }
    return Status::ok();
}

std::string numberedParameters(std::string_view sql, int& count) {
    std::string out;
    out.reserve(sql.size());
    count = 0;
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            out += c;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            continue;
        }
        if (c == '?' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
            int number = 0;
            std::size_t j = i + 1;
            while (j < sql.size() && sql[j] >= '0' && sql[j] <= '9')
                number = number * 10 + (sql[j++] - '0');
            count = std::max(count, number);
            out += '$';
            out.append(sql.substr(i + 1, j - i - 1));
            i = j - 1;
            continue;
        }
        out += c;
    }
    return out;
}

class Connection::Statement final : public sql::Statement {
public:
    Statement(Connection& db, std::string name, std::string text, int parameters)
        : db_(db), name_(std::move(name)), text_(std::move(text)),
          values_(static_cast<std::size_t>(parameters)), bound_(values_.size(), false),
          formats_(values_.size(), 0) {}
    ~Statement() override { PQclear(result_); }

    void bindInteger(int index, std::int64_t value) override {
        set(index, std::to_string(value), 0);
    }
    void bindText(int index, std::string_view text) override {
        // Text goes as a C string, which would end at a NUL; the server takes none in a text
        // either, and says so in these words when one reaches it.
        if (text.find('\0') != std::string_view::npos)
            throwStatus(Status::invalidArgument(
                "The farm store " + db_.location() +
                " cannot hold a value it was given (invalid byte sequence for encoding \"UTF8\": "
                "0x00)."));
        set(index, std::string(text), 0);
    }
    void bindBlob(int index, const Bytes& bytes) override {
        set(index, std::string(bytes.begin(), bytes.end()), 1);
    }

    bool step() override {
        if (!result_) {
            if (!sent_)
                send();
            db_.sync();
            if (!result_)
                throwStatus(Status::internal("The farm store " + db_.location() +
                                             " gave no answer to a statement."));
        }
        return ++row_ < PQntuples(result_);
    }

    void send() override {
        std::vector<const char*> values(values_.size());
        std::vector<int> lengths(values_.size());
        for (std::size_t i = 0; i < values_.size(); ++i) {
            values[i] = bound_[i] ? values_[i].c_str() : nullptr;
            lengths[i] = static_cast<int>(values_[i].size());
        }
        PQclear(result_);
        result_ = nullptr;
        row_ = -1;
        // A statement is prepared on its first use, in the same pipeline: the server's answer
        // to the preparation comes with the statement's own.
        if (!prepared_) {
            db_.enterPipeline();
            db_.pipeline_.push_back({nullptr, this, "prepare a statement", false});
            prepared_ = true; // until the server says otherwise
            if (!PQsendPrepare(db_.conn_, name_.c_str(), text_.c_str(),
                               static_cast<int>(values_.size()), nullptr))
                db_.abandonPipeline("prepare a statement");
        }
        db_.send(*this, [&] {
            return PQsendQueryPrepared(db_.conn_, name_.c_str(), static_cast<int>(values.size()),
                                       values.data(), lengths.data(), formats_.data(), 1);
        });
        sent_ = true;
    }

    std::int64_t integer(int column) const override {
        if (PQgetisnull(result_, row_, column))
            return 0;
        const char* bytes = PQgetvalue(result_, row_, column);
        const int length = PQgetlength(result_, row_, column);
        switch (PQftype(result_, column)) {
        case kBoolType:
            return bytes[0] != 0;
        case kInt2Type:
            return static_cast<std::int16_t>(bigEndian(bytes, length));
        case kInt4Type:
            return static_cast<std::int32_t>(bigEndian(bytes, length));
        case kInt8Type:
            return static_cast<std::int64_t>(bigEndian(bytes, length));
        default:
            throwStatus(Status::internal("The farm store " + db_.location() + " gave column " +
                                         std::to_string(column) + " in a type that is no number."));
        }
    }

    std::string text(int column) const override {
        return std::string(PQgetvalue(result_, row_, column),
                           static_cast<std::size_t>(PQgetlength(result_, row_, column)));
    }

    Bytes blob(int column) const override {
        const auto* bytes =
            reinterpret_cast<const std::uint8_t*>(PQgetvalue(result_, row_, column));
        return Bytes(bytes, bytes + PQgetlength(result_, row_, column));
    }

    void reset() noexcept override {
        if (sent_)
            db_.forget(*this); // its outcome is still checked when it comes
        sent_ = false;
        PQclear(result_);
        result_ = nullptr;
        row_ = -1;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            bound_[i] = false;
            values_[i].clear();
        }
    }

private:
    void set(int index, std::string value, int format) {
        if (index < 1 || static_cast<std::size_t>(index) > values_.size())
            throwStatus(Status::internal("The farm store's statement has no parameter " +
                                         std::to_string(index) + "."));
        const auto i = static_cast<std::size_t>(index - 1);
        values_[i] = std::move(value);
        bound_[i] = true;
        formats_[i] = format;
    }

    Connection& db_;
    std::string name_;
    std::string text_; // as the server numbers parameters
    std::vector<std::string> values_;
    std::vector<bool> bound_;
    std::vector<int> formats_;
    PGresult* result_ = nullptr;
    int row_ = -1;
    bool sent_ = false;     // on its way: its result comes with the next sync
    bool prepared_ = false; // the server has it, or its preparation is on its way

    friend class Connection;
};

Connection::Connection(std::string conninfo, const ConnectionOptions& options)
    : conninfo_(std::move(conninfo)), options_(options) {
    if (Status s = checkConnectionString(conninfo_); !s)
        throwStatus(s);
    connect();
}

Connection::~Connection() {
    disconnect();
}

namespace {

std::vector<std::string> commaList(const char* text) {
    std::vector<std::string> items;
    if (!text || !*text)
        return items;
    std::string item;
    for (const char* c = text;; ++c) {
        if (*c == ',' || *c == 0) {
            items.push_back(item);
            item.clear();
            if (*c == 0)
                break;
        } else {
            item += *c;
        }
    }
    return items;
}

std::string joined(const std::vector<std::string>& items, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < items.size(); ++i)
        text += (i > from ? "," : "") + items[i];
    return text;
}

// The server a connection reached, as libpq names servers in its messages.
std::string serverOf(pg_conn* conn) {
    const std::string host = PQhost(conn) ? PQhost(conn) : "";
    const std::string port = PQport(conn) && *PQport(conn) ? PQport(conn) : "5432";
    if (host.starts_with("/"))
        return "the server on socket \"" + host + "/.s.PGSQL." + port + "\"";
    return "the server at \"" + host + "\", port " + port;
}

// The hosts of a connection string (host, hostaddr and port, each a list separated by commas),
// so that a host that connected but was refused can be passed over.
struct HostList {
    std::vector<std::string> hosts, addresses, ports;
    std::size_t size() const { return std::max<std::size_t>(hosts.size(), addresses.size()); }

    // The number of the host `conn` reached, from `first` on; size() when it is not told.
    std::size_t reached(pg_conn* conn, std::size_t first) const {
        const std::string host = PQhost(conn) ? PQhost(conn) : "";
        const std::string port = PQport(conn) ? PQport(conn) : "";
        for (std::size_t i = first; i < size(); ++i) {
            const bool sameHost = (i < hosts.size() && hosts[i] == host) ||
                                  (i < addresses.size() && addresses[i] == host);
            const std::string given = ports.size() > 1 && i < ports.size() ? ports[i]
                                      : ports.empty()                      ? ""
                                                                           : ports[0];
            if (sameHost && (given.empty() || given == port))
                return i;
        }
        return size();
    }
};

// The folder of the machine's record of timelines.
std::filesystem::path timelinesFolder() {
    return sky::machine::root() / "farms" / "timelines";
}

// A system identifier is a number; anything else names no file.
bool isSystemIdentifier(const std::string& text) {
    return !text.empty() && text.size() <= 20 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

KnownTimeline parseKnownTimeline(const std::string& text) {
    // "TIMELINE TIME SERVER...\n"
    KnownTimeline known;
    const std::string line = text.substr(0, text.find('\n'));
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    std::int64_t timeline = 0;
    const char* end = line.data() + (first == std::string::npos ? line.size() : first);
    if (std::from_chars(line.data(), end, timeline).ptr != end || timeline < 0)
        return {};
    known.timeline = timeline;
    if (second != std::string::npos) {
        known.time = line.substr(first + 1, second - first - 1);
        known.server = line.substr(second + 1);
    }
    return known;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t got;
         (got = pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

} // namespace

KnownTimeline knownTimeline(const std::string& systemIdentifier) {
    if (!isSystemIdentifier(systemIdentifier))
        return {};
    const std::string path = (timelinesFolder() / systemIdentifier).string();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    flock(fd, LOCK_SH);
    const KnownTimeline known = parseKnownTimeline(readAll(fd));
    close(fd);
    return known;
}

void raiseKnownTimeline(const std::string& systemIdentifier, std::int64_t timeline,
                        const std::string& server) {
    if (!isSystemIdentifier(systemIdentifier))
        return;
    std::error_code ec;
    std::filesystem::create_directories(timelinesFolder(), ec);
    const std::string path = (timelinesFolder() / systemIdentifier).string();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return;
    // Two programs raising it at once take turns, so that the higher timeline stays. The line
    // is written over the old one, then the file cut to it: a reader holding the shared lock
    // never sees it half written.
    flock(fd, LOCK_EX);
    if (parseKnownTimeline(readAll(fd)).timeline < timeline) {
        const std::string line =
            std::to_string(timeline) + " " + auditTimeNow() + " " + server + "\n";
        if (pwrite(fd, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size()))
            [[maybe_unused]]
            const int cut = ftruncate(fd, static_cast<off_t>(line.size()));
    }
    close(fd);
}

void Connection::connect() {
    connectFrom(0, "");
}

void Connection::connectFrom(std::size_t firstHost, const std::string& refusals) {
    ParsedOptions parsed(conninfo_);
    if (!parsed.options)
        throwStatus(Status::invalidArgument("\"" + conninfo_ +
                                            "\" is not a PostgreSQL connection "
                                            "string: " +
                                            parsed.problem + "."));
    HostList list;
    const auto value = [&](const char* keyword) -> const char* {
        for (const PQconninfoOption* o = parsed.options; o->keyword; ++o) {
            if (std::strcmp(o->keyword, keyword) == 0)
                return o->val;
        }
        return nullptr;
    };
    list.hosts = commaList(value("host"));
    list.addresses = commaList(value("hostaddr"));
    list.ports = commaList(value("port"));
    // The hosts from `firstHost` on, in place of the string's own.
    const std::string hosts = joined(list.hosts, firstHost);
    const std::string addresses = joined(list.addresses, firstHost);
    const std::string ports =
        list.ports.size() > 1 ? joined(list.ports, firstHost) : joined(list.ports, 0);
    std::vector<const char*> keys;
    std::vector<const char*> values;
    const auto given = [&](const char* keyword) {
        const char* v = value(keyword);
        return v != nullptr && *v;
    };
    for (const PQconninfoOption* o = parsed.options; o->keyword; ++o) {
        if (!o->val || !*o->val || std::strcmp(o->keyword, "client_encoding") == 0)
            continue;
        keys.push_back(o->keyword);
        if (firstHost > 0 && std::strcmp(o->keyword, "host") == 0)
            values.push_back(hosts.c_str());
        else if (firstHost > 0 && std::strcmp(o->keyword, "hostaddr") == 0)
            values.push_back(addresses.c_str());
        else if (firstHost > 0 && std::strcmp(o->keyword, "port") == 0)
            values.push_back(ports.c_str());
        else
            values.push_back(o->val);
    }
    // What the string leaves open: the store's bounds on waiting, and its text in UTF-8.
    const std::string timeout = std::to_string(options_.connectTimeoutSeconds);
    const std::pair<const char*, const char*> defaults[] = {
        {"connect_timeout", timeout.c_str()},
        {"keepalives_idle", "30"},
        {"keepalives_interval", "10"},
        {"keepalives_count", "3"},
        {"application_name", "skyloom-farm-store"},
    };
    for (const auto& [key, v] : defaults) {
        if (!given(key)) {
            keys.push_back(key);
            values.push_back(v);
        }
    }
    keys.push_back("client_encoding");
    values.push_back("UTF8");
    keys.push_back(nullptr);
    values.push_back(nullptr);

    conn_ = PQconnectdbParams(keys.data(), values.data(), 0);
    if (!conn_)
        throwStatus(Status::internal("The farm store ran out of memory."));
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string why = oneLine(PQerrorMessage(conn_));
        disconnect();
        throwStatus(Status::unavailable(
            "The farm store " + conninfo_ + " cannot be reached: " + why +
            (refusals.empty() ? "" : "; before that it refused " + refusals) + "."));
    }
    // Notices (a ROLLBACK with nothing to roll back, say) are no business of the program's
    // standard error. An error that comes unasked is the server's reason for ending the session
    // (a shutdown, pg_terminate_backend): the session is over, even while its socket is still
    // open.
    ending_ = false;
    PQsetNoticeReceiver(
        conn_,
        [](void* self, const PGresult* notice) {
            const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
            if (severity &&
                (std::strcmp(severity, "ERROR") == 0 || std::strcmp(severity, "FATAL") == 0 ||
                 std::strcmp(severity, "PANIC") == 0))
                static_cast<Connection*>(self)->ending_ = true;
        },
        this);
    // Sending does not block either: a large value to a server that does not read waits in
    // awaitAnswer, within its bound.
    PQsetnonblocking(conn_, 1);
    lost_ = false;
    // A session that cannot be set up is not kept: the next operation connects afresh, and a
    // constructor that throws leaves nothing behind.
    std::string refused;
    try {
        refused = checkGeneration();
        if (refused.empty()) {
            // Servers before 14 do not know it; they keep a dropped client's transaction until
            // they next write to it.
            try {
                exec("SET client_connection_check_interval = 5000");
            } catch (const Failure&) {
                if (lost_)
                    throw;
            }
        }
    } catch (...) {
        disconnect();
        throw;
    }
    if (!refused.empty()) {
        const std::size_t reached = list.reached(conn_, firstHost);
        disconnect();
        const std::string all = refusals.empty() ? refused : refusals + "; and " + refused;
        if (reached + 1 >= list.size())
            throwStatus(
                Status::unavailable("The farm store " + conninfo_ + " refused " + all + "."));
        connectFrom(reached + 1, all);
    }
}

std::string Connection::checkGeneration() {
    // The session's bounds, then the server's system identifier and, when it takes writes, its
    // timeline: the first eight digits of the name of the log file it writes now.
    const std::string sql =
        "SET statement_timeout = " + std::to_string(options_.statementTimeoutMs) +
        "; SET lock_timeout = " + std::to_string(options_.lockTimeoutMs) +
        "; SELECT system_identifier::text, CASE WHEN pg_is_in_recovery() THEN 0 ELSE ('x' || "
        "lpad(substr(pg_walfile_name(pg_current_wal_lsn()), 1, 8), 16, '0'))::bit(64)::bigint "
        "END FROM pg_control_system()";
    PGresult* result = PQsendQuery(conn_, sql.c_str()) ? answer() : nullptr;
    check(result, "tell its timeline");
    system_ = PQntuples(result) == 1 ? PQgetvalue(result, 0, 0) : "";
    timeline_ = PQntuples(result) == 1 ? std::strtoll(PQgetvalue(result, 0, 1), nullptr, 10) : 0;
    PQclear(result);
    if (timeline_ <= 0)
        return ""; // a standby: it takes no writes, and a promotion shows in its timeline later
    const std::string server = serverOf(conn_);
    const KnownTimeline known = knownTimeline(system_);
    if (known.timeline > timeline_)
        return server + ", which takes writes but is behind the farm: it is on timeline " +
               std::to_string(timeline_) + ", and this machine saw the farm on timeline " +
               std::to_string(known.timeline) + " (" + known.server + ", " + known.time +
               "). It is a primary that a failover left behind, and must be fenced (stopped, or "
               "made a standby of the new primary)";
    if (known.timeline < timeline_)
        raiseKnownTimeline(system_, timeline_, server);
    return "";
}

bool Connection::behindTheMachine() const {
    return timeline_ > 0 && knownTimeline(system_).timeline > timeline_;
}

void Connection::awaitAnswer() {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(options_.statementTimeoutMs +
                                                                   options_.answerMarginMs);
    while (true) {
        const int unsent = PQflush(conn_);
        if (unsent < 0)
            return; // the broken connection shows in the result
        if (unsent == 0) {
            // An answer already read is taken without reading the socket again: a pipeline's
            // answers come together, and a read before each of them found the socket empty (two
            // dozen reads a save, one in ten of its client's time).
            if (!PQisBusy(conn_))
                return;
            ++socketReads_;
            if (!PQconsumeInput(conn_) || !PQisBusy(conn_))
                return;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            // The server does not answer. Its socket is shut so that it sees the client gone
            // when it runs again; libpq frees the connection when the next call connects.
            shutdown(PQsocket(conn_), SHUT_RDWR);
            lost_ = true;
            throwStatus(Status::unavailable(
                "The farm store " + conninfo_ + " did not answer within " +
                std::to_string((options_.statementTimeoutMs + options_.answerMarginMs) / 1000) +
                " seconds; the change, if one was asked for, may or may not have been made. The "
                "next call connects again."));
        }
        pollfd p{PQsocket(conn_), static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0};
        poll(&p, 1, static_cast<int>(left));
    }
}

PGresult* Connection::answer() {
    ++serverWaits_;
    PGresult* kept = nullptr;
    try {
        while (true) {
            awaitAnswer();
            PGresult* result = PQgetResult(conn_);
            if (!result)
                break;
            const ExecStatusType status = PQresultStatus(kept);
            if (kept && status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
                PQclear(result); // the first failure is the answer
            } else {
                PQclear(kept);
                kept = result;
            }
            if (PQstatus(conn_) != CONNECTION_OK)
                break;
        }
    } catch (...) {
        PQclear(kept);
        throw;
    }
    return kept;
}

void Connection::disconnect() noexcept {
    pendingBegin_ = nullptr;
    for (Pending& pending : pipeline_) {
        if (pending.owner)
            pending.owner->sent_ = false;
    }
    pipeline_.clear();
    inPipeline_ = false;
    statements_.clear();
    if (conn_)
        PQfinish(conn_);
    conn_ = nullptr;
    system_.clear();
    timeline_ = 0;
}

void Connection::prepareForUse() {
    pendingBegin_ = nullptr;
    if (conn_ && !lost_ && !inPipeline_ && stillOpen() && !behindTheMachine()) {
        if (PQtransactionStatus(conn_) != PQTRANS_IDLE)
            rollback();
        return;
    }
    disconnect();
    connect();
}

bool Connection::stillOpen() noexcept {
    // Between calls nothing is owed to this connection: input waiting on its socket is the
    // server's last words before it closed the session, or the end of the stream. A few reads
    // take both; a message the server may send unasked (a notice) leaves the connection open,
    // an error (its reason for ending the session) does not: the server sends it before it
    // closes the socket, and a check between the two would take a dying session for a live one.
    for (int reads = 0; reads < 4; ++reads) {
        if (PQstatus(conn_) != CONNECTION_OK || ending_)
            return false;
        pollfd socket{PQsocket(conn_), POLLIN, 0};
        const int ready = ::poll(&socket, 1, 0);
        if (ready == 0)
            return true;
        if (ready < 0 || !PQconsumeInput(conn_))
            return false;
        // Reading does not parse: this does, and hands an error that came unasked to the notice
        // receiver, which marks the session ending.
        PQisBusy(conn_);
    }
    return PQstatus(conn_) == CONNECTION_OK && !ending_;
}

void Connection::raiseLost(const std::string& why) {
    lost_ = true;
    // A commit cut off may have been made: the server may have committed before it went (and a
    // synchronous standby may have it), so the call says neither.
    throwStatus(Status::unavailable(
        "The connection to the farm store " + conninfo_ + " broke (" + why + ")" +
        (committing_ ? " while the change was being committed: it may or may not have been made "
                       "(the farm's audit trail tells)"
                     : "") +
        "; the next call connects again."));
}

void Connection::check(PGresult* result, const char* doing) {
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return;
    const char* field = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string state = field ? field : "";
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    std::string why =
        oneLine(primary                                   ? primary
                : result && *PQresultErrorMessage(result) ? PQresultErrorMessage(result)
                                                          : PQerrorMessage(conn_));
    if (why.empty())
        why = std::string("the server did not ") + doing;
    PQclear(result);

    const std::string store = "The farm store " + conninfo_;
    const auto is = [&](std::string_view prefix) { return state.rfind(prefix, 0) == 0; };
    if (PQstatus(conn_) != CONNECTION_OK || is("08") || is("57P"))
        raiseLost(why);
    const Status busy = Status::busy(store + " is in use by another program and did not become "
                                             "free in time; try again.");
    // Conflicts with another program's transaction: serialisation failures and deadlocks, and
    // a key or reference that another program's write made or removed meanwhile.
    if (state == "40001" || state == "40P01" || state == "23505" || state == "23503")
        throw Failure{busy, true};
    if (state == "55P03" || state == "57014")
        throwStatus(busy);
    if (is("XX") || state == "42P01" || state == "42703")
        throwStatus(Status::corrupt(store + " is damaged or is not a farm store (" + why + ")."));
    if (is("53") || is("58") || state == "42501" || state == "25006")
        throwStatus(Status::ioError(store + " cannot be read or written (" + why + ")."));
    if (is("22"))
        throwStatus(
            Status::invalidArgument(store + " cannot hold a value it was given (" + why + ")."));
    throwStatus(Status::internal(store + " failed: " + why + "."));
}

sql::Query Connection::query(std::string_view sql) {
    if (!conn_)
        raiseLost("not connected");
    auto it = statements_.find(sql);
    if (it == statements_.end()) {
        int count = 0;
        const std::string text = numberedParameters(sql, count);
        std::string name = "farm_store_" + std::to_string(++prepared_);
        it = statements_
                 .emplace(std::string(sql),
                          std::make_unique<Statement>(*this, std::move(name), text, count))
                 .first;
    }
    return sql::Query(*it->second);
}

void Connection::enterPipeline() {
    if (!conn_)
        raiseLost("not connected");
    if (!inPipeline_) {
        if (!PQenterPipelineMode(conn_))
            check(nullptr, "run a statement");
        inPipeline_ = true;
    }
    if (const char* begin = pendingBegin_) {
        pendingBegin_ = nullptr;
        pipeline_.push_back({nullptr, nullptr, "begin a transaction", false});
        if (!PQsendQueryParams(conn_, begin, 0, nullptr, nullptr, nullptr, nullptr, 0))
            abandonPipeline("begin a transaction");
    }
}

void Connection::send(Statement& statement, const std::function<int()>& sendIt) {
    enterPipeline();
    pipeline_.push_back({&statement, nullptr, "run a statement", false});
    if (!sendIt())
        abandonPipeline("run a statement");
}

void Connection::forget(const Statement& statement) noexcept {
    for (Pending& pending : pipeline_) {
        if (pending.owner == &statement)
            pending.owner = nullptr;
    }
}

void Connection::abandonPipeline(const char* doing) {
    // Nothing sent can be trusted to have gone: the connection is given up, and the statements
    // that wait for their outcome get none.
    for (Pending& pending : pipeline_) {
        if (pending.owner)
            pending.owner->sent_ = false;
        if (pending.preparing)
            pending.preparing->prepared_ = false;
    }
    pipeline_.clear();
    inPipeline_ = false;
    lost_ = true;
    check(nullptr, doing);
    raiseLost(std::string("the server did not ") + doing);
}

void Connection::sync() {
    if (!inPipeline_)
        return;
    ++serverWaits_;
    // The results come in the order sent, each followed by a null, up to the sync; a statement
    // after one that failed is not run (its result says so). A broken connection ends them
    // early.
    std::vector<Pending> pipeline = std::move(pipeline_);
    pipeline_.clear();
    const bool synced = PQpipelineSync(conn_) != 0;
    PGresult* failure = nullptr;
    const char* failed = "run a statement";
    bool rolledBack = false;
    std::size_t next = 0;
    // What the server did not answer: no statement waits for it any more, and a preparation
    // left unanswered is sent again on the statement's next use.
    const auto release = [&] {
        for (std::size_t i = next; i < pipeline.size(); ++i) {
            if (pipeline[i].owner)
                pipeline[i].owner->sent_ = false;
            if (pipeline[i].preparing)
                pipeline[i].preparing->prepared_ = false;
        }
    };
    bool reachedSync = false;
    try {
        for (int nulls = 0; synced && nulls < 3 && PQstatus(conn_) == CONNECTION_OK;) {
            awaitAnswer();
            PGresult* result = PQgetResult(conn_);
            if (!result) {
                ++nulls;
                if (next < pipeline.size()) {
                    if (pipeline[next].owner)
                        pipeline[next].owner->sent_ = false;
                    ++next;
                }
                continue;
            }
            nulls = 0;
            const ExecStatusType status = PQresultStatus(result);
            if (status == PGRES_PIPELINE_SYNC) {
                PQclear(result);
                reachedSync = true;
                break;
            }
            Pending* pending = next < pipeline.size() ? &pipeline[next] : nullptr;
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
                if (pending && pending->preparing)
                    pending->preparing->prepared_ = false;
                if (!failure) {
                    failure = result;
                    failed = pending ? pending->doing : "run a statement";
                } else {
                    PQclear(result);
                }
                continue;
            }
            if (pending && pending->preparing) {
                PQclear(result);
                continue;
            }
            changes_ = std::strtoll(PQcmdTuples(result), nullptr, 10);
            // COMMIT of a transaction that failed rolls it back and says so.
            if (pending && pending->commit)
                rolledBack = std::strcmp(PQcmdStatus(result), "COMMIT") != 0;
            if (pending && pending->owner) {
                PQclear(pending->owner->result_);
                pending->owner->result_ = result;
                pending->owner->row_ = -1;
            } else {
                PQclear(result);
            }
        }
    } catch (...) {
        release();
        PQclear(failure);
        inPipeline_ = false;
        throw;
    }
    release();
    // A connection whose pipeline did not end cleanly is not where a next statement could
    // follow: the next operation connects again.
    if (!reachedSync || !PQexitPipelineMode(conn_))
        lost_ = true;
    inPipeline_ = false;
    if (failure || !reachedSync)
        check(failure, failed);
    if (rolledBack)
        throwStatus(Status::internal("The farm store " + conninfo_ +
                                     " rolled back a change that had failed."));
}

void Connection::sendPendingBegin() {
    sync();
    if (const char* begin = pendingBegin_) {
        pendingBegin_ = nullptr;
        exec(begin);
    }
}

void Connection::exec(const std::string& sql) {
    if (!conn_)
        raiseLost("not connected");
    sendPendingBegin();
    PGresult* result = PQsendQuery(conn_, sql.c_str()) ? answer() : nullptr;
    check(result, "run a statement");
    changes_ = std::strtoll(PQcmdTuples(result), nullptr, 10);
    PQclear(result);
}

bool Connection::hasTable(std::string_view name) {
    auto q = query("SELECT to_regclass(?1) IS NOT NULL");
    q.bind(1, name);
    return q.step() && q.integer(0) != 0;
}

void Connection::begin(TransactionKind kind) {
    if (!conn_)
        raiseLost("not connected");
    sendPendingBegin();
    pendingBegin_ = kind == TransactionKind::Write
                        ? "BEGIN ISOLATION LEVEL SERIALIZABLE"
                        : "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY";
}

void Connection::commit() {
    if (!conn_)
        raiseLost("not connected");
    if (pendingBegin_) {
        pendingBegin_ = nullptr; // no statement ran: nothing to commit
        return;
    }
    committing_ = true;
    PGresult* result = nullptr;
    try {
        if (inPipeline_) {
            // The statements sent and not yet answered go with the COMMIT, in one round trip.
            pipeline_.push_back({nullptr, nullptr, "commit", true});
            if (!PQsendQueryParams(conn_, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0))
                abandonPipeline("commit");
            sync();
            committing_ = false;
            return;
        }
        result = PQsendQuery(conn_, "COMMIT") ? answer() : nullptr;
        check(result, "commit");
    } catch (...) {
        committing_ = false;
        throw;
    }
    committing_ = false;
    // COMMIT of a transaction that failed rolls it back and says so.
    const bool committed = std::strcmp(PQcmdStatus(result), "COMMIT") == 0;
    PQclear(result);
    if (!committed)
        throwStatus(Status::internal("The farm store " + conninfo_ +
                                     " rolled back a change that had failed."));
}

void Connection::rollback() noexcept {
    if (pendingBegin_) {
        pendingBegin_ = nullptr; // nothing was sent
        return;
    }
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        lost_ = true;
        return;
    }
    try {
        // What was sent is answered first (a failure among it is of no more interest); the
        // transaction is still open after it, failed or not.
        try {
            sync();
        } catch (const Failure&) {
        }
        if (lost_ || PQstatus(conn_) != CONNECTION_OK) {
            lost_ = true;
            return;
        }
        PQclear(PQsendQuery(conn_, "ROLLBACK") ? answer() : nullptr);
    } catch (...) {
        lost_ = true; // did not answer: the connection is dropped
    }
    if (PQstatus(conn_) != CONNECTION_OK)
        lost_ = true;
}

} // namespace sky::farm::postgres
