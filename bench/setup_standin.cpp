// The setup program the benchmark serves: it exits at once, so the installer's whole process
// ends with the installer's own work. bench/run.sh pads it with random bytes to the size it
// serves; a PE image ignores data appended after its sections.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
