#!/usr/bin/env python3
"""Writes a CSV of chosen settings of every application: one row per application, its
distinguished name first, then one column per setting named on the command line (default:
Description, DefaultEncryption, DefaultWindowColor, DefaultSoundType). A setting is read from
the application by name, whichever of its interfaces has it."""
import csv
import sys

import skyloom

DEFAULT = ["Description", "DefaultEncryption", "DefaultWindowColor", "DefaultSoundType"]


def main():
    parser = skyloom.ArgumentParser(description=__doc__)
    parser.add_argument("settings", nargs="*", default=DEFAULT, help="the settings, by name")
    parser.add_argument("--output", "-o", help="the CSV file (default: standard output)")
    args = parser.parse_args()
    farm = skyloom.farm()
    if args.output:
        with open(args.output, "w", newline="", encoding="utf-8") as f:
            write(f, farm, args.settings)
    else:
        write(sys.stdout, farm, args.settings)


def write(f, farm, settings):
    writer = csv.writer(f)
    writer.writerow(["DistinguishedName", *settings])
    for app in farm.Applications:
        writer.writerow([app.DistinguishedName, *(getattr(app, name) for name in settings)])


if __name__ == "__main__":
    main()
