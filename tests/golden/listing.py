#!/usr/bin/env python3
"""A module's listing (gaugebench list --json) as a reviewed golden file.

Addresses move whenever any code or data of the module does, so they are
written as labels (@1, @2, ...) in order of first appearance: the golden file
still shows which records and routines two places share, and a change in the
records themselves, not in where the linker put them, is what differs.

  listing.py normalize <listing.json> <golden.json>   write the golden form
  listing.py compare <golden.json> <listing.json>     exit 1, with the first
                                                      differences, if they differ
"""
import difflib
import json
import os
import sys

# The fields that hold guest addresses (pointers to records, strings, code);
# besides them, <field>_address, the address of a string that cannot be read.
ADDRESSES = {
    "gauge", "next_element_list", "failure_records", "nonlinearity", "update_callback", "callback",
    "callback_x", "callback_y", "callback_rotation", "handler", "element_list", "query_routine",
    "install_routine", "initialize_routine", "update_routine", "generate_routine", "draw_routine",
    "kill_routine", "mouse_rects", "gauge_callback",
}


def normalize(listing):
    labels = {}

    def walk(value, key=None):
        if isinstance(value, dict):
            return {k: walk(v, k) for k, v in value.items()}
        if isinstance(value, list):
            return [walk(v, key) for v in value]
        is_address = key in ADDRESSES or (key or "").endswith("_address")
        if is_address and isinstance(value, int) and not isinstance(value, bool):
            return labels.setdefault(value, "@%d" % (len(labels) + 1))
        return value

    out = walk(listing)
    out["module"] = os.path.basename(out["module"])
    return json.dumps(out, indent=1, ensure_ascii=False) + "\n"


def main(argv):
    if len(argv) != 4 or argv[1] not in ("normalize", "compare"):
        sys.stderr.write(__doc__)
        return 2
    if argv[1] == "normalize":
        with open(argv[2], encoding="utf-8") as listing, open(argv[3], "w", encoding="utf-8") as golden:
            golden.write(normalize(json.load(listing)))
        return 0
    with open(argv[2], encoding="utf-8") as golden:
        want = golden.read()
    with open(argv[3], encoding="utf-8") as listing:
        have = normalize(json.load(listing))
    if want == have:
        return 0
    diff = difflib.unified_diff(want.splitlines(), have.splitlines(), argv[2], "the module's listing now", lineterm="")
    sys.stdout.write("\n".join(list(diff)[:80]) + "\n")
    sys.stdout.write("the records differ from %s: review the change, then write it with\n"
                     "  scripts/golden.sh\n" % argv[2])
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
