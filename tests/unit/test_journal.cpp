// The journal's pure core: a record's bytes to its list row, the read order
// and progress, the search of the list, and the exported workbook byte for
// byte, in the C and the Russian locale.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <glib.h>

#include "events/journal.h"
#include "events/journal_export.h"
#include "events/journal_filter.h"
#include "events/spreadsheet.h"

namespace {

std::array<uint8_t, kJournalRecordBytes> record_bytes(uint16_t presence, uint16_t descriptor, uint32_t time,
                                                      uint16_t kind, uint16_t code)
{
    return {uint8_t(presence >> 8), uint8_t(presence), uint8_t(descriptor >> 8), uint8_t(descriptor),
            uint8_t(time >> 24),    uint8_t(time >> 16), uint8_t(time >> 8),    uint8_t(time),
            uint8_t(kind >> 8),     uint8_t(kind),     uint8_t(code >> 8),      uint8_t(code)};
}

std::optional<JournalRow> row_of(const std::array<uint8_t, kJournalRecordBytes>& bytes, int16_t zone = 0,
                                 bool summer = false, int layout = 1, const CatalogueSettings& s = {})
{
    return journal_row(journal_record_decode(bytes), zone, summer, layout, s);
}

constexpr uint32_t k2024 = 1704067200;   // 01 Jan 2024 00:00:00 UTC

// Switches LC_ALL for one test; false when the system lacks the locale.
class Locale {
public:
    explicit Locale(const char* name)
    {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved_ = current ? current : "C";
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~Locale() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_;
};

std::string export_text(std::string_view site, uint32_t serial, const std::vector<JournalExportRow>& rows)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&buffer, &size);
    SpreadsheetWriter writer{stream, 0};
    journal_export_write(writer, site, serial, rows);
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    EXPECT_EQ(writer.error, 0);
    return text;
}

std::string crlf_lines(std::initializer_list<const char*> lines)
{
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

const std::vector<JournalExportRow> kThreeRows = {
    {5300, "Начало", "01 Jan 2024 03:00:00", "Отключен аппарат защиты нагрузки 'A&B <1>' (QH3)"},
    {5299, "", "31 Dec 2023 23:59:59", "Включение RARUR"},
    {17, "Завершение", "19 Jan 2038 03:14:07", "Авария фазы Ф2 сети"},
};

}  // namespace

TEST(JournalRecord, BytesBecomeTheRowOfTheListOrNothingForAnEmptySlot)
{
    auto row = row_of(record_bytes(0, 0x1234, k2024, 1, 512));
    ASSERT_TRUE(row);
    EXPECT_STREQ(row->icon, "gtk-go-forward");
    EXPECT_EQ(row->descriptor, 0x1234u);
    EXPECT_EQ(row->date, "01 Jan 2024 00:00:00");
    EXPECT_STREQ(row->kind_text, "Начало");
    EXPECT_EQ(row->code, 512u);
    EXPECT_EQ(row->event, "Включение RARUR");

    row = row_of(record_bytes(0, 1, k2024, 0, 37), 12, true);
    ASSERT_TRUE(row);
    EXPECT_STREQ(row->icon, "gtk-goto-last");
    EXPECT_STREQ(row->kind_text, "Завершение");
    EXPECT_EQ(row->date, "01 Jan 2024 04:00:00");   // +3 h zone, +1 h summer time
    EXPECT_EQ(row->event, "Отключен аппарат защиты нагрузки QH3");

    for (uint16_t kind : {2, 7, 0xFFFF}) {
        row = row_of(record_bytes(0, 1, k2024, kind, 1));
        ASSERT_TRUE(row);
        EXPECT_STREQ(row->icon, "gtk-harddisk");
        EXPECT_STREQ(row->kind_text, "");
        EXPECT_EQ(row->event, "Неизвестный статус: 1");
    }
    EXPECT_FALSE(row_of(record_bytes(0xFFFF, 1, k2024, 1, 512)));
    EXPECT_FALSE(row_of(record_bytes(1, 1, k2024, 1, 512)));
}

