// RARUR Service: service and configuration tool for the RARUR controller.
#include <gtk/gtk.h>

#include "app/main_window.h"

int main(int argc, char** argv)
{
    gdk_threads_init();
    // The GUI thread holds the GDK lock except while the main loop waits.
    gdk_threads_enter();
    if (app_start(&argc, &argv))
        gtk_main();
    gdk_threads_leave();
    return 0;
}
