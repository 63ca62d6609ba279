// RARUR Service: service and configuration tool for the RARUR controller.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "app/main_window.h"

namespace {

const char kUsage[] =
    "Использование: rarur-service [ПАРАМЕТР]...\n"
    "Сервисная программа контроллера RARUR: наблюдение за ЭПУ, журнал событий,\n"
    "тесты и разряды АБ, сервисные команды, чтение и запись настроек.\n"
    "\n"
    "  -L, --log      записывать в журнал программы каждый кадр обмена (HEX)\n"
    "      --help     показать эту справку и выйти\n"
    "      --version  показать версию и выйти\n"
    "\n"
    "Также принимаются стандартные параметры GTK+ (например, --display).\n";

const char kVersion[] =
    "rarur-service (RARUR Service) " RARUR_VERSION "\n";

}  // namespace

int main(int argc, char** argv)
{
    // The GNU options answer before any display is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(kVersion, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--") == 0)
            break;
    }
    gdk_threads_init();
    // The GUI thread holds the GDK lock except while the main loop waits.
    gdk_threads_enter();
    if (app_start(&argc, &argv))
        gtk_main();
    gdk_threads_leave();
    return 0;
}
