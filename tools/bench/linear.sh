#!/usr/bin/env bash
# Measures BraskAdmin's, qvcom's store and qvfarm's commands on demonstration farms of two sizes,
# each on a fresh temporary machine, and prints Markdown tables: the wall time of each command and
# its processor time (user and system, of the process that did the work, and of the QVCom service
# for the commands across the process boundary), the processor time per application (the
# commands that work on the whole farm), the ratios of the larger size to the smaller by the wall
# clock and by the processor (per application for whole-farm commands, in total for the fixed
# pieces of work), and the peak resident memory of the process that did the work. On a loaded
# machine the processor time is the figure to judge the work's growth by; the wall time holds the
# waits for the processor and the disk that other programs cause.
#
# Usage: tools/bench/linear.sh [BUILD_BIN]       (default: build/bin of this tree)
#   LINEAR_SIZES="10000:500 100000:5000"   the sizes, applications:servers, smallest first
#   LINEAR_FILE_SIZES="10000:500 30000:1500"
#                                          the sizes of the farm definition file's commands
#                                          (export, the import preview, import), whose counts are
#                                          16-bit: by default each of LINEAR_SIZES the file
#                                          allows, and in place of a larger one a farm of 30,000
#                                          applications (servers in the same proportion) made
#                                          just for them
#   LINEAR_ACROSS=0                        those commands in process only; by default they also
#                                          run across the process boundary, served by the QVCom
#                                          service of a machine installed by scripts/install-machine
#                                          (qvcom's peak memory beside BraskAdmin's)
#   LINEAR_PG=1                            copy SQLite -> PostgreSQL -> SQLite, into a PostgreSQL
#                                          cluster of the script's own (scripts/postgres-cluster),
#                                          stopped and removed at the end whatever the outcome
#   LINEAR_POSTGRES=postgresql://...       the same into an empty database of yours instead
#   LINEAR_AUDIT=1000000                   entries in the audit trail that "qvfarm audit" lists
# Run it through /work/bin/skybuild on the shared machine; it says the load average it ran under.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$repo/build/bin}" && pwd)
sizes=${LINEAR_SIZES:-"10000:500 100000:5000"}
audit=${LINEAR_AUDIT:-1000000}
across=${LINEAR_ACROSS:-1}
# The definition file holds at most this many applications (farm-definition-file.md).
fileLimit=32767
if [[ -z ${LINEAR_FILE_SIZES:-} ]]; then
    fileSizes=
    for size in $sizes; do
        apps=${size%%:*} servers=${size##*:}
        if ((apps > fileLimit)); then
            size="30000:$((servers * 30000 / apps))"
        fi
        [[ " $fileSizes " == *" $size "* ]] || fileSizes="$fileSizes $size"
    done
else
    fileSizes=$LINEAR_FILE_SIZES
fi
log=$(mktemp /tmp/linear-XXXXXX.log)
machine=
pgdir=

# The machine of the size under way (its service stopped first), the PostgreSQL cluster and the
# log go, whatever the outcome; an interrupted run goes the same way.
cleanUp() {
    trap '' INT TERM HUP
    cd /
    if [[ -n $machine && -S $machine/run/skyscm.sock ]]; then
        SKYLOOM_MACHINE=$machine "$bin/sc" stop QVCom >/dev/null 2>&1 || true
    fi
    rm -rf "$log" ${machine:+"$machine"}
    if [[ -n $pgdir ]]; then
        "$repo/scripts/postgres-cluster" stop "$pgdir" || true
    fi
}
trap cleanUp EXIT
trap 'exit 130' INT TERM HUP
export QT_QPA_PLATFORM=offscreen

if [[ ${LINEAR_PG:-} == 1 && -z ${LINEAR_POSTGRES:-} ]]; then
    pgdir=/tmp/linear-pg-$$
    "$repo/scripts/postgres-cluster" start "$pgdir" --durable >/dev/null
    LINEAR_POSTGRES="postgresql:///postgres?host=$pgdir&user=skyfarm"
fi

# measure TABLE NAME SIZE COMMAND...: runs the command (standard output to /dev/null) and records
# "TABLE NAME SIZE seconds kilobytes user-seconds system-seconds" in the log; a failing command
# fails the script.
measure() {
    local table=$1 name=$2 size=$3
    shift 3
    local times
    times=$(mktemp)
    if ! /usr/bin/time -f "%e %M %U %S" -o "$times" "$@" >/dev/null 2>"$times.err"; then
        echo "$name at $size failed:" >&2
        cat "$times.err" "$times" >&2
        exit 1
    fi
    echo "$table $name $size $(tail -1 "$times")" >>"$log"
    rm -f "$times" "$times.err"
}

# The QVCom service of the machine under way: its state, and stopped (waiting until it is).
serviceState() {
    "$bin/sc" query QVCom | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'
}
stopService() {
    if [[ $(serviceState) == RUNNING ]]; then
        "$bin/sc" stop QVCom >/dev/null
    fi
    for _ in $(seq 1 300); do
        [[ $(serviceState) == RUNNING || $(serviceState) == STOP_PENDING ]] || return 0
        sleep 0.1
    done
    echo "the QVCom service did not stop" >&2
    exit 1
}

# measureAcross NAME SIZE COMMAND...: measures a BraskAdmin command served by the QVCom service,
# which it starts, and records the service's peak resident memory and processor time (user and
# system) beside its own ("TABLE NAME SIZE seconds kilobytes user system service-kilobytes
# service-seconds"); the service is stopped after each command, so that each starts one of its
# own and the figures are that command's.
measureAcross() {
    local name=$1 size=$2
    measure file "$@"
    local pid peak cpu
    pid=$("$bin/sc" queryex QVCom | sed -n 's/^ *PID *: *\([0-9]*\).*/\1/p')
    peak=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status" 2>/dev/null || true)
    # utime and stime, the 14th and 15th fields of /proc/PID/stat (the 12th and 13th after the
    # command's name in parentheses, which may hold spaces), in clock ticks.
    cpu=$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null |
        awk -v tick="$(getconf CLK_TCK)" '{ printf "%.2f", ($12 + $13) / tick }' || true)
    if [[ -z $peak || -z $cpu ]]; then
        echo "$name at $size: the QVCom service was not running after it:" >&2
        "$bin/sc" queryex QVCom >&2
        exit 1
    fi
    sed -i "\$s/\$/ $peak $cpu/" "$log"
    stopService
}

