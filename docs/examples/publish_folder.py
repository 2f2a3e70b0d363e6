#!/usr/bin/env python3
"""Publishes every application of a folder (not of its subfolders) on a server, as BraskAdmin's
Publish does for each: an application already published there is left as it is."""
import sys

import skyloom

ALREADY_PUBLISHED = -2147220991  # 0x80040201, SKYLOOM_E_ALREADY_PUBLISHED


def main():
    parser = skyloom.ArgumentParser(description=__doc__)
    parser.add_argument("folder", help='the folder, as "Applications/Office"')
    parser.add_argument("server", help="the server, as the farm names it")
    args = parser.parse_args()
    c = skyloom.constants
    farm = skyloom.farm()
    folder = args.folder.rstrip("/")
    names = [app.DistinguishedName for app in farm.Applications]
    chosen = [dn for dn in names if dn.rsplit("/", 1)[0].lower() == folder.lower()]
    if not chosen:
        sys.exit(f"publish_folder: the folder {folder} holds no application")
    published = 0
    for dn in chosen:
        app = skyloom.Dispatch("SkyloomCOM.SkyloomApplication")
        app.Initialize(c.SkyloomWinAppObject, dn)
        app.LoadData(-1)
        binding = skyloom.Dispatch("SkyloomCOM.SkyloomAppSrvBinding")
        binding.Initialize(c.SkyloomWinSrvObject, args.server, "")
        try:
            app.AddServer(binding)
        except skyloom.ComError as e:
            if e.hresult != ALREADY_PUBLISHED:
                raise
            print(f"{dn}: already on {args.server}")
            continue
        app.SaveData()
        published += 1
        print(f"{dn}: published on {args.server}")
    print(f"{published} of {len(chosen)} applications published")


if __name__ == "__main__":
    main()