TEST(JournalRecord, TimeBeforeNineteenSeventyIsShownAsTheLastSecondOfThirtyTwoBits)
{
    // Time 0 in a zone 3 hours west of UTC.
    EXPECT_EQ(row_of(record_bytes(0, 1, 0, 2, 512), -12)->date, "19 Jan 2038 03:14:07");
    // The largest time in the most eastern zone does not wrap round to 1901.
    EXPECT_EQ(row_of(record_bytes(0, 1, 0xFFFFFFFF, 2, 512), 32767, true)->date, "14 Jan 2107 15:13:15");
}

TEST(JournalRead, StartsInsideTheRingAndGoesBackwardsRoundZero)
{
    EXPECT_EQ(journal_first_record(5), 5);
    EXPECT_EQ(journal_first_record(4096 + 5), 5);
    EXPECT_EQ(journal_first_record(0xFFFF), 4095);
    EXPECT_EQ(journal_previous_record(1), 0);
    EXPECT_EQ(journal_previous_record(0), 4095);
    EXPECT_EQ(journal_progress_text(100, 10.0), "5.0% [3:10]");
    EXPECT_EQ(journal_progress_text(2000, 31.0), "100.0% [0:00]");
    // Four time-outs in 14 s promise no two hours to go.
    EXPECT_EQ(journal_progress_text(4, 14.0, 2000, false), "0.2%, Контроллер не отвечает");
}

TEST(JournalRead, TenFailedRecordsInARowEndTheReadAsSilentKeepingWhatWasReadAndFewerGoOn)
{
    // Records 100..91 answer, then the Controller falls silent.
    auto controller = [](int answered_until, std::vector<int>& asked, std::vector<int>& rows, int& failures) {
        JournalReadControl c;
        c.read = [&asked, answered_until](uint16_t record, uint8_t*) {
            asked.push_back(record);
            return int(asked.size()) <= answered_until ? ModbusResult::Ok : ModbusResult::NoLink;
        };
        c.go_on = [] { return true; };
        c.failed = [&failures](int, uint16_t) { ++failures; };
        c.step = [&rows](int done, uint16_t, const uint8_t* bytes) {
            if (bytes)
                rows.push_back(done);
        };
        return c;
    };
    std::vector<int> asked, rows;
    int failures = 0;
    JournalReadResult silent = journal_read_records(100, controller(10, asked, rows, failures));
    EXPECT_EQ(silent.end, JournalReadEnd::Silent);
    EXPECT_EQ(silent.done, 20);
    EXPECT_EQ(asked.size(), 20u);
    EXPECT_EQ(rows.size(), 10u);
    EXPECT_EQ(failures, 10);
    EXPECT_STREQ(journal_end_text(silent, false).text, "Контроллер не отвечает: чтение журнала событий остановлено\n");
    EXPECT_TRUE(journal_end_text(silent, false).error);

    // Nine failures in a row and an answer: the count starts again.
    std::vector<int> asked2, rows2;
    int failures2 = 0;
    JournalReadControl c = controller(0, asked2, rows2, failures2);
    c.read = [&asked2](uint16_t record, uint8_t*) {
        asked2.push_back(record);
        return asked2.size() % 10 == 0 ? ModbusResult::Ok : ModbusResult::Exception;
    };
    JournalReadResult patchy = journal_read_records(5, c);
    EXPECT_EQ(patchy.end, JournalReadEnd::Complete);
    EXPECT_EQ(patchy.done, kJournalReadCount);
    EXPECT_EQ(rows2.size(), size_t(kJournalReadCount / 10));
    EXPECT_EQ(asked2[6], 4095);
    EXPECT_STREQ(journal_end_text(patchy, false).text, "Журнал событий прочитан с ошибками\n");
    EXPECT_STREQ(journal_end_text(patchy, true).text, "Журнал событий прочитан с ошибками\n");

    // The stop button before the first record: nothing asked, said as cancelled.
    std::vector<int> asked3, rows3;
    int failures3 = 0;
    JournalReadControl stopped = controller(2000, asked3, rows3, failures3);
    stopped.go_on = [] { return false; };
    JournalReadResult none = journal_read_records(5, stopped);
    EXPECT_EQ(none.end, JournalReadEnd::Stopped);
    EXPECT_TRUE(asked3.empty());
    EXPECT_STREQ(journal_end_text(none, true).text, "Чтение журнала событий отменено пользователем\n");
    EXPECT_STREQ(journal_end_text(none, false).text, "Журнал событий прочитан с ошибками\n");
}