# A fresh temporary machine for the size under way, made the current folder.
newMachine() {
    machine=$(mktemp -d /tmp/linear-machine-XXXXXX)
    export SKYLOOM_MACHINE=$machine
    work=$machine/work
    mkdir -p "$work"
    cd "$work"
    store="$machine/farms/Demo Farm.db"
}
dropMachine() {
    cd /
    if [[ -S $machine/run/skyscm.sock ]]; then
        stopService
    fi
    unset SKYLOOM_MACHINE
    rm -rf "$machine"
    machine=
}

echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for size in $sizes; do
    apps=${size%%:*}
    servers=${size##*:}
    newMachine

    measure farm "qvfarm-demo" "$apps" "$bin/qvfarm" demo --applications "$apps" --servers "$servers"
    "$bin/qvfarm" register >/dev/null
    measure farm "view-apps" "$apps" "$bin/braskadmin" view apps
    measure farm "view-servers" "$apps" "$bin/braskadmin" view servers
    measure farm "qvfarm-dump" "$apps" "$bin/qvfarm" dump -o "$work/dump.json"
    measure farm "qvfarm-load" "$apps" "$bin/qvfarm" load "$work/dump.json"
    measure farm "qvfarm-copy" "$apps" "$bin/qvfarm" copy "$store" "$work/copy.db"
    if [[ -n ${LINEAR_POSTGRES:-} ]]; then
        measure farm "copy-to-postgres" "$apps" "$bin/qvfarm" copy --replace "$store" "$LINEAR_POSTGRES"
        measure farm "copy-from-postgres" "$apps" "$bin/qvfarm" copy "$LINEAR_POSTGRES" "$work/back.db"
        "$bin/qvfarm" select "$store" >/dev/null
    fi

    # Fixed pieces of work: 1,000 applications on 10 servers; a server running 5,000.
    mapfile -t views < <("$bin/braskadmin" view apps)
    mapfile -t hosts < <("$bin/braskadmin" view servers)
    publishOn=()
    for s in "${hosts[@]:0:10}"; do publishOn+=(--server "$s"); done
    measure farm "publish-1000x10" "$apps" "$bin/braskadmin" publish "${publishOn[@]}" "${views[@]:0:1000}"
    measure farm "unpublish-1000x10" "$apps" "$bin/braskadmin" unpublish "${publishOn[@]}" "${views[@]:0:1000}"
    source=${hosts[-1]} target=${hosts[-2]}
    "$bin/braskadmin" publish --server "$source" "${views[@]:0:5000}" >/dev/null
    # The clone's target runs nothing, so that no pair is there already (which ends a clone).
    "$bin/braskadmin" offline "$target" "$work/target.ini" >/dev/null
    measure farm "clone-5000" "$apps" "$bin/braskadmin" clone "$source" --to "$target"
    measure farm "offline-5000" "$apps" "$bin/braskadmin" offline "$source" "$work/snapshot.ini"
    measure farm "online-5000" "$apps" "$bin/braskadmin" online "$source" "$work/snapshot.ini"

    # The audit trail made up to `audit` entries, then listed whole.
    have=$(sqlite3 "$store" "SELECT count(*) FROM audit")
    sqlite3 "$store" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $((audit - have)))
        INSERT INTO audit (change_id, \"time\", account, account_key, machine, operation, dn, dn_key,
                           setting, has_old, old_value, has_new, new_value)
        SELECT 1000000000 + i / 10, strftime('%Y-%m-%dT%H:%M:%fZ', 'now', '-' || (i / 100) || ' seconds'),
               'tester', 'TESTER', 'bench', 'ChangeSetting', 'Applications/App ' || (i % 5000),
               'APPLICATIONS/APP ' || (i % 5000), 'Description', 1, 'before', 1, 'after' FROM n"
    measure farm "audit-list" "$apps" "$bin/qvfarm" audit

    dropMachine
