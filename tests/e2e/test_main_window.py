"""The main window as a person sees and clicks it while a download is held on the server."""

import os
import unittest

from PIL import Image

from harness import (EBWEBVIEW, MAIN_CLASS, SOURCE, EndToEndTest, screenshot, standin_bytes, ui)

# A runnable, signed program padded after its image (before the signature) to 100 pieces of
# 8192 bytes, so a download held at a whole percentage is held at a piece boundary (Wine's
# WinHttpReadData fills the whole piece before it returns).
SETUP_SIZE = 100 * 8192
BAR_COLOUR = (117, 130, 225)
WHITE = (255, 255, 255)
GLYPH = (520, 10, 550, 40)
TEXT = (8, 276, 560, 300)
BAR = (0, 300, 560, 310)


def padded_setup():
    return standin_bytes(size=SETUP_SIZE)


class MainWindowTest(EndToEndTest):
    def held_download(self, server, fraction):
        server.route(EBWEBVIEW, body=padded_setup(), pause_at=fraction)

    def test_release_inside_the_glyph_closes_and_outside_does_not(self):
        # Each case: releases that must leave the window open, then one that closes it.
        cases = (
            ("top-left", [(519, 10), (520, 9)], (520, 10)),
            ("top-right", [(551, 10), (550, 9)], (550, 10)),
            ("bottom-left", [(519, 40), (520, 41)], (520, 40)),
            ("bottom-right", [(551, 40), (550, 41)], (550, 40)),
        )
        for corner, misses, hit in cases:
            with self.subTest(corner=corner):
                with self.vendor_server() as server:
                    self.held_download(server, 0.25)
                    with self.installer("glyph-" + corner) as run:
                        self.assertIsNotNone(run.window("visible"))
                        for x, y in misses:
                            run.release_at(x, y)
                        self.assert_stays_then_closes(
                            run, "a release outside the glyph closed the window", hit)

    def test_only_the_release_position_counts(self):
        with self.vendor_server() as server:
            self.held_download(server, 0.25)
            with self.installer("glyph-press-and-release") as run:
                self.assertIsNotNone(run.window("visible"))
                run.release_at(300, 150, press_at=(535, 25))
                self.assert_stays_then_closes(
                    run, "a press on the glyph released elsewhere closed the window", (535, 25),
                    press_at=(300, 150))

    def test_closing_during_the_download_ends_the_installer_and_leaves_nothing(self):
        with self.vendor_server() as server:
            self.held_download(server, 0.5)
            with self.installer("close-during-download") as run:
                self.assertTrue(ui("progress", "--class", MAIN_CLASS, "--at-least", 50,
                                   timeout=60)["ok"])
                self.assertTrue(os.path.exists(run.setup_path), "no partly written file")
                run.release_at(535, 25)
                self.assertEqual(run.wait_exit(30), 0, "the installer kept running")
            self.assertEqual(run.standin_runs(), [], "the partial setup program was started")
        # The part goes with the process: under C:\Windows\Temp, which a standard user cannot
        # even list, at most the clean room stays, empty.
        for room in run.new_rooms():
            self.assertEqual(os.listdir(room), [], "the partly written setup program stayed")

    def test_progress_is_shown_while_the_download_is_held(self):
        with self.vendor_server() as server:
            self.held_download(server, 0.4)
            with self.installer("progress", standin_seconds=0) as run:
                answer = ui("progress", "--class", MAIN_CLASS, "--at-least", 40, timeout=60)
                self.assertTrue(answer["ok"], answer)
                self.assertEqual((answer["pos"], answer["range"]), (40, [0, 100]))
                window = run.window("visible")
                self.assert_main_window_centred(window)
                run.settle()
                shot = screenshot(os.path.join(run.folder, "screen.png"))
                self.check_picture(shot, window["rect"][:2], filled=224)
                server.resume()
                self.assertEqual(run.wait_exit(60), 0)

    def check_picture(self, screen, origin, filled):
        picture = Image.open(os.path.join(SOURCE, "res", "background.bmp")).convert("RGB")

        def art(x, y):
            return picture.getpixel((x, y))

        def at(x, y):
            return screen.getpixel((origin[0] + x, origin[1] + y))

        def inside(x, y, rect):
            return rect[0] <= x < rect[2] and rect[1] <= y < rect[3]

        drawn = [(x, y) for x in range(0, 560, 7) for y in range(0, 300, 7)
                 if not inside(x, y, GLYPH) and not inside(x, y, TEXT)]
        same = sum(at(x, y) == art(x, y) for x, y in drawn)
        self.assertEqual(same, len(drawn), "the background picture is not drawn as it is")

        def white_in(rect):
            return sum(at(x, y) == WHITE and art(x, y) != WHITE
                       for x in range(rect[0], rect[2]) for y in range(rect[1], rect[3]))

        self.assertGreater(white_in(GLYPH), 4, "no white glyph")
        self.assertGreater(white_in((8, 276, 200, 300)), 30, "no white percentage text")

        # Inside the control's sunken edge: blocks of the bar colour with white gaps between
        # them up to the position, white after it.
        strip = [[at(x, y) for y in range(BAR[1] + 2, BAR[3] - 2)] for x in range(2, 558)]
        self.assertTrue(all(set(column) <= {BAR_COLOUR, WHITE} for column in strip),
                        "the bar holds colours other than its own and white")
        coloured = [BAR_COLOUR in column for column in strip]
        self.assertGreater(sum(coloured[:filled - 10]), 0.6 * (filled - 10),
                           "the filled share of the bar is not in the bar colour")
        self.assertFalse(any(coloured[filled + 10:]), "bar colour past the position")


if __name__ == "__main__":
    unittest.main()
