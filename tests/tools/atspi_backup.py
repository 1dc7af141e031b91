#!/usr/bin/python3
"""Drives BackupRecordings as a screen reader would, over AT-SPI.

Usage: atspi_backup.py BACKUP_RECORDINGS

Runs inside an X server (DISPLAY) with RAVEK_REGISTRY pointing at an English installation whose
male voice has recordings. Starts the AT-SPI bus and the program, finds its controls by role and
name, presses the start button and reads the success text from the label described "Progress".
Exits 0 when all of it works; prints what went wrong otherwise.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_common import accessible_program, find, labelled_by, press, require_controls, wait_for, walk  # noqa: E402


def main():
    with accessible_program(sys.argv[1], "BackupRecordings") as app:
        # The English captions as the string table has them ("Srart" included).
        wait_for("the window's controls", lambda: find(app, "push button", "Srart"))
        require_controls(app, [("frame", "Pack Recordings Bundle"), ("push button", "Srart"), ("push button", "Close"),
                               ("push button", "Change ..."), ("radio button", "Tovel"), ("radio button", "Nevi"),
                               ("text", "Archive file"), ("list", "Log")])
        progress = find(app, "label", description="Progress")
        assert progress is not None, "no Progress label"
        press(find(app, "push button", "Srart"))
        wait_for("the success status",
                 lambda: progress.name.startswith("Compression completed successfully."), 30)
        print("AT-SPI: every control found; Start packed the recordings; status read: %r" % progress.name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
