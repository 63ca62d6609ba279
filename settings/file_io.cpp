#include "settings/file_io.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <ctime>

#include "base/log.h"

std::string settings_file_now()
{
    char buf[32];
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

bool settings_file_save(const std::string& path, const std::string& text, std::string& message)
{
    GError* error = nullptr;
    if (g_file_set_contents_full(path.c_str(), text.data(), static_cast<gssize>(text.size()),
                                 G_FILE_SET_CONTENTS_CONSISTENT, 0600, &error))
        return true;
    message = "Не удалось сохранить настройки в файл «" + path + "»: " + (error ? error->message : "");
    if (error)
        g_error_free(error);
    return false;
}

bool settings_file_open(const std::string& path, SettingsFile& out, std::string& message)
{
    std::string refused = "Файл «" + path + "» не загружен.\n";
    GStatBuf st;
    if (g_stat(path.c_str(), &st) == 0 && st.st_size > static_cast<goffset>(kSettingsFileMaxSize)) {
        message = refused + "Файл не является файлом настроек: он больше 1 МиБ.";
        return false;
    }
    gchar* data = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(path.c_str(), &data, &size, &error)) {
        message = "Не удалось прочитать файл «" + path + "»: " + (error ? error->message : "");
        if (error)
            g_error_free(error);
        return false;
    }
    std::string why;
    int read = settings_file_read(data, size, out, why);
    g_free(data);
    if (read != 0) {
        message = refused + why;
        return false;
    }
    return true;
}

void settings_file_log_load(const std::string& path, const SettingsFile& file, const SettingsFileLoad& load)
{
    log_message(norm_text, "Настройки загружены из файла %s%s\n", path.c_str(),
                file.header.with_edits ? " (сохранены вместе с неприменёнными изменениями)" : "");
    for (const std::string& line : load.not_carried)
        log_message(err_text, "Не перенесено: %s\n", line.c_str());
    for (const SettingsLimited& limited : load.limited)
        log_message(norm_text, "Ограничено правилами подключенного Контроллера: %s\n", limited.name.c_str());
}

std::vector<SettingsChange> settings_review(const SettingsImage& device, const SettingsImage& edit)
{
    return settings_changes(device, settings_expected_after_write(device, edit));
}
