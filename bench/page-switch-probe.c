/* Presses a key through xdotool and waits until one screen pixel shows the page it brings:
   "read X Y" prints the pixel; "differ|match X Y KEY RGB" times the key until the pixel is no
   longer / again RGB and prints milliseconds (-1 after 10 s). */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static unsigned long pixel_at(Display* d, int x, int y)
{
    XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, 1, 1, AllPlanes, ZPixmap);
    unsigned long p = XGetPixel(image, 0, 0) & 0xFFFFFF;
    XDestroyImage(image);
    return p;
}

int main(int argc, char** argv)
{
    Display* d = XOpenDisplay(NULL);
    if (!d || argc < 4) return 2;
    const int x = atoi(argv[2]), y = atoi(argv[3]);
    if (strcmp(argv[1], "read") == 0) {
        printf("%06lx\n", pixel_at(d, x, y));
        return 0;
    }
    if (argc < 6) return 2;
    const int differ = strcmp(argv[1], "differ") == 0;
    const unsigned long ref = strtoul(argv[5], NULL, 16);
    char command[256];
    snprintf(command, sizeof command, "xdotool key %s", argv[4]);
    const double start = now_ms();
    if (system(command) != 0) return 2;
    for (;;) {
        const unsigned long p = pixel_at(d, x, y);
        if (differ ? p != ref : p == ref) break;
        if (now_ms() - start > 10000) {
            printf("-1\n");
            return 1;
        }
        struct timespec pause = {0, 2000000};
        nanosleep(&pause, NULL);
    }
    printf("%.0f\n", now_ms() - start);
    return 0;
}
