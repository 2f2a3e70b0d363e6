#!/usr/bin/env python3
"""Finds the applications that are published on no server, one distinguished name per line."""

import skyloom


def main():
    skyloom.ArgumentParser(description=__doc__).parse_args()
    farm = skyloom.farm()
    for app in farm.Applications:
        if len(app.Servers) == 0:
            print(app.DistinguishedName)


if __name__ == "__main__":
    main()