TEST(JournalSearch, ARowStaysInViewWhenEveryWordTypedIsInOneOfItsTextsInAnyCase)
{
    const JournalSearchKey qh3 =
        journal_search_key("Начало", "01 янв 2001 15:00:00", "Отключен аппарат защиты нагрузки 'Сервер' (QH3)");
    auto shown = [](const JournalSearchKey& key, const char* typed, JournalKind kind = JournalKind::All) {
        return journal_filter_matches(journal_filter(typed, kind), key);
    };
    EXPECT_TRUE(shown(qh3, "qh3"));
    EXPECT_TRUE(shown(qh3, "  СЕРВЕР\tqh3 "));            // any order, any case, any blanks
    EXPECT_TRUE(shown(qh3, "начало ЯНВ 15:00"));          // the kind and the date are searched too
    EXPECT_FALSE(shown(qh3, "qh3 склад"));                // every word, not any
    EXPECT_FALSE(shown(qh3, "15:00:00отключен"));         // no word runs from one text into the next
    EXPECT_FALSE(shown(qh3, "завершение"));
    // "ё" and "е" find each other, as a user types either.
    const JournalSearchKey capacity = journal_search_key("", "02 Jan 2001 00:00:00", "Ёмкость АБ ниже нормы");
    EXPECT_TRUE(shown(capacity, "емкость"));
    EXPECT_TRUE(shown(capacity, "ЁМКОСТЬ аб"));
    EXPECT_TRUE(shown(journal_search_key("", "", "Емкость"), "ёмкость"));
    // A device named in either keyboard layout: Latin "T2" finds Cyrillic
    // «Т2» and the other way round, a look-alike in the middle of a word too.
    const JournalSearchKey t2 = journal_search_key("", "", "Обрыв датчика температуры Т2 'Шкаф ЕРС'");
    EXPECT_TRUE(shown(t2, "T2"));
    EXPECT_TRUE(shown(t2, "EPC"));
    EXPECT_TRUE(shown(t2, "шкаф"));
    EXPECT_TRUE(shown(qh3, "QН3"));   // its "Н" Cyrillic
    EXPECT_FALSE(shown(t2, "T3"));

    // The kind comes from the row's kind text: empty is a service event.
    EXPECT_EQ(qh3.kind, JournalKind::Beginning);
    EXPECT_EQ(journal_search_key("Завершение", "", "").kind, JournalKind::End);
    EXPECT_EQ(capacity.kind, JournalKind::Service);
    EXPECT_TRUE(shown(qh3, "", JournalKind::Beginning));
    EXPECT_FALSE(shown(qh3, "", JournalKind::End));
    EXPECT_FALSE(shown(qh3, "", JournalKind::Service));
    EXPECT_TRUE(shown(capacity, "аб", JournalKind::Service));
    EXPECT_FALSE(shown(capacity, "qh3", JournalKind::Service));

    // Nothing typed and every kind: no filter, and nothing said of one.
    JournalFilter none = journal_filter(" \t ", JournalKind::All);
    EXPECT_FALSE(none.active());
    EXPECT_TRUE(journal_filter_matches(none, qh3));
    EXPECT_EQ(journal_filter_count_text(none, 10, 10), "");
    EXPECT_TRUE(journal_filter("", JournalKind::End).active());
    EXPECT_EQ(journal_filter_count_text(journal_filter("qh3", JournalKind::All), 3, 1843), "Показано 3 из 1843");
    // Bytes that are no UTF-8 are still searched, by their ASCII letters.
    EXPECT_TRUE(shown(journal_search_key("", "", "\xff\xfeQH3"), "qh3"));
    EXPECT_TRUE(journal_filter("\xff\xfe", JournalKind::All).active());
}

