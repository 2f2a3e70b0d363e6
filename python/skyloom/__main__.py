"""python3 -m skyloom: an interactive console on the machine's farm, with `farm` bound as
BraskAdmin binds it and the type library's constants at hand."""

import code
import sys

import skyloom


def main(argv=None):
    parser = skyloom.ArgumentParser(
        prog="python3 -m skyloom",
        description="An interactive Python console on the machine's Skyloom farm: `farm` is "
        "the farm object (SkyloomCOM.SkyloomFarm, bound with SkyloomWinFarmObject), the "
        "constants of the object model's enumerations are names of their own, and skyloom is "
        "imported.")
    parser.add_argument("-c", dest="command", metavar="COMMAND",
                        help="run COMMAND in the console's namespace instead of reading commands")
    args = parser.parse_args(argv)
    names = dict(vars(skyloom.constants))
    names["skyloom"] = skyloom
    try:
        names["farm"] = skyloom.farm()
    except skyloom.ComError as e:
        print(f"python3 -m skyloom: the farm of {skyloom.machine()} cannot be opened: {e}",
              file=sys.stderr)
        return 1
    if args.command is not None:
        exec(compile(args.command, "<command>", "exec"), names)  # noqa: S102 - the user's own
        return 0
    banner = (f"Skyloom farm \"{names['farm'].FarmName}\" on {skyloom.machine()}\n"
              "farm is the farm object; the constants are names of their own "
              "(SkyloomWinAppObject); help(farm) lists its members.")
    code.interact(banner=banner, local=names, exitmsg="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
