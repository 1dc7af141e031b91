#!/usr/bin/python3
"""Drives EngineTester as a screen reader would, over AT-SPI.

Usage: atspi_tester.py ENGINE_TESTER

Runs inside an X server (DISPLAY) with DBUS_SESSION_BUS_ADDRESS set to a bus that starts the
engine. Starts the AT-SPI bus and EngineTester, then: lists every control by role and name,
types a sentence into "Text", presses "Say" and reads "Speech Ended." from the label described
"Message", opens the voice count message box and closes it with its OK button. Exits 0 when all
of it works; prints what went wrong otherwise.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_common import accessible_program, find, labelled_by, press, require_controls, wait_for, walk  # noqa: E402


def main():
    with accessible_program(sys.argv[1], "EngineTester") as app:
        wait_for("the window's controls", lambda: find(app, "push button", "Say"))

        # Every control is there with its role and name (text boxes named by their labels).
        require_controls(app, [("frame", "Engine Tester"), ("push button", "Say"), ("push button", "Stop And Say"),
                               ("push button", "Get Number of Voices"), ("push button", "get Voice Name"),
                               ("push button", "SelectVoice"), ("push button", "Get Number of Words in selected voice"),
                               ("push button", "Create File with all works of selected voice"),
                               ("push button", "Analyze Dictionary File"), ("panel", "Voice selection"),
                               ("text", "Text"), ("text", "Log"), ("text", "Voice Number"), ("text", "Volume"),
                               ("label", "WordIndex"), ("label", "Voice Number"), ("label", "Volume"),
                               ("label", "Label2"), ("label", "Label4")])
        message = find(app, "label", description="Message")
        word_index = find(app, "label", description="WordIndex")
        assert message is not None and word_index is not None, "no Message or WordIndex label"
        wait_for("the engine to be ready", lambda: message.name.startswith("Ready to speech"), 30)

        # Type a sentence, press Say, hear the end of speech through the Message label.
        text = find(app, "text", "Text")
        text.queryEditableText().setTextContents("שלום עולם")
        press(find(app, "push button", "Say"))
        wait_for("a word index", lambda: word_index.name != "")
        wait_for('"Speech Ended."', lambda: message.name == "Speech Ended.", 30)

        # A message box is an ordinary accessible dialog with its text and an OK button.
        press(find(app, "push button", "Get Number of Voices"))

        def box():
            for node in walk(app):
                if node.getRoleName() in ("dialog", "alert") and find(node, "label", "Number of Voices 4"):
                    return node
            return None

        dialog = wait_for("the voice count message box", box)
        press(find(dialog, "push button", "OK"))
        wait_for("the message box to close", lambda: box() is None)
        print("AT-SPI: every control found; Say spoke and ended; the message box was read and closed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
