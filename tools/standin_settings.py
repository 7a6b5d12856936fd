"""The stand-in setup program's settings (tools/standin_setup.cpp): a file in the Wine prefix,
not its environment, which the installer builds from the machine's. One file per prefix, in a
folder the tests own, rewritten before each run."""

import os

FOLDER = "halvex-tests"
NAME = "standin-settings.txt"


def write_standin_settings(prefix, **settings):
    folder = os.path.join(prefix, "drive_c", FOLDER)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, NAME), "w", encoding="utf-8") as f:
        f.write("".join("%s=%s\n" % item for item in settings.items()))
