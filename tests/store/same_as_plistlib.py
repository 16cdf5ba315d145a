"""Compares two property-list files as plistlib reads them.

    same_as_plistlib.py NEW OLD [JSON_ENTRY]

Exits 0 when NEW holds the same value as OLD, with JSON_ENTRY (when given
and not empty) appended to OLD's "data" list first."""
import json
import plistlib
import sys

new = plistlib.load(open(sys.argv[1], 'rb'))
old = plistlib.load(open(sys.argv[2], 'rb'))
if len(sys.argv) > 3 and sys.argv[3]:
    old['data'].append(json.loads(sys.argv[3]))
if new != old:
    print('differs:\n', new, '\n', old)
    sys.exit(1)