TEST(JournalExport, ThreeRowsGiveTheWorkbookByteForByteWithInsertedTextsEscaped)
{
    // Site name as the Controller may hold it: markup characters, Cyrillic
    // and control bytes that XML 1.0 cannot carry or a spreadsheet shows as boxes.
    std::string text = export_text("A&B <\"ЭПУ\">\x01\x7F", 100123, kThreeRows);
    std::string expected = crlf_lines({
        "<?xml version=\"1.0\"?>",
        "<?mso-application progid=\"Excel.Sheet\"?>",
        "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" ",
        "xmlns:o=\"urn:schemas-microsoft-com:office:office\"",
        "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"",
        "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"",
        "xmlns:html=\"http://www.w3.org/TR/REC-html40\">",
        "<DocumentProperties xmlns=\"urn:schemas-microsoft-com:office:office\">",
        "<Author>RARUR Service Program</Author>",
        "<LastAuthor>RARUR Service Program</LastAuthor>",
        "</DocumentProperties>",
        "<Styles>",
        "<Style ss:ID=\"Default\" ss:Name=\"Normal\">",
        "<Alignment ss:Vertical=\"Bottom\" ss:Horizontal=\"Left\"/>",
        "<Borders/>",
        "<Font ss:FontName=\"Arial\" x:CharSet=\"204\" x:Family=\"Swiss\" ss:Size=\"11\" ss:Color=\"#000000\"/>",
        "<Interior/>",
        "<NumberFormat/>",
        "<Protection/>",
        "</Style>",
        "<Style ss:ID=\"RARUR_sn\">",
        "<Alignment ss:Vertical=\"Bottom\" ss:Horizontal=\"Center\"/>",
        "<Borders/>",
        "<Font ss:FontName=\"Arial\" ss:Italic=\"1\" ss:Size=\"11\"/>",
        "<Interior/>",
        "<NumberFormat/>",
        "<Protection/>",
        "</Style>",
        "<Style ss:ID=\"RARUR_head\">",
        "<Alignment ss:Vertical=\"Bottom\" ss:Horizontal=\"Center\"/>",
        "<Borders/>",
        "<Font ss:FontName=\"Arial\" ss:Bold=\"1\" ss:Size=\"24\"/>",
        "<Interior/>",
        "<NumberFormat/>",
        "<Protection/>",
        "</Style>",
        "<Style ss:ID=\"RARUR_tbl_head\">",
        "<Alignment ss:Vertical=\"Center\" ss:Horizontal=\"Center\" ss:WrapText=\"1\"/>",
        "<Borders/>",
        "<Font ss:FontName=\"Arial\" ss:Bold=\"1\" ss:Size=\"11\"/>",
        "<Interior/>",
        "<NumberFormat/>",
        "<Protection/>",
        "</Style>",
        "<Style ss:ID=\"RARUR_tbl_val_event\">",
        "<Alignment ss:Vertical=\"Center\" ss:Horizontal=\"Left\" ss:WrapText=\"1\"/>",
        "<Borders/>",
        "<Font ss:FontName=\"Arial\" ss:Size=\"11\"/>",
        "<Interior/>",
        "<NumberFormat ss:Format=\"0.00\"/>",
        "<Protection/>",
        "</Style>",
        "<Style ss:ID=\"RARUR_tbl_val_date\">",
        "<Alignment ss:Vertical=\"Center\" ss:Horizontal=\"Center\" ss:WrapText=\"1\"/>",
        "<Borders/>",
        "<Font ss:FontName=\"Arial\" ss:Size=\"11\"/>",
        "<Interior/>",
        "<NumberFormat ss:Format=\"0.0\"/>",
        "<Protection/>",
        "</Style>",
        "<Style ss:ID=\"RARUR_tbl_val_0\">",
        "<Alignment ss:Vertical=\"Center\" ss:Horizontal=\"Center\" ss:WrapText=\"1\"/>",
        "<Borders/>",
        "<Font ss:FontName=\"Arial\" ss:Size=\"11\"/>",
        "<Interior/>",
        "<NumberFormat ss:Format=\"0\"/>",
        "<Protection/>",
        "</Style>",
        "<Style ss:ID=\"RARUR_bold\">",
        "<Alignment ss:Vertical=\"Bottom\" ss:Horizontal=\"Right\"/>",
        "<Borders/>",
        "<Font ss:FontName=\"Arial\" ss:Bold=\"1\" ss:Size=\"11\"/>",
        "<Interior/>",
        "<NumberFormat/>",
        "<Protection/>",
        "</Style>",
        "</Styles>",
        "<Worksheet ss:Name=\"Журнал событий\">",
        "<Table ss:ExpandedColumnCount=\"5\" ss:ExpandedRowCount=\"7\" x:FullColumns=\"1\" x:FullRows=\"1\">",
        "<Column ss:Width=\"40\"/>",
        "<Column ss:Width=\"50\"/>",
        "<Column ss:Width=\"90\"/>",
        "<Column ss:Width=\"140\"/>",
        "<Column ss:Width=\"600\"/>",
        "<Row ss:AutoFitHeight=\"1\"><Cell ss:MergeAcross=\"4\" ss:StyleID=\"RARUR_head\"><Data ss:Type=\"String\">"
        "RARUR 'A&amp;B &lt;&quot;ЭПУ&quot;&gt;'</Data></Cell></Row>",
        "<Row ss:AutoFitHeight=\"1\"><Cell ss:MergeAcross=\"4\" ss:StyleID=\"RARUR_sn\"><Data ss:Type=\"String\">"
        "Серийный номер: 100123</Data></Cell></Row>",
        "<Row></Row>",
        "<Row ss:AutoFitHeight=\"1\">",
        "<Cell ss:StyleID=\"RARUR_tbl_head\"><Data ss:Type=\"String\">№</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_head\"><Data ss:Type=\"String\">Д</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_head\"><Data ss:Type=\"String\">Тип</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_head\"><Data ss:Type=\"String\">Дата</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_head\"><Data ss:Type=\"String\">Описание</Data></Cell>",
        "</Row>",
        "<Row>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"Number\">1</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"Number\">5300</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"String\">Начало</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_date\"><Data ss:Type=\"String\">01 Jan 2024 03:00:00</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_event\"><Data ss:Type=\"String\">"
        "Отключен аппарат защиты нагрузки 'A&amp;B &lt;1&gt;' (QH3)</Data></Cell>",
        "</Row>",
        "<Row>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"Number\">2</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"Number\">5299</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"String\"></Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_date\"><Data ss:Type=\"String\">31 Dec 2023 23:59:59</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_event\"><Data ss:Type=\"String\">Включение RARUR</Data></Cell>",
        "</Row>",
        "<Row>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"Number\">3</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"Number\">17</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"String\">Завершение</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_date\"><Data ss:Type=\"String\">19 Jan 2038 03:14:07</Data></Cell>",
        "<Cell ss:StyleID=\"RARUR_tbl_val_event\"><Data ss:Type=\"String\">Авария фазы Ф2 сети</Data></Cell>",
        "</Row>",
        "</Table>",
        "</Worksheet>",
        "</Workbook>",
    });
    EXPECT_EQ(text, expected);
    EXPECT_NE(export_text("", 0, {}).find("<Data ss:Type=\"String\">RARUR</Data>"), std::string::npos);
    EXPECT_EQ(journal_export_file_name(100123), "J_100123.xml");
}

