"""A whole editing session of the real editor under valgrind's memcheck.

Start, edit a switch, a number and a text, reset, load, edit again, find a
row, type a number, reset the row by its menu, save, exit: memcheck must report no error and no block definitely lost, apart
from the font library's own allocations (tests/valgrind.supp).
"""

import os
import re
import unittest

from editor_session import Editor, TITLE, image, values

HERE = os.path.dirname(os.path.abspath(__file__))


class MemcheckTest(unittest.TestCase):

    def test_editing_session_is_clean(self):
        e = Editor("memcheck", morvrc=image(values()))
        log = os.path.join(e.home, "memcheck.log")
        try:
            e.start(prefix=["valgrind", "--tool=memcheck", "--leak-check=full",
                            "--errors-for-leak-kinds=definite", "--error-exitcode=99",
                            "--num-callers=30", "--track-origins=yes",
                            "--suppressions=" + os.path.join(HERE, "valgrind.supp"),
                            "--log-file=" + log])
            e.window = e.wait_for(
                lambda: next((i for i, t in e.windows().items() if t == TITLE), None),
                "the main window", timeout=120)
            e.select_row(1)
            e.on()
            e.select_row(7)
            e.counter_up()
            e.select_row(26)
            e.set_text("checked text")
            e.reset_button()
            e.answer("Return")
            e.load_button()
            e.answer("Return")
            e.answer("Return")
            e.select_row(35)
            e.set_text("away now")
            # Found, given a typed number, then put back by the row's menu.
            e.key("ctrl+f")
            e.type_in_box("massimo")     # row 7's help text; the top line then
            e.double_click(50)
            e.type_in_box("30")
            e.row_menu(50)
            e.key("Return")
            e.wait_for(lambda: " : ResetRow()\n" in (Editor.run_log() or ""), "the row reset",
                       timeout=60)
            steps = Editor.run_log()
            for line in ("FindVariable()", "TypeNumber()", "textinput_NumericValueSelected()",
                         "RowMenu()"):
                self.assertTrue(" : %s\n" % line in steps, line)
            e.save_button()
            e.answer("Return")
            e.answer("Return")
            e.exit_button()
            status = e.wait_exit(timeout=120)
            with open(log) as f:
                report = f.read()
            self.assertEqual(0, status, report[-4000:])
            self.assertRegex(report, r"ERROR SUMMARY: 0 errors")
            self.assertRegex(report, r"definitely lost: 0 bytes in 0 blocks|no leaks are possible")
            self.assertIsNone(re.search(r"Invalid (read|write|free)|uninitialised|Mismatched", report))
            # The session did what it set out to do: only the edits after the
            # load survive it, and the save wrote them.
            self.assertEqual(image(values(psAwayPostfix="away now", iMaxCloneCount=20)), e.read_rc())
        finally:
            e.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
