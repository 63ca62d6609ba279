// rarur-cli settings save, diff and apply as a script runs them, against
// rarur-sim: the file, the review, the write and its check, and the refusals
// that must leave the Controller untouched.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "sim_process.h"

#if defined(RARUR_SIM_PATH) && defined(RARUR_CLI_PATH)
namespace {

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// The file with `key`'s value in [settings] replaced; "" when it has no such key.
std::string with_value(const std::string& text, const std::string& key, const std::string& value)
{
    std::regex line("(^|\n)" + std::regex_replace(key, std::regex("\\."), "\\.") + "=[^\n]*");
    if (!std::regex_search(text, line))
        return "";
    return std::regex_replace(text, line, "$1" + key + "=" + value, std::regex_constants::format_first_only);
}

// Writes of the settings body or of the settings command the simulator took.
int settings_writes(const SimProcess& sim)
{
    int n = 0;
    for (const std::string& line : sim.record_lines())
        if (line.find("fn=10 addr=3") != std::string::npos || line.find("fn=10 addr=4000") != std::string::npos)
            ++n;
    return n;
}

SimProcess* frozen_sim()
{
    SimOptions o;
    o.freeze = true;
    return new SimProcess(o);
}

struct CliSettings : ::testing::Test {
    std::unique_ptr<SimProcess> sim{frozen_sim()};
    std::string address, file;
    void SetUp() override
    {
        ASSERT_TRUE(sim->running()) << sim->log();
        address = "tcp:127.0.0.1:" + std::to_string(sim->port());
        file = sim->dir() + "/plant.rarur";
    }
    CliResult apply(const std::string& password, const std::string& path)
    {
        return run_cli({{"settings", "apply", "--yes", path, address}, {{"RARUR_MONITORING_PASSWORD", password}}, "", 0, ""});
    }
};

}  // namespace

TEST_F(CliSettings, SavedFileDiffsEqualAnEditedKeyIsReviewedWrittenAndVerified)
{
    CliResult saved = run_cli({"settings", "save", address, file});
    ASSERT_EQ(saved.exit_code, 0) << saved.err;
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string text = read_text(file);
    EXPECT_NE(text.find("contents=controller"), std::string::npos);
    EXPECT_EQ(text.find("password="), std::string::npos) << "no password without --with-passwords";
    std::string with_passwords = sim->dir() + "/passwords.rarur";
    ASSERT_EQ(run_cli({"settings", "save", "--with-passwords", address, with_passwords}).exit_code, 0);
    EXPECT_NE(read_text(with_passwords).find("\nmonitoring.password=123456\n"), std::string::npos);

    CliResult same = run_cli({"settings", "diff", file, address});
    EXPECT_EQ(same.exit_code, 0) << same.err;
    EXPECT_EQ(same.out, "Настройки не отличаются от настроек контроллера.\n");

    std::string edited = with_value(text, "main.comment", "ЩИТ-2");
    ASSERT_FALSE(edited.empty()) << text;
    std::string edited_file = sim->dir() + "/edited.rarur";
    write_text(edited_file, edited);
    CliResult differs = run_cli({"settings", "diff", edited_file, address});
    EXPECT_EQ(differs.exit_code, 1) << differs.err;
    // The title row, then exactly the one setting, tab-separated off a terminal.
    EXPECT_EQ(differs.out, "Настройка\tВ контроллере\tНовое значение\nКомментарий\tЭПУ-1\tЩИТ-2\n");

    sim->clear_record();
    CliResult written = apply("123456", edited_file);
    EXPECT_EQ(written.exit_code, 0) << written.err;
    EXPECT_NE(written.out.find("Комментарий\tЭПУ-1\tЩИТ-2\n"), std::string::npos) << written.out;
    EXPECT_NE(written.out.find("Настройки применены и проверены"), std::string::npos) << written.out;
    EXPECT_GT(settings_writes(*sim), 1);

    CliResult after = run_cli({"settings", "diff", edited_file, address});
    EXPECT_EQ(after.exit_code, 0) << after.out << after.err;
    // Nothing left to change: nothing is written, and it is said.
    sim->clear_record();
    CliResult again = apply("123456", edited_file);
    EXPECT_EQ(again.exit_code, 0) << again.err;
    EXPECT_NE(again.out.find("Ничего не записано"), std::string::npos) << again.out;
    EXPECT_EQ(settings_writes(*sim), 0);
}

