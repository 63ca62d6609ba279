// RARUR Service: service and configuration tool for the RARUR controller.
#include <gtk/gtk.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "base/app_state.h"

namespace {

int usage_error(const char* text)
{
    std::fprintf(stderr, "rarur-service: %s\nПодробнее: rarur-service --help\n", text);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // GLib's and GTK+'s texts (a wrong option, --help-gtk) in the user's
    // language; gtk_init would set the same locale.
    std::setlocale(LC_ALL, "");
    gboolean log = FALSE, version = FALSE;
    const GOptionEntry entries[] = {
        {"log", 'L', 0, G_OPTION_ARG_NONE, &log, "Записывать в журнал программы каждый кадр обмена (HEX)", nullptr},
        {"version", 0, 0, G_OPTION_ARG_NONE, &version, "Показать версию и выйти", nullptr},
        {}};
    GOptionContext* context = g_option_context_new(nullptr);
    g_option_context_set_summary(context, "Сервисная программа контроллера RARUR: наблюдение за ЭПУ, журнал событий,\n"
                                          "тесты и разряды АБ, сервисные команды, чтение и запись настроек.");
    g_option_context_add_main_entries(context, entries, nullptr);
    // GTK+'s own options (--display and the rest) are read here too, without
    // opening the display: --help, --version and a wrong option answer on a
    // machine with no X, and gtk_init then opens the display they named.
    g_option_context_add_group(context, gtk_get_option_group(FALSE));
    GError* error = nullptr;
    bool parsed = g_option_context_parse(context, &argc, &argv, &error);
    g_option_context_free(context);
    if (!parsed) {
        int status = usage_error(error->message);
        g_error_free(error);
        return status;
    }
    if (version) {
        std::fputs("rarur-service (RARUR Service) " RARUR_VERSION "\n", stdout);
        return 0;
    }
    if (argc > 1)
        return usage_error((std::string("лишний аргумент «") + argv[1] + "»").c_str());

    gdk_threads_init();
    // The GUI thread holds the GDK lock except while the main loop waits.
    gdk_threads_enter();
    bool started = app_start(&argc, &argv);
    if (started) {
        // Nothing is sent before the main loop runs, so no frame goes unlogged.
        if (log)
            app.log_frames = 1;
        gtk_main();
    }
    gdk_threads_leave();
    return started ? 0 : 1;
}
