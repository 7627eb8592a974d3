/* The demo set's own start-up program: it does nothing and ends at once. It exists so that the demo shows a
   publisher and a description that its version resource gives, as installed programs carry them. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)showCommand;
    return 0;
}