// Another client changes the settings after the review was made: nothing is
// written, the changed setting is named, and the answer is no (exit 1).
TEST_F(CliSettings, SettingsChangedAfterTheReviewAreNotWrittenOverAndTheAnswerIsNo)
{
    ASSERT_EQ(run_cli({"settings", "save", address, file}).exit_code, 0);
    std::string edited_file = sim->dir() + "/edited.rarur";
    write_text(edited_file, with_value(read_text(file), "mains.low", "195.0"));
    ASSERT_EQ(sim->control("fault delay 100"), "ok");
    sim->clear_record();
    CliResult result;
    std::thread cli([&] { result = apply("123456", edited_file); });
    // The last request of the first settings read: the review holds 260.
    bool seen = wait_until(
        [&] {
            for (const std::string& line : sim->record_lines())
                if (line.find("fn=03 addr=02BC") != std::string::npos)
                    return true;
            return false;
        },
        30000);
    EXPECT_EQ(sim->control("settings write 582 250"), "ok");
    cli.join();
    ASSERT_TRUE(seen);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_NE(result.err.find("Верхний порог напряжения: было 260, стало 250"), std::string::npos) << result.err;
    EXPECT_EQ(settings_writes(*sim), 0);
}

// Bits of a word no setting of the page shows (the contactors' "по СК" word
// has four): a file's [raw] value for them is kept out of the write, said on
// standard error, and the Controller keeps its own.
TEST_F(CliSettings, AFilesBitsNoSettingShowsAreNeitherWrittenNorHidden)
{
    ASSERT_EQ(run_cli({"settings", "save", address, file}).exit_code, 0);
    std::string text = read_text(file);
    std::smatch line;
    ASSERT_TRUE(std::regex_search(text, line, std::regex("\nw0480=([0-9A-F ]+)\n"))) << text;
    std::string words = line[1];
    std::string held = words.substr(words.size() - 4);
    std::string raw = text.replace(line.position(1) + words.size() - 4, 4, "FFF0");
    std::string raw_file = sim->dir() + "/raw.rarur";
    write_text(raw_file, raw);

    CliResult diff = run_cli({"settings", "diff", raw_file, address});
    EXPECT_EQ(diff.exit_code, 0) << diff.out << diff.err;
    EXPECT_NE(diff.err.find("слово 495 = 0xFFF0"), std::string::npos) << diff.err;

    write_text(raw_file, with_value(raw, "mains.low", "190"));
    CliResult written = apply("123456", raw_file);
    EXPECT_EQ(written.exit_code, 0) << written.err;
    EXPECT_EQ(written.out.find("Слово"), std::string::npos) << written.out;
    std::string after = sim->dir() + "/after.rarur";
    ASSERT_EQ(run_cli({"settings", "save", address, after}).exit_code, 0);
    std::string saved = read_text(after);
    ASSERT_TRUE(std::regex_search(saved, line, std::regex("\nw0480=([0-9A-F ]+)\n")));
    EXPECT_EQ(std::string(line[1]).substr(words.size() - 4), held);
    EXPECT_NE(saved.find("\nmains.low=190\n"), std::string::npos);
}

TEST_F(CliSettings, AWrongPasswordIsNotAcceptedAndAScriptWithoutYesWritesNothing)
{
    ASSERT_EQ(run_cli({"settings", "save", address, file}).exit_code, 0);
    std::string edited_file = sim->dir() + "/edited.rarur";
    write_text(edited_file, with_value(read_text(file), "main.comment", "ЩИТ-2"));

    CliResult refused = apply("999999", edited_file);
    EXPECT_EQ(refused.exit_code, 1) << refused.err;
    EXPECT_NE(refused.err.find("Контроллер отклонил пароль мониторинга"), std::string::npos) << refused.err;
    EXPECT_EQ(run_cli({"settings", "diff", edited_file, address}).exit_code, 1) << "the Controller keeps its value";

    // Standard input is a pipe here: without --yes nothing is asked, read or sent.
    sim->clear_record();
    CliResult no_yes =
        run_cli({{"settings", "apply", edited_file, address}, {{"RARUR_MONITORING_PASSWORD", "123456"}}, "y\n", 0, ""});
    EXPECT_EQ(no_yes.exit_code, 2) << no_yes.err;
    EXPECT_NE(no_yes.err.find("--yes"), std::string::npos) << no_yes.err;
    EXPECT_EQ(settings_writes(*sim), 0);
    EXPECT_TRUE(sim->record_lines().empty());
}
#endif