done

# The farm definition file's commands, on a farm of each file size: across the process boundary
# first (the machine installed, its classes served by the QVCom service), then in process (the
# module registered in process on top, as "qvfarm register" does). Each import goes into the farm
# made again with one application (the demo's farm without the rest); the farm is made again
# whole before the export in process, which must give the same file as the export across.
for size in $fileSizes; do
    apps=${size%%:*}
    servers=${size##*:}
    newMachine
    "$bin/qvfarm" demo --applications "$apps" --servers "$servers" >/dev/null
    if [[ $across == 1 ]]; then
        "$repo/scripts/install-machine" --machine "$machine" --bin "$bin" >/dev/null
        admin="$machine/drive_c/Program Files/Vantor/BraskAdmin/BraskAdmin.exe"
        stopService
        measureAcross "export-across" "$apps" "$admin" export "$work/across.ini"
        measureAcross "import-preview-across" "$apps" "$admin" --dry-run import "$work/across.ini"
        "$bin/qvfarm" demo --applications 1 --servers "$servers" >/dev/null
        measureAcross "import-across" "$apps" "$admin" import "$work/across.ini"
        "$bin/qvfarm" demo --applications "$apps" --servers "$servers" >/dev/null
    fi
    "$bin/qvfarm" register >/dev/null
    measure file "export" "$apps" "$bin/braskadmin" export "$work/farm.ini"
    if [[ $across == 1 ]] && ! cmp -s "$work/farm.ini" "$work/across.ini"; then
        echo "the export across the boundary differs from the export in process" >&2
        exit 1
    fi
    measure file "import-preview" "$apps" "$bin/braskadmin" --dry-run import "$work/farm.ini"
    "$bin/qvfarm" demo --applications 1 --servers "$servers" >/dev/null
    measure file "import" "$apps" "$bin/braskadmin" import "$work/farm.ini"
    dropMachine
done
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# The tables: one row per command, the sizes side by side.
python3 - "$log" "$sizes" "$fileSizes" <<'PY'
import sys
log, farmSizes, fileSizes = sys.argv[1], sys.argv[2].split(), sys.argv[3].split()
fixed = {'publish-1000x10', 'unpublish-1000x10', 'clone-5000', 'offline-5000', 'online-5000',
         'audit-list'}
tables = {}
for line in open(log):
    parts = line.split()
    tables.setdefault(parts[0], {}).setdefault(parts[1], {})[int(parts[2])] = parts[3:]

def table(rows, sizes, title):
    small, large = (int(s.split(':')[0]) for s in (sizes[0], sizes[-1]))
    service = any(len(got) > 4 for by in rows.values() for got in by.values())
    print(title)
    print()
    def head(n):
        return ([f"{n:,}: s", "CPU s", "CPU/app", "MB"] +
                (["qvcom CPU s", "qvcom MB"] if service else []))
    columns = head(small) + head(large) + ["ratio", "CPU ratio"]
    print("| command | " + " | ".join(columns) + " |")
    print("|---" * (len(columns) + 1) + "|")
    for name, by in rows.items():
        cells, wall, cpu = [], {}, {}
        for n in (small, large):
            got = by.get(n)
            if not got:
                cells += ['-'] + [''] * (len(head(n)) - 1)
                continue
            seconds, kb = float(got[0]), int(got[1])
            # The processor time of the command's process; per application and in the ratio,
            # with the service's that served it.
            own = float(got[2]) + float(got[3])
            used = own + (float(got[5]) if len(got) > 5 else 0)
            each = 1 if name in fixed else n
            wall[n], cpu[n] = seconds / each, used / each
            cells += [f"{seconds:.2f}", f"{own:.2f}",
                      '' if name in fixed else f"{used / n * 1e6:.0f} us", f"{kb / 1024:.0f}"]
            if service:
                cells += [f"{float(got[5]):.2f}", f"{int(got[4]) / 1024:.0f}"] if len(got) > 5 \
                    else ['', '']
        ratios = [f"{by_[large] / by_[small]:.2f}" if len(by_) == 2 and by_[small] > 0 else ''
                  for by_ in (wall, cpu)]
        print(f"| {name} | " + " | ".join(cells + ratios) + " |")
    print()

table(tables.get('farm', {}), farmSizes,
      "Whole farm and fixed work (CPU s: user and system; MB: the process that did the work):")
if 'file' in tables:
    table(tables['file'], fileSizes,
          "The farm definition file (CPU s and MB: BraskAdmin's; qvcom: the QVCom service's, "
          "across; CPU/app and CPU ratio: both processes'):")
PY
