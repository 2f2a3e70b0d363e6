#!/usr/bin/env python3
"""Lists every application of the farm with the servers it is published on, one per line:
"Applications/Office/Word: HQ-SRV01, HQ-SRV02"."""

import skyloom


def main():
    skyloom.ArgumentParser(description=__doc__).parse_args()
    farm = skyloom.farm()
    for app in farm.Applications:
        servers = sorted(server.ServerName for server in app.Servers)
        print(f"{app.DistinguishedName}: {', '.join(servers)}")


if __name__ == "__main__":
    main()