TEST(JournalExport, RussianLocaleShowsRussianDatesAndWritesTheSameFile)
{
    std::string c_text = export_text("ЭПУ-1", 4000000000u, kThreeRows);
    Locale ru("ru_RU.UTF-8");
    if (!ru.ok())
        GTEST_SKIP() << "ru_RU.UTF-8 is not installed (locale-gen ru_RU.UTF-8)";
    EXPECT_EQ(export_text("ЭПУ-1", 4000000000u, kThreeRows), c_text);
    EXPECT_NE(c_text.find("Серийный номер: 4000000000<"), std::string::npos);
    // 08 Dec 2026 12:00:00 UTC
    std::string date = row_of(record_bytes(0, 1, 1796731200u, 2, 512))->date;
    EXPECT_TRUE(g_utf8_validate(date.c_str(), -1, nullptr)) << date;
    EXPECT_EQ(date, "08 дек 2026 12:00:00");
    EXPECT_EQ(spreadsheet_decimal(12345, 3), "12.345");
    EXPECT_EQ(spreadsheet_decimal(-15, 1), "-1.5");
    EXPECT_EQ(spreadsheet_decimal(-5, 1), "-0.5");
    EXPECT_EQ(spreadsheet_decimal(5300, 2), "53.00");
}

TEST(SpreadsheetFile, AFailedWriteLeavesTheUsersFileAsItWasAndNothingBeside)
{
    gchar* dir = g_dir_make_tmp("spreadsheet-XXXXXX", nullptr);
    ASSERT_TRUE(dir);
    std::string path = std::string(dir) + "/J_1.xml";
    { std::ofstream(path) << "the user's own file"; }

    // A file-size limit makes the disk refuse the export part-way.
    std::vector<JournalExportRow> rows(400, kThreeRows[0]);
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16384;
    setrlimit(RLIMIT_FSIZE, &small);
    SpreadsheetFile file;
    ASSERT_EQ(spreadsheet_create(path.c_str(), file), 0);
    journal_export_write(file.writer, "ЭПУ", 1, rows);
    int error = spreadsheet_close(file);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(error, EFBIG);

    std::stringstream kept;
    kept << std::ifstream(path).rdbuf();
    EXPECT_EQ(kept.str(), "the user's own file");
    GDir* listing = g_dir_open(dir, 0, nullptr);
    int files = 0;
    while (g_dir_read_name(listing))
        ++files;
    g_dir_close(listing);
    EXPECT_EQ(files, 1);

    // Without the limit the same export takes the user's place and the
    // file's permissions.
    chmod(path.c_str(), 0640);
    ASSERT_EQ(spreadsheet_create(path.c_str(), file), 0);
    journal_export_write(file.writer, "ЭПУ", 1, rows);
    EXPECT_EQ(spreadsheet_close(file), 0);
    struct stat st {};
    stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_GT(st.st_size, 16384);
    EXPECT_EQ(spreadsheet_create((std::string(dir) + "/no/such/folder.xml").c_str(), file), ENOENT);
    // A new file is the user's document: its mode is what his umask gives,
    // not the owner-only one of the temporary file it was written as.
    std::string fresh = std::string(dir) + "/P_1.xml";
    for (auto [mask, mode] : {std::pair{022u, 0644u}, std::pair{027u, 0640u}}) {
        mode_t saved_mask = umask(mask);
        ASSERT_EQ(spreadsheet_create(fresh.c_str(), file), 0);
        journal_export_write(file.writer, "", 0, kThreeRows);
        EXPECT_EQ(spreadsheet_close(file), 0);
        umask(saved_mask);
        ASSERT_EQ(stat(fresh.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode) << std::oct << "umask " << mask;
        unlink(fresh.c_str());
    }
    // A full disk is reported at the latest by the close; a device stays a device.
    ASSERT_EQ(spreadsheet_create("/dev/full", file), 0);
    journal_export_write(file.writer, "", 0, kThreeRows);
    EXPECT_EQ(spreadsheet_close(file), ENOSPC);
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    unlink(path.c_str());
    rmdir(dir);
    g_free(dir);
}

TEST(SpreadsheetFile, AFileTheUserMayWriteInAFolderHeMayNotIsWrittenInPlace)
{
    gchar* dir = g_dir_make_tmp("spreadsheet-XXXXXX", nullptr);
    ASSERT_TRUE(dir);
    std::string path = std::string(dir) + "/J_1.xml";
    { std::ofstream(path) << "the user's own file, longer than nothing at all"; }
    // Root may write anywhere: the export then runs as nobody, who may write
    // the file but not the folder it is in.
    bool root = geteuid() == 0;
    const uid_t nobody = 65534;
    ASSERT_EQ(chmod(dir, root ? 0755 : 0555), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && (setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(10);
        // A temporary folder inside one closed to others cannot be reached at all.
        if (access(path.c_str(), W_OK) != 0)
            _exit(13);
        SpreadsheetFile file;
        if (spreadsheet_create(path.c_str(), file) != 0)
            _exit(11);
        journal_export_write(file.writer, "ЭПУ", 1, kThreeRows);
        _exit(spreadsheet_close(file) == 0 ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(dir, 0700);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 13) {
        unlink(path.c_str());
        rmdir(dir);
        g_free(dir);
        GTEST_SKIP() << "the temporary folder is out of an unprivileged user's reach";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no unprivileged user, 11: not created, 12: not written";

    std::stringstream written;
    written << std::ifstream(path).rdbuf();
    EXPECT_EQ(written.str(), export_text("ЭПУ", 1, kThreeRows));
    GDir* listing = g_dir_open(dir, 0, nullptr);
    int files = 0;
    while (g_dir_read_name(listing))
        ++files;
    g_dir_close(listing);
    EXPECT_EQ(files, 1);

    unlink(path.c_str());
    rmdir(dir);
    g_free(dir);
}
