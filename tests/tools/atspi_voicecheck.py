#!/usr/bin/python3
"""Drives VoiceCheck as a screen reader would, over AT-SPI.

Usage: atspi_voicecheck.py VOICECHECK

Runs inside an X server (DISPLAY) and a session bus, with RAVEK_REGISTRY pointing at a Hebrew
installation. Starts the AT-SPI bus and VoiceCheck, then: finds every control by role and name
(the drop-downs and check boxes through the labels that name them), types 1 into the log level's
drop-down and presses Save. Exits 0 when all of it works; prints what went wrong otherwise. The
caller reads the saved value from the registry file.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_common import accessible_program, find, labelled_by, press, require_controls, wait_for, walk  # noqa: E402


def main():
    with accessible_program(sys.argv[1], "VoiceCheck", 60.0) as app:
        wait_for("the window's controls", lambda: find(app, "push button", "שמור"), 60)
        labelled = [("combo box", "רמת איסוף נתונים"), ("combo box", "אורך רצף מקסימלי"),
                    ("combo box", "השמעת מילים חסרות"), ("check box", "MP3 המרת קבצי"),
                    ("check box", "הקצאת משמות קצרים")]
        require_controls(app, [("frame", "Tolvin + - חלון בקרה"), ("push button", "שמור"), ("push button", "סגור"),
                               ("push button", "קובץ לוג"), ("menu item", "יותר פרטים"), ("menu item", "אודות"),
                               ("label", "רמת איסוף נתונים"), ("label", "אורך רצף מקסימלי"),
                               ("label", "השמעת מילים חסרות"), ("label", "סטטוס תקין"), ("label", "הקלטות בן-תקין"),
                               ("label", "הקלטות בת-תקין"), ("check box", "הקצאת משמות קצרים")],
                         [c for c in labelled if labelled_by(app, *c) is None])

        # A new log level typed into its drop-down, then Save.
        log_level = labelled_by(app, "combo box", "רמת איסוף נתונים")
        text = find(log_level, "text")
        assert text is not None, "the log level's drop-down has no text to edit"
        text.queryEditableText().setTextContents("1")
        wait_for("the new log level", lambda: text.queryText().getText(0, -1) == "1")
        press(find(app, "push button", "שמור"))
        registry = os.environ["RAVEK_REGISTRY"]

        def saved():
            with open(registry, "rb") as f:
                return b'"LogLevel"="1"' in f.read()

        wait_for("the log level in " + registry, saved, 60)
        print("AT-SPI: every control found by its name or label; the log level typed and saved")
    return 0


if __name__ == "__main__":
    sys.exit(main())
