#include "cli/terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <glib.h>

#include "cli/session.h"
#include "link/connection.h"

namespace {

bool read_line(std::string* line)
{
    line->clear();
    int c;
    while ((c = std::getchar()) != EOF && c != '\n')
        line->push_back(static_cast<char>(c));
    return c != EOF || !line->empty();
}

// The window's entry takes six characters; a longer one would be cut and
// sent as some other password.
bool password_fits(const std::string& password)
{
    if (g_utf8_strlen(password.c_str(), -1) <= 6)
        return true;
    cli_error("Пароль мониторинга — не более 6 символов");
    return false;
}

}  // namespace

bool cli_stdin_is_terminal() { return isatty(STDIN_FILENO) != 0; }

bool cli_read_password(std::string* password)
{
    if (const char* given = std::getenv("RARUR_MONITORING_PASSWORD")) {
        *password = given;
        return password_fits(*password);
    }
    if (!cli_stdin_is_terminal()) {
        cli_error("Нужен пароль мониторинга: задайте RARUR_MONITORING_PASSWORD или запустите команду в терминале");
        return false;
    }
    std::fputs("Пароль мониторинга: ", stderr);
    std::fflush(stderr);
    termios saved{};
    bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        silent.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    bool got = read_line(password);
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!got || cli_interrupted()) {
        std::fputs("\n", stderr);
        cli_error("Пароль не введен");
        return false;
    }
    return password_fits(*password);
}

bool cli_confirm(const std::string& question)
{
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!read_line(&answer))
        return false;
    gchar* folded = g_utf8_casefold(g_strstrip(answer.data()), -1);
    std::string a = folded;
    g_free(folded);
    return a == "y" || a == "yes" || a == "д" || a == "да";
}

bool cli_use_password(const std::string& password)
{
    bool stored = cli_as_window([&] { return store_monitoring_password_text(password.c_str()) == 0; });
    if (!stored)
        cli_error("Пароль мониторинга может содержать только символы кодировки WINDOWS-1251");
    return stored;
}
