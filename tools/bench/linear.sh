#!/usr/bin/env bash
# Measures BraskAdmin's, qvcom's store and qvfarm's commands on demonstration farms of two sizes,
# each on a fresh temporary machine, and prints a Markdown table: the wall time of each command,
# its time per application (the commands that work on the whole farm), the ratio of the larger
# size to the smaller (per application for whole-farm commands, in total for the fixed pieces of
# work), and the peak resident memory of the process that did the work.
#
# Usage: tools/bench/linear.sh [BUILD_BIN]       (default: build/bin of this tree)
#   LINEAR_SIZES="10000:500 100000:5000"   the sizes, applications:servers, smallest first
#   LINEAR_POSTGRES=postgresql://...       an empty database: copy SQLite -> PostgreSQL -> SQLite
#   LINEAR_AUDIT=1000000                   entries in the audit trail that "qvfarm audit" lists
# Run it through /work/bin/skybuild on the shared machine; it says the load average it ran under.
# BraskAdmin's export and import refuse farms of more than 32,767 applications (the definition
# file's counts are 16-bit): at such sizes their rows say "refused".
set -euo pipefail

bin=$(cd "${1:-$(dirname "$0")/../../build/bin}" && pwd)
sizes=${LINEAR_SIZES:-"10000:500 100000:5000"}
audit=${LINEAR_AUDIT:-1000000}
log=$(mktemp /tmp/linear-XXXXXX.log)
machine=
# The machine of the size under way and the log go, whatever the outcome.
trap 'cd /; rm -rf "$log" ${machine:+"$machine"}' EXIT
export QT_QPA_PLATFORM=offscreen

# measure NAME SIZE COMMAND...: runs the command (standard output to /dev/null) and records
# "NAME SIZE seconds kilobytes" in the log; a failing command fails the script.
measure() {
    local name=$1 size=$2
    shift 2
    local times
    times=$(mktemp)
    if ! /usr/bin/time -f "%e %M" -o "$times" "$@" >/dev/null 2>"$times.err"; then
        echo "$name at $size failed:" >&2
        cat "$times.err" "$times" >&2
        exit 1
    fi
    echo "$name $size $(tail -1 "$times")" >>"$log"
    rm -f "$times" "$times.err"
}

echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for size in $sizes; do
    apps=${size%%:*}
    servers=${size##*:}
    machine=$(mktemp -d /tmp/linear-machine-XXXXXX)
    export SKYLOOM_MACHINE=$machine
    work=$machine/work
    mkdir -p "$work"
    cd "$work"
    store="$machine/farms/Demo Farm.db"

    measure "qvfarm-demo" "$apps" "$bin/qvfarm" demo --applications "$apps" --servers "$servers"
    "$bin/qvfarm" register >/dev/null
    measure "view-apps" "$apps" "$bin/braskadmin" view apps
    measure "view-servers" "$apps" "$bin/braskadmin" view servers
    measure "qvfarm-dump" "$apps" "$bin/qvfarm" dump -o "$work/dump.json"
    measure "qvfarm-load" "$apps" "$bin/qvfarm" load "$work/dump.json"
    measure "qvfarm-copy" "$apps" "$bin/qvfarm" copy "$store" "$work/copy.db"
    if [[ -n ${LINEAR_POSTGRES:-} ]]; then
        measure "copy-to-postgres" "$apps" "$bin/qvfarm" copy --replace "$store" "$LINEAR_POSTGRES"
        measure "copy-from-postgres" "$apps" "$bin/qvfarm" copy "$LINEAR_POSTGRES" "$work/back.db"
        "$bin/qvfarm" select "$store" >/dev/null
    fi

    if ((apps <= 32767)); then
        measure "export" "$apps" "$bin/braskadmin" export "$work/farm.ini"
        measure "import-preview" "$apps" "$bin/braskadmin" --dry-run import "$work/farm.ini"
        # Into the same farm without its applications: the import adds every one.
        "$bin/qvfarm" demo --applications 1 --servers "$servers" >/dev/null
        measure "import" "$apps" "$bin/braskadmin" import "$work/farm.ini"
        "$bin/qvfarm" load "$work/dump.json" >/dev/null
    else
        echo "export $apps refused" >>"$log"
        echo "import-preview $apps refused" >>"$log"
        echo "import $apps refused" >>"$log"
    fi

    # Fixed pieces of work: 1,000 applications on 10 servers; a server running 5,000.
    mapfile -t views < <("$bin/braskadmin" view apps)
    mapfile -t hosts < <("$bin/braskadmin" view servers)
    publishOn=()
    for s in "${hosts[@]:0:10}"; do publishOn+=(--server "$s"); done
    measure "publish-1000x10" "$apps" "$bin/braskadmin" publish "${publishOn[@]}" "${views[@]:0:1000}"
    measure "unpublish-1000x10" "$apps" "$bin/braskadmin" unpublish "${publishOn[@]}" "${views[@]:0:1000}"
    source=${hosts[-1]} target=${hosts[-2]}
    "$bin/braskadmin" publish --server "$source" "${views[@]:0:5000}" >/dev/null
    # The clone's target runs nothing, so that no pair is there already (which ends a clone).
    "$bin/braskadmin" offline "$target" "$work/target.ini" >/dev/null
    measure "clone-5000" "$apps" "$bin/braskadmin" clone "$source" --to "$target"
    measure "offline-5000" "$apps" "$bin/braskadmin" offline "$source" "$work/snapshot.ini"
    measure "online-5000" "$apps" "$bin/braskadmin" online "$source" "$work/snapshot.ini"

    # The audit trail made up to `audit` entries, then listed whole.
    have=$(sqlite3 "$store" "SELECT count(*) FROM audit")
    sqlite3 "$store" "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $((audit - have)))
        INSERT INTO audit (change_id, \"time\", account, account_key, machine, operation, dn, dn_key,
                           setting, has_old, old_value, has_new, new_value)
        SELECT 1000000000 + i / 10, strftime('%Y-%m-%dT%H:%M:%fZ', 'now', '-' || (i / 100) || ' seconds'),
               'tester', 'TESTER', 'bench', 'ChangeSetting', 'Applications/App ' || (i % 5000),
               'APPLICATIONS/APP ' || (i % 5000), 'Description', 1, 'before', 1, 'after' FROM n"
    measure "audit-list" "$apps" "$bin/qvfarm" audit

    cd /
    unset SKYLOOM_MACHINE
    rm -rf "$machine"
    machine=
done
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# The table: one row per command, the sizes side by side.
python3 - "$log" "$sizes" <<'PY'
import sys
log, sizes = sys.argv[1], sys.argv[2].split()
small, large = (int(s.split(':')[0]) for s in (sizes[0], sizes[-1]))
fixed = {'publish-1000x10', 'unpublish-1000x10', 'clone-5000', 'offline-5000', 'online-5000',
         'audit-list'}
rows = {}
for line in open(log):
    parts = line.split()
    rows.setdefault(parts[0], {})[int(parts[1])] = parts[2:]
print(f"| command | {small:,}: s | per app | MB | {large:,}: s | per app | MB | ratio |")
print("|---|---|---|---|---|---|---|---|")
for name, by in rows.items():
    cells, each = [], {}
    for n in (small, large):
        got = by.get(n)
        if not got or got[0] == 'refused':
            cells += ['refused' if got else '-', '', '']
            continue
        seconds, kb = float(got[0]), int(got[1])
        each[n] = seconds if name in fixed else seconds / n
        cells += [f"{seconds:.2f}", '' if name in fixed else f"{seconds / n * 1e6:.0f} us",
                  f"{kb / 1024:.0f}"]
    ratio = f"{each[large] / each[small]:.2f}" if len(each) == 2 and each[small] > 0 else ''
    print(f"| {name} | " + " | ".join(cells) + f" | {ratio} |")
PY
