#!/usr/bin/env python3
"""Drains a server: withdraws every application from it and writes the server snapshot that
BraskAdmin's "Bring online" reads (braskadmin online SERVER FILE) to publish them on it again.
Each application's line is written once its withdrawal is saved, so that after a failure the
file lists exactly what was withdrawn, as BraskAdmin's "Take offline" writes it."""

import skyloom


def main():
    parser = skyloom.ArgumentParser(description=__doc__)
    parser.add_argument("server", help="the server, as the farm names it")
    parser.add_argument("snapshot", help="the snapshot file to write")
    args = parser.parse_args()
    c = skyloom.constants
    farm = skyloom.farm()
    server = farm.GetServer4(c.SkyloomWinSrvObject, args.server)
    windows = server.WinServerObject4
    applications = [app for app in server.Applications]
    # The snapshot is text in the machine's ANSI code page with CR LF line ends, as BraskAdmin
    # writes and reads it.
    with open(args.snapshot, "w", encoding="cp1252", newline="\r\n") as snapshot:
        snapshot.write("[Servers]\n")
        snapshot.write(f"ServerName={server.ServerName}\n")
        snapshot.write(f"Windows NT Version={windows.WinNTVerMajor}.{windows.WinNTVerMinor}\n")
        snapshot.write("\n[Applications]\n")
        for app in applications:
            line = f"DistinguishedName={app.DistinguishedName}\n"
            line.encode("cp1252")  # a name the file cannot hold stops the run before the change
            app.RemoveServer(server.ServerName)
            app.SaveData()
            snapshot.write(line)
            snapshot.flush()
            print(f"{app.DistinguishedName}: withdrawn from {server.ServerName}")
        snapshot.write("\n\n")
    print(f"{len(applications)} applications withdrawn; braskadmin online "
          f"{server.ServerName} {args.snapshot} brings them back")


if __name__ == "__main__":
    main()
