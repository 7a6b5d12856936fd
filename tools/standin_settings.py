"""The stand-in setup program's settings (tools/standin_setup.cpp): a file in the Wine prefix,
not its environment, which the installer builds from the machine's. One file per prefix, in a
folder the tests own, rewritten before each run."""

import os

FOLDER = "halvex-tests"
NAME = "standin-settings.ini"


def write_standin_settings(prefix, **settings):
    folder = os.path.join(prefix, "drive_c", FOLDER)
    os.makedirs(folder, exist_ok=True)
    # UTF-16 with a byte-order mark, which GetPrivateProfileStringW reads whatever the code page.
    with open(os.path.join(folder, NAME), "w", encoding="utf-16") as f:
        f.write("[standin]\n" + "".join("%s=%s\n" % item for item in settings.items()))
